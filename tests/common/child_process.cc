#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace testutil {

using Clock = std::chrono::steady_clock;

void ChildProcess::Start(const std::vector<std::string>& args, int outFd, int errFd) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(outFd, 1);
    ::dup2(errFd, 2);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
}

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::string& outputBase)
    : outputBase_(outputBase) {
  const int out = ::open((outputBase + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int err = ::open((outputBase + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out >= 0 && err >= 0) Start(args, out, err);
  if (out >= 0) ::close(out);
  if (err >= 0) ::close(err);
}

std::string ChildProcess::ReadOutputFile(const char* suffix) {
  std::string text;
  const int fd = ::open((outputBase_ + suffix).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buf[8192];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) text.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return text;
}

ChildProcess::ChildProcess(const std::vector<std::string>& args) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return;
  }
  Start(args, out[1], err[1]);
  ::close(out[1]);
  ::close(err[1]);
  if (pid_ < 0) {
    ::close(out[0]);
    ::close(err[0]);
    return;
  }
  open_ = 2;
  outReader_ = std::thread(&ChildProcess::Reader, this, out[0], &out_);
  errReader_ = std::thread(&ChildProcess::Reader, this, err[0], &err_);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && status_ == -2) {
    ::kill(pid_, SIGKILL);
    Reap(std::chrono::seconds(10));
  }
  if (outReader_.joinable()) outReader_.join();
  if (errReader_.joinable()) errReader_.join();
}

void ChildProcess::Reader(int fd, std::string* into) {
  char buf[8192];
  while (true) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    std::lock_guard<std::mutex> g(m_);
    if (n <= 0) {
      --open_;
      cv_.notify_all();
      break;
    }
    into->append(buf, static_cast<size_t>(n));
    cv_.notify_all();
  }
  ::close(fd);
}

bool ChildProcess::WaitFor(const std::function<bool(const std::string&, const std::string&)>& pred,
                           std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> l(m_);
  return cv_.wait_for(l, bound, [&] { return pred(out_, err_) || open_ == 0; }) && pred(out_, err_);
}

std::string ChildProcess::WaitForLine(const std::string& text, size_t* scanned,
                                      const std::function<bool(const std::string&)>& match,
                                      std::chrono::milliseconds bound) {
  std::string found;
  bool have = false;
  auto look = [&] {
    size_t end;
    while (!have && (end = text.find('\n', *scanned)) != std::string::npos) {
      std::string line = text.substr(*scanned, end - *scanned);
      *scanned = end + 1;
      if (match(line)) {
        found = std::move(line);
        have = true;
      }
    }
    return have;
  };
  std::unique_lock<std::mutex> l(m_);
  cv_.wait_for(l, bound, [&] { return look() || open_ == 0; });
  return found;
}

std::string ChildProcess::WaitForErrLine(const std::string& prefix, std::chrono::milliseconds bound) {
  return WaitForLine(err_, &errScanned_, [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }, bound);
}

std::string ChildProcess::WaitForOutLineWith(const std::string& text, std::chrono::milliseconds bound) {
  return WaitForLine(out_, &outScanned_, [&](const std::string& line) { return line.find(text) != std::string::npos; },
                     bound);
}

bool ChildProcess::WaitForOutLine(const std::string& prefix, std::chrono::milliseconds bound) {
  return WaitFor(
      [&](const std::string& out, const std::string&) {
        return out.rfind(prefix, 0) == 0 || out.find("\n" + prefix) != std::string::npos;
      },
      bound);
}

int ChildProcess::Reap(std::chrono::milliseconds bound) {
  const auto deadline = Clock::now() + bound;
  while (true) {
    int st = 0;
    const pid_t r = ::waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      // What the child wrote last may still be on its way to the readers.
      std::unique_lock<std::mutex> l(m_);
      cv_.wait_until(l, deadline, [&] { return open_ == 0; });
      return status_;
    }
    if (r < 0) return status_ = -1;
    if (Clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &st, 0);
      return status_ = -1;
    }
    // The child's end closes its outputs: wait for that first; then only
    // the exit itself is left to see.
    std::unique_lock<std::mutex> l(m_);
    if (open_ > 0) {
      cv_.wait_for(l, std::chrono::milliseconds(20), [&] { return open_ == 0; });
    } else {
      l.unlock();
      ::usleep(1000);
    }
  }
}

int ChildProcess::Stop(int sig, std::chrono::milliseconds bound) {
  if (pid_ <= 0) return -1;
  if (status_ != -2) return status_;
  ::kill(pid_, sig);
  return Reap(bound);
}

void ChildProcess::Signal(int sig) {
  if (pid_ > 0 && status_ == -2) ::kill(pid_, sig);
}

int ChildProcess::Wait(std::chrono::milliseconds bound) {
  if (pid_ <= 0) return -1;
  if (status_ != -2) return status_;
  return Reap(bound);
}

std::string ChildProcess::Out() {
  if (!outputBase_.empty()) return ReadOutputFile(".out");
  std::lock_guard<std::mutex> g(m_);
  return out_;
}

std::string ChildProcess::Err() {
  if (!outputBase_.empty()) return ReadOutputFile(".err");
  std::lock_guard<std::mutex> g(m_);
  return err_;
}


}  // namespace testutil
