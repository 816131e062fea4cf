// The platform layer: everything the module needs from the operating system,
// behind one interface.  posix/ and win32/ hold the two implementations; no
// other part of the module includes a system header for these services.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/thread_annotations.h"

namespace port {

// ---- Synchronisation ------------------------------------------------------

// A re-entrant critical section (a thread that holds it may enter again).
// The analysis of the lock annotations does not follow re-entry: a function
// that enters again a section its caller holds is written as one that
// requires it instead.
class CAPABILITY("critical section") CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter() ACQUIRE();
  void Leave() RELEASE();
  bool TryEnter() TRY_ACQUIRE(true);

 private:
  friend class CondVar;
  alignas(16) unsigned char storage_[64];
};

// Condition variable used together with a CriticalSection that the waiting
// thread holds exactly once.
class CondVar {
 public:
  explicit CondVar(CriticalSection* cs);
  ~CondVar();
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;
  void Wait();
  // Returns false on time-out.
  bool WaitFor(uint32_t milliseconds);
  void Signal();
  void SignalAll();

 private:
  CriticalSection* cs_;
  alignas(16) unsigned char storage_[64];
};

// Holds a critical section for a scope.
class SCOPED_CAPABILITY Guard {
 public:
  explicit Guard(CriticalSection& cs) ACQUIRE(cs) : cs_(cs) { cs_.Enter(); }
  ~Guard() RELEASE() { cs_.Leave(); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  CriticalSection& cs_;
};

uint32_t CurrentThreadId();
void YieldThread();
void SleepMs(uint32_t milliseconds);

// Millisecond tick counts since an arbitrary start.  TickCount64 may be
// called only where HasTickCount64 is true (the system has a 64-bit count;
// looked up once).
uint32_t TickCount32();
uint64_t TickCount64();
bool HasTickCount64();

// ---- Timers ---------------------------------------------------------------

// A repeating timer that calls tick(context) on one thread, never re-entered.
// Windows: a window timer (identifier 1) on a message-only window of the
// thread that creates it; the tick arrives through that thread's message
// loop.  A change made on another thread is posted to the window as message
// kTimerMessageEnable (wParam 1 run, 0 stop) and applied by the owner thread.
// POSIX: one thread serves every timer of the process from a queue ordered by
// due time (ticks of different timers run one after another); changes take
// effect at once; the thread ends when the last timer is destroyed.
struct TimerCore;
constexpr uint32_t kTimerMessageEnable = 2064;
constexpr uint32_t kTimerMessageFree = 2065;
// Null when the system refuses (no window, no thread).
TimerCore* CreateTimerCore(void (*tick)(void* context), void* context);
// Runs the timer every intervalMs while run is set; each change restarts the
// interval.  False when the system has no timer left to give.
bool SetTimerCore(TimerCore* core, bool run, uint32_t intervalMs);
// Stops and frees the timer from any thread, its own tick included, without
// deadlock: a tick running on another thread is waited for; no tick starts
// after this returns.  On Windows a foreign thread sends the disable and
// free messages, waiting at most 5000 ms for each; an owner that does not
// answer in time frees the timer when it handles them later.
void DestroyTimerCore(TimerCore* core);
#ifdef _WIN32
// Tests: the wait for each of those messages (0: the 5000 ms again).
void SetTimerFreeWaitForTests(uint32_t ms);
#endif
// True while the calling thread runs a timer's tick.
bool InTimerTick();

// ---- Text -----------------------------------------------------------------
// 8-bit text is in the ANSI code page: the system's on Windows, UTF-8 elsewhere.

std::u16string AnsiToUtf16(std::string_view text);
std::string Utf16ToAnsi(std::u16string_view text);
std::string AnsiToUtf8(std::string_view text);
std::string Utf8ToAnsi(std::string_view text);
// Locale-aware lower-casing of 8-bit text (ASCII rules where the system has none).
std::string AnsiLower(std::string_view text);
std::string AnsiUpper(std::string_view text);

// Plain UTF-8 <-> UTF-16 (invalid sequences become U+FFFD).
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// ---- OLE strings ---------------------------------------------------------

char16_t* SysAllocStringLen(const char16_t* text, uint32_t length);
void SysFreeString(char16_t* bstr);
uint32_t SysStringLen(const char16_t* bstr);

// ---- Diagnostics -----------------------------------------------------------

// Debugger output.  On POSIX it goes to standard error while BACNETIP_DEBUG is set.
void DebugOutput(std::string_view text);

// True when DebugOutput reaches anyone (on POSIX: while BACNETIP_DEBUG is set).
bool DebugOutputEnabled();

// Copies n bytes from address p into out when every byte can be read; never
// faults on memory that stays as it is while it is read (a region another
// thread unmaps during the call is not guarded against).
bool SafeRead(const void* p, void* out, size_t n);
// True when every one of n bytes at p can be read: SafeRead without the copy.
bool CanRead(const void* p, size_t n);
// Several regions read with one probe: true when every one could be read (and
// was copied); false tells nothing about which failed.
struct TReadSpan {
  const void* from;
  void* to;
  size_t size;
};
bool SafeReadSpans(const TReadSpan* spans, size_t n);

// True when every one of the n addresses lies in executable memory (code of
// a loaded image, or code the process made executable), so that calling it
// cannot fault on a page that holds data.  Never faults.
bool AllExecutable(const void* const* addresses, size_t n);

// The calling thread's call stack, one frame a line ("#n address module
// symbol+offset", CR LF between lines), innermost first, without this
// function and the skip frames above it; symbol names where the platform
// gives them without debug information.  Empty when the platform gives no
// stack.  Never raises.
std::u16string CallStackText(unsigned skipFrames = 0, unsigned maxFrames = 48);

// ---- Raw-data resources of the library -------------------------------------

// One raw-data resource that the build embeds in the library.
struct EmbeddedResource {
  const char* name;
  const unsigned char* data;
  size_t size;
};

// Tables of embedded resources.  On POSIX the module registers the data its
// build embeds; on Windows the raw data are RCDATA resources of the DLL and a
// registered table is searched before them.  Tables registered later are
// searched first.  Registering a table twice keeps one entry.
void RegisterResources(const EmbeddedResource* table, size_t count);
void UnregisterResources(const EmbeddedResource* table);
// The raw data of the library's resource name (letter case ignored, as on
// Windows); false when there is none.  The bytes stay valid while the
// library is loaded (and, for a registered table, while it is registered).
bool FindRawResource(std::string_view name, std::string_view* data);

// ---- The module and its host ---------------------------------------------

// Full path of the library (or program) that contains this code.
std::string ModuleFileName();
// Full path of the host program's executable.
std::string ProgramFileName();
// The host process's command-line arguments (the program itself first).
std::vector<std::string> CommandLineArgs();
// "major.minor.release.build" of the library's version, empty when unknown.
std::string ModuleVersionText();

using LibHandle = void*;
LibHandle LoadLib(const std::string& path, std::string* error);
void FreeLib(LibHandle lib);
void* LibSymbol(LibHandle lib, const char* name);
// Handle of a library that is already loaded in this process, by name; the main
// program when name is empty or no such library is loaded (POSIX), null on Windows.
LibHandle LoadedLib(const std::string& name);

// Posts a notification (message, wParam, lParam) to the host's window or, on
// POSIX, to its notification descriptor.  Gives false when it could not be
// delivered at once.
bool PostNotify(uintptr_t target, uint32_t message, uint32_t wparam, uint32_t lparam);
// Sends with a time-out: waits at most timeoutMs for the target to accept it.
bool SendNotifyTimeout(uintptr_t target, uint32_t message, uint32_t wparam, uint32_t lparam,
                       uint32_t timeoutMs);

// Buffers handed to the host that the host frees: CoTaskMemAlloc/Free on
// Windows, malloc/free elsewhere.
void* HostAlloc(size_t size);
void HostFree(void* p);

// Removes one message of the calling thread's queue and dispatches it; false
// when nothing was waiting (always false on POSIX).
bool ProcessOneMessage();

// ---- Files and folders ----------------------------------------------------

// False when the file cannot be read, is not a regular file, or holds more
// than maxBytes.
bool ReadFile(const std::string& path, std::string* contents, size_t maxBytes = SIZE_MAX);
// Writes a temporary file beside path, flushes it and renames it over path.
bool WriteFileAtomic(const std::string& path, std::string_view contents);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
bool CreateDirectories(const std::string& path);
bool RemoveFile(const std::string& path);
char PathSeparator();
std::string TempDirectory();
// Per-user application data; machine-wide when common is set and writable.
std::string AppDataDirectory(bool common);
// Per-user configuration folder ($XDG_CONFIG_HOME or ~/.config on POSIX).
std::string ConfigDirectory();
std::string GetEnv(const char* name);

// A named lock shared between processes (exclusive).  It guards files, not
// memory, and passes between functions by design (a settings store holds it
// from its Begin to its Finish): the lock annotations leave it out.
class NamedLock {
 public:
  explicit NamedLock(const std::string& name);
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;
  bool Acquire(uint32_t timeoutMs);
  void Release();

 private:
  std::string name_;
  intptr_t handle_ = -1;
  bool held_ = false;
};

}  // namespace port
