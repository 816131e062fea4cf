// The library itself, its host and diagnostics on POSIX.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
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

namespace {

// Bytes the kernel copies out of a buffer before it is read here: written
// into a pipe that nobody reads but the writers themselves, to make room.  A
// write of at most PIPE_BUF bytes is taken whole or not at all, and reports
// EFAULT (or a short count) instead of faulting, which makes it the cheapest
// probe there is: one system call, no pages pinned.
class ProbeSink {
 public:
  ProbeSink() {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
      read_ = fds[0];
      write_.store(fds[1], std::memory_order_release);
    }
  }
  ~ProbeSink() {
    const int w = write_.exchange(-1);
    if (w >= 0) ::close(w);
    if (read_ >= 0) ::close(read_);
  }
  ProbeSink(const ProbeSink&) = delete;
  ProbeSink& operator=(const ProbeSink&) = delete;

  // 1: all bytes of the n regions readable; 0: not; -1: no sink (the
  // caller probes another way).
  int Probe(const iovec* regions, int n, size_t total) {
    const int w = write_.load(std::memory_order_acquire);
    if (w < 0) return -1;
    for (int attempt = 0; attempt < 2; ++attempt) {
      // The system call itself, not the C library's wrapper: sanitizers
      // watch the wrapper and would take a probe of a wild pointer for a
      // fault of ours.
      const auto got = static_cast<ssize_t>(::syscall(SYS_writev, w, regions, n));
      if (got == static_cast<ssize_t>(total)) return 1;
      if (got >= 0 || errno == EFAULT) return 0;
      if (errno != EAGAIN) return -1;
      Drain();  // full: empty it and try once more
    }
    return -1;
  }

 private:
  void Drain() {
    char scratch[16384];
    while (::read(read_, scratch, sizeof scratch) > 0) {
    }
  }
  int read_ = -1;
  std::atomic<int> write_{-1};
};

// The largest probe written whole.
constexpr size_t kSinkProbeMax = PIPE_BUF;

// Copies what the sink found readable, a word at a time.  Not seen by the
// sanitizers: the bytes are the host's, which they know nothing about (a
// wild pointer of the host's may well fall into memory they watch).
__attribute__((no_sanitize("address", "thread", "undefined"))) void CopyProbed(const void* p, void* out,
                                                                               size_t n) {
  const auto* from = static_cast<const unsigned char*>(p);
  auto* to = static_cast<unsigned char*>(out);
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    __builtin_memcpy(&word, from + i, 8);
    __builtin_memcpy(to + i, &word, 8);
  }
  for (; i < n; ++i) to[i] = *static_cast<const volatile unsigned char*>(from + i);
}

bool CopyThroughKernel(const void* p, void* out, size_t n) {
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

ProbeSink g_sink;

}  // namespace

namespace {

// The sink's verdict on one region: 1 readable, 0 not, -1 ask the kernel
// (too long for one probe, or no sink).
int ProbeRegion(const void* p, size_t n) {
  if (!p || reinterpret_cast<uintptr_t>(p) + n < reinterpret_cast<uintptr_t>(p)) return 0;
  if (n == 0) return 1;
  if (n > kSinkProbeMax) return -1;
  const iovec region{const_cast<void*>(p), n};
  return g_sink.Probe(&region, 1, n);
}

}  // namespace

bool CanRead(const void* p, size_t n) {
  const int readable = ProbeRegion(p, n);
  if (readable >= 0) return readable == 1;
  unsigned char scratch[256];
  for (size_t at = 0; at < n; at += sizeof scratch) {
    const size_t part = n - at < sizeof scratch ? n - at : sizeof scratch;
    if (!CopyThroughKernel(static_cast<const unsigned char*>(p) + at, scratch, part)) return false;
  }
  return true;
}

bool SafeRead(const void* p, void* out, size_t n) {
  const int readable = ProbeRegion(p, n);
  if (readable < 0) return CopyThroughKernel(p, out, n);
  if (readable == 1) CopyProbed(p, out, n);
  return readable == 1;
}

bool SafeReadSpans(const TReadSpan* spans, size_t n) {
  constexpr size_t kMax = 4;
  iovec regions[kMax];
  size_t total = 0;
  bool wraps = false;
  for (size_t i = 0; i < n && i < kMax; ++i) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(spans[i].from);
    wraps = wraps || !spans[i].from || at + spans[i].size < at;
    regions[i] = iovec{const_cast<void*>(spans[i].from), spans[i].size};
    total += spans[i].size;
  }
  if (!wraps && n <= kMax && total <= kSinkProbeMax) {
    const int readable = g_sink.Probe(regions, static_cast<int>(n), total);
    if (readable == 0) return false;
    if (readable == 1) {
      for (size_t i = 0; i < n; ++i) CopyProbed(spans[i].from, spans[i].to, spans[i].size);
      return true;
    }
  }
  for (size_t i = 0; i < n; ++i)
    if (!SafeRead(spans[i].from, spans[i].to, spans[i].size)) return false;
  return true;
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
