// The library itself, its host and diagnostics on POSIX.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/port.h"

#ifndef BACNETIP_VERSION_TEXT
#define BACNETIP_VERSION_TEXT ""
#endif

namespace port {

bool DebugOutputEnabled() {
  const char* on = std::getenv("BACNETIP_DEBUG");
  return on && *on;
}

void DebugOutput(std::string_view text) {
  if (!DebugOutputEnabled()) return;
  std::string line(text);
  line.push_back('\n');
  ssize_t r = ::write(2, line.data(), line.size());
  (void)r;
}

bool SafeRead(const void* p, void* out, size_t n) {
  if (!p) return false;
  iovec local{out, n};
  iovec remote{const_cast<void*>(p), n};
  ssize_t got = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
  if (got == static_cast<ssize_t>(n)) return true;
  if (got < 0 && errno != EFAULT) {
    // No process_vm_readv (an old kernel, or a sandbox whose system-call
    // filter refuses it with EPERM): probe through a pipe, which reports
    // EFAULT instead of faulting.
    int fds[2];
    if (pipe(fds) != 0) return false;
    bool ok = ::write(fds[1], p, n) == static_cast<ssize_t>(n) &&
              ::read(fds[0], out, n) == static_cast<ssize_t>(n);
    close(fds[0]);
    close(fds[1]);
    return ok;
  }
  return false;
}

bool AllExecutable(const void* const* addresses, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (!addresses[i]) return false;
  // The process's mappings with their permissions, read once for all n.
  std::string maps;
  const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char buf[16384];
    for (ssize_t got; (got = ::read(fd, buf, sizeof buf)) > 0;) maps.append(buf, static_cast<size_t>(got));
    ::close(fd);
  }
  if (maps.empty()) {
    // No mapping list (a sandbox without /proc): code of a loaded image only.
    for (size_t i = 0; i < n; ++i) {
      Dl_info info{};
      if (!dladdr(addresses[i], &info)) return false;
    }
    return true;
  }
  for (size_t i = 0; i < n; ++i) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(addresses[i]);
    bool executable = false;
    for (size_t line = 0; line < maps.size() && !executable;) {
      size_t end = maps.find('\n', line);
      if (end == std::string::npos) end = maps.size();
      // "start-end perms offset dev inode path"
      unsigned long long lo = 0, hi = 0;
      char perms[5] = {};
      if (std::sscanf(maps.c_str() + line, "%llx-%llx %4s", &lo, &hi, perms) == 3 && a >= lo && a < hi)
        executable = perms[2] == 'x';
      line = end + 1;
    }
    if (!executable) return false;
  }
  return true;
}

std::string ModuleFileName() {
  // The file does not change while the library is loaded: looked up once
  // (every instance asks for it when it is created).
  static const std::string name = [] {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ModuleFileName), &info) && info.dli_fname) {
      char resolved[4096];
      if (realpath(info.dli_fname, resolved)) return std::string(resolved);
      return std::string(info.dli_fname);
    }
    return std::string();
  }();
  return name;
}

std::string ProgramFileName() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::vector<std::string> CommandLineArgs() {
  std::vector<std::string> args;
  std::string text;
  if (!ReadFile("/proc/self/cmdline", &text)) return args;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\0', at);
    if (end == std::string::npos) end = text.size();
    args.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return args;
}

std::string ModuleVersionText() { return BACNETIP_VERSION_TEXT; }

LibHandle LoadLib(const std::string& path, std::string* error) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h && error) {
    const char* e = dlerror();
    *error = e ? e : "cannot load library";
  }
  return h;
}

void FreeLib(LibHandle lib) {
  if (lib) dlclose(lib);
}

void* LibSymbol(LibHandle lib, const char* name) {
  if (!lib || !name) return nullptr;
  return dlsym(lib, name);
}

LibHandle LoadedLib(const std::string& name) {
  if (!name.empty()) {
    void* h = dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) return h;
  }
  return dlopen(nullptr, RTLD_NOW);
}

static bool IsNotifyDescriptor(uintptr_t target) {
  if (target > 0x7FFFFFFF) return false;
  struct stat st;
  if (fstat(static_cast<int>(target), &st) != 0) return false;
  return S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
}

// A write to a pipe whose reader has gone raises SIGPIPE, which would end
// the host process: the signal is blocked for the write and a SIGPIPE it
// caused is taken back.
static ssize_t WritePipeQuietly(int fd, const void* data, size_t size) {
  sigset_t pipeSet, old, pending;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
  sigpending(&pending);
  const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
  ssize_t w;
  do {
    w = ::write(fd, data, size);
  } while (w < 0 && errno == EINTR);
  const int saved = errno;
  if (w < 0 && saved == EPIPE && !wasPending) {
    timespec zero{0, 0};
    sigtimedwait(&pipeSet, nullptr, &zero);
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  errno = saved;
  return w;
}

// The module's notifications go out one at a time, so that a pipe found
// writable is still writable when the message is written.
static CriticalSection& NotifyLock() {
  static CriticalSection lock;
  return lock;
}

static bool WriteNotify(int fd, uint32_t message, uint32_t wparam, uint32_t lparam, int timeoutMs) {
  Guard g(NotifyLock());
  pollfd p{fd, POLLOUT, 0};
  int r;
  do {
    r = poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  if (r <= 0 || !(p.revents & POLLOUT)) return false;
  uint32_t msg[3] = {message, wparam, lparam};
  ssize_t w;
  do {
    w = ::send(fd, msg, sizeof msg, MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (w < 0 && errno == EINTR);
  if (w < 0 && errno == ENOTSOCK) w = WritePipeQuietly(fd, msg, sizeof msg);
  return w == static_cast<ssize_t>(sizeof msg);
}

bool PostNotify(uintptr_t target, uint32_t message, uint32_t wparam, uint32_t lparam) {
  if (!IsNotifyDescriptor(target)) return false;
  return WriteNotify(static_cast<int>(target), message, wparam, lparam, 0);
}

bool SendNotifyTimeout(uintptr_t target, uint32_t message, uint32_t wparam, uint32_t lparam,
                       uint32_t timeoutMs) {
  if (!IsNotifyDescriptor(target)) return false;
  return WriteNotify(static_cast<int>(target), message, wparam, lparam, static_cast<int>(timeoutMs));
}

void* HostAlloc(size_t size) { return std::malloc(size ? size : 1); }
void HostFree(void* p) { std::free(p); }

bool ProcessOneMessage() { return false; }

}  // namespace port
