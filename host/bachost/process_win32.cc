#include "process.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/port.h"

namespace host {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int n = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (!wide) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::vector<std::string> out;
  for (int i = 1; i < n; ++i) out.push_back(port::Utf16ToUtf8(reinterpret_cast<const char16_t*>(wide[i])));
  LocalFree(wide);
  return out;
}

}  // namespace host
