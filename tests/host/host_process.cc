#include "host_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace testhost {

namespace {

using Clock = std::chrono::steady_clock;

void ReadSome(int* fd, std::string* into) {
  if (*fd < 0) return;
  char buf[4096];
  ssize_t n = ::read(*fd, buf, sizeof buf);
  if (n > 0) into->append(buf, static_cast<size_t>(n));
  else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
    ::close(*fd);
    *fd = -1;
  }
}

}  // namespace

HostProcess::HostProcess(const std::vector<std::string>& args) {
  int out[2], err[2];
  if (::pipe(out) != 0) return;
  if (::pipe(err) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return;
  }
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(out[1]);
    ::close(err[0]);
    ::close(err[1]);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  outFd_ = out[0];
  errFd_ = err[0];
  ::fcntl(outFd_, F_SETFL, O_NONBLOCK);
  ::fcntl(errFd_, F_SETFL, O_NONBLOCK);
}

HostProcess::~HostProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (outFd_ >= 0) ::close(outFd_);
  if (errFd_ >= 0) ::close(errFd_);
}

bool HostProcess::Pump(int ms) {
  pollfd fds[2];
  nfds_t n = 0;
  if (outFd_ >= 0) fds[n++] = pollfd{outFd_, POLLIN, 0};
  if (errFd_ >= 0) fds[n++] = pollfd{errFd_, POLLIN, 0};
  if (n == 0) return false;
  if (::poll(fds, n, ms) > 0) {
    ReadSome(&outFd_, &out_);
    ReadSome(&errFd_, &err_);
  }
  return outFd_ >= 0 || errFd_ >= 0;
}

std::string HostProcess::WaitForErrLine(const std::string& prefix, std::chrono::milliseconds bound) {
  const auto until = Clock::now() + bound;
  while (true) {
    size_t end;
    while ((end = err_.find('\n', errScanned_)) != std::string::npos) {
      std::string line = err_.substr(errScanned_, end - errScanned_);
      errScanned_ = end + 1;
      if (line.compare(0, prefix.size(), prefix) == 0) return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0 || !Pump(static_cast<int>(left))) return {};
  }
}

int HostProcess::Wait(std::chrono::milliseconds bound) {
  const auto until = Clock::now() + bound;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0) break;
    if (!Pump(static_cast<int>(left))) break;
  }
  if (pid_ <= 0) return -1;
  // Both outputs closed: the child is ending.  Its pidfd tells when it has
  // (where the kernel has none, the child is reaped once the bound passed).
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
  int status = 0;
  pid_t r;
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(left > 0 ? left : 0));
    ::close(pidfd);
    r = ::waitpid(pid_, &status, WNOHANG);
  } else {
    r = ::waitpid(pid_, &status, 0);
  }
  if (r != pid_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return -1;
  }
  pid_ = -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

void HostProcess::Signal(int sig) {
  if (pid_ > 0) ::kill(pid_, sig);
}


}  // namespace testhost
