// Call stacks on Windows: CaptureStackBackTrace, each frame as its module's
// file name and the offset into it (symbol files are not read).
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/port.h"

namespace port {

std::u16string CallStackText(unsigned skipFrames, unsigned maxFrames) {
  try {
    if (maxFrames == 0) return {};
    constexpr unsigned kLimit = 62;  // the most CaptureStackBackTrace takes on older systems
    void* frames[kLimit];
    const unsigned want = maxFrames < kLimit ? maxFrames : kLimit;
    const USHORT got = CaptureStackBackTrace(static_cast<DWORD>(skipFrames + 1), want, frames, nullptr);
    std::u16string text;
    for (USHORT i = 0; i < got; ++i) {
      char line[64];
      std::snprintf(line, sizeof line, "#%u 0x%p", static_cast<unsigned>(i), frames[i]);
      if (!text.empty()) text += u"\r\n";
      text += AnsiToUtf16(line);
      HMODULE module = nullptr;
      if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             static_cast<LPCWSTR>(frames[i]), &module) &&
          module) {
        wchar_t path[MAX_PATH];
        DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
        std::u16string name(reinterpret_cast<const char16_t*>(path), n);
        size_t slash = name.find_last_of(u"\\/");
        if (slash != std::u16string::npos) name.erase(0, slash + 1);
        char offset[32];
        std::snprintf(offset, sizeof offset, "+0x%llx",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(frames[i]) -
                                                      reinterpret_cast<uintptr_t>(module)));
        text += u" " + name + AnsiToUtf16(offset);
      }
    }
    return text;
  } catch (...) {
    return {};
  }
}

}  // namespace port
