// Files, folders and the named inter-process lock on POSIX.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/port.h"

namespace port {

char PathSeparator() { return '/'; }

std::string GetEnv(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

bool ReadFile(const std::string& path, std::string* contents, size_t maxBytes) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      (st.st_size > 0 && static_cast<uintmax_t>(st.st_size) > maxBytes)) {
    ::close(fd);
    return false;
  }
  std::string data;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || static_cast<size_t>(n) > maxBytes - data.size()) {  // failed, or grew while being read
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  *contents = std::move(data);
  return true;
}

bool WriteFileAtomic(const std::string& path, std::string_view contents) {
  // A temporary name of this call's own: two threads saving the same file
  // at once must not write into one temporary file and rename a mix.
  static std::atomic<uint32_t> calls{0};
  std::string tmp = path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(calls.fetch_add(1) + 1);
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < contents.size()) {
    ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      ::unlink(tmp.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::string cur;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    cur = path.substr(0, j);
    if (!cur.empty() && !DirectoryExists(cur)) {
      if (::mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    i = j + 1;
  }
  return DirectoryExists(path);
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string TempDirectory() {
  std::string t = GetEnv("TMPDIR");
  if (t.empty()) t = "/tmp";
  if (t.back() != '/') t.push_back('/');
  return t;
}

static std::string HomeDir() {
  std::string h = GetEnv("HOME");
  if (h.empty()) h = "/tmp";
  return h;
}

static bool Writable(const std::string& dir) { return ::access(dir.c_str(), W_OK) == 0; }

std::string AppDataDirectory(bool common) {
  if (common && Writable("/var/lib")) return "/var/lib/";
  std::string d = GetEnv("XDG_DATA_HOME");
  if (d.empty()) d = HomeDir() + "/.local/share";
  if (d.back() != '/') d.push_back('/');
  return d;
}

std::string ConfigDirectory() {
  std::string d = GetEnv("XDG_CONFIG_HOME");
  if (d.empty()) d = HomeDir() + "/.config";
  if (d.back() != '/') d.push_back('/');
  return d;
}

NamedLock::NamedLock(const std::string& name) : name_(name) {}
NamedLock::~NamedLock() { Release(); }

bool NamedLock::Acquire(uint32_t timeoutMs) {
  if (held_) return true;
  std::string safe;
  for (char c : name_) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_' || c == '.';
    safe.push_back(ok ? c : '_');
  }
  // A file name has at most 255 bytes: a long name keeps its start and gets
  // a hash of the whole name in place of the rest.
  if (safe.size() > 200) {
    uint64_t h = 1469598103934665603ull;
    for (char c : name_) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    safe = safe.substr(0, 180) + "-" + hex;
  }
  std::string path = TempDirectory() + "bacnetip-" + safe + ".lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  uint64_t start = TickCount64();
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    if (errno != EWOULDBLOCK && errno != EINTR) {
      ::close(fd);
      return false;
    }
    if (TickCount64() - start >= timeoutMs) {
      ::close(fd);
      return false;
    }
    SleepMs(1);
  }
  handle_ = fd;
  held_ = true;
  return true;
}

void NamedLock::Release() {
  if (!held_) return;
  ::flock(static_cast<int>(handle_), LOCK_UN);
  ::close(static_cast<int>(handle_));
  handle_ = -1;
  held_ = false;
}

}  // namespace port
