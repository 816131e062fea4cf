// The library itself, its host, window messages and diagnostics on Windows.
#include <windows.h>
#include <shellapi.h>
#include <objbase.h>

#include <cstdio>
#include <vector>

#include "platform/port.h"

namespace port {

// A listener may capture debugger output without a debugger attached.
bool DebugOutputEnabled() { return true; }

void DebugOutput(std::string_view text) {
  std::string line(text);
  OutputDebugStringA(line.c_str());
}

bool SafeRead(const void* p, void* out, size_t n) {
  if (!p) return false;
  SIZE_T got = 0;
  return ReadProcessMemory(GetCurrentProcess(), p, out, n, &got) && got == n;
}

bool CanRead(const void* p, size_t n) {
  unsigned char scratch[256];
  for (size_t at = 0; at < n; at += sizeof scratch) {
    const size_t part = n - at < sizeof scratch ? n - at : sizeof scratch;
    if (!SafeRead(static_cast<const unsigned char*>(p) + at, scratch, part)) return false;
  }
  return p != nullptr;
}

bool SafeReadSpans(const TReadSpan* spans, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (!SafeRead(spans[i].from, spans[i].to, spans[i].size)) return false;
  return true;
}

bool AllExecutable(const void* const* addresses, size_t n) {
  constexpr DWORD kExecutable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  for (size_t i = 0; i < n; ++i) {
    MEMORY_BASIC_INFORMATION info{};
    if (!addresses[i] || VirtualQuery(addresses[i], &info, sizeof info) != sizeof info) return false;
    if (info.State != MEM_COMMIT || (info.Protect & kExecutable) == 0 || (info.Protect & PAGE_GUARD) != 0)
      return false;
  }
  return true;
}

static HMODULE ThisModule() {
  HMODULE h = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ThisModule), &h);
  return h;
}

std::string ModuleFileName() {
  char buf[MAX_PATH * 2];
  DWORD n = GetModuleFileNameA(ThisModule(), buf, sizeof buf);
  return std::string(buf, n);
}

std::string ProgramFileName() {
  char buf[MAX_PATH * 2];
  DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  return std::string(buf, n);
}

std::vector<std::string> CommandLineArgs() {
  std::vector<std::string> args;
  int n = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &n);
  if (!argv) return args;
  for (int i = 0; i < n; ++i) {
    std::u16string w(reinterpret_cast<const char16_t*>(argv[i]));
    args.push_back(Utf16ToAnsi(w));
  }
  LocalFree(argv);
  return args;
}

std::string ModuleVersionText() {
  std::string file = ModuleFileName();
  DWORD dummy = 0;
  DWORD size = GetFileVersionInfoSizeA(file.c_str(), &dummy);
  if (!size) return {};
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(file.c_str(), 0, size, data.data())) return {};
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &len) || !info) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(HIWORD(info->dwFileVersionMS)),
                static_cast<unsigned long>(LOWORD(info->dwFileVersionMS)),
                static_cast<unsigned long>(HIWORD(info->dwFileVersionLS)),
                static_cast<unsigned long>(LOWORD(info->dwFileVersionLS)));
  return text;
}

LibHandle LoadLib(const std::string& path, std::string* error) {
  HMODULE h = LoadLibraryA(path.c_str());
  if (!h && error) *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
  return reinterpret_cast<LibHandle>(h);
}

void FreeLib(LibHandle lib) {
  if (lib) FreeLibrary(reinterpret_cast<HMODULE>(lib));
}

void* LibSymbol(LibHandle lib, const char* name) {
  if (!lib || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(lib), name));
}

LibHandle LoadedLib(const std::string& name) {
  return reinterpret_cast<LibHandle>(GetModuleHandleA(name.empty() ? nullptr : name.c_str()));
}

bool PostNotify(uintptr_t target, uint32_t message, uint32_t wparam, uint32_t lparam) {
  if (!target) return false;
  return PostMessageA(reinterpret_cast<HWND>(target), message, wparam, lparam) != 0;
}

bool SendNotifyTimeout(uintptr_t target, uint32_t message, uint32_t wparam, uint32_t lparam,
                       uint32_t timeoutMs) {
  if (!target) return false;
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(reinterpret_cast<HWND>(target), message, wparam, lparam,
                             SMTO_ABORTIFHUNG, timeoutMs, &result) != 0;
}

void* HostAlloc(size_t size) { return CoTaskMemAlloc(size ? size : 1); }
void HostFree(void* p) { CoTaskMemFree(p); }

bool ProcessOneMessage() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT) {
    PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }
  if (msg.hwnd) {
    try {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    } catch (...) {
    }
  }
  return true;
}

}  // namespace port
