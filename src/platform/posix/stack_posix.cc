// Call stacks on POSIX: the C library's backtrace, and the names that the
// dynamic linker knows (exported symbols; no debug information is read).
#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/port.h"

namespace port {

namespace {

std::string BaseName(const char* path) {
  if (!path) return "?";
  std::string s(path);
  size_t slash = s.find_last_of('/');
  return slash == std::string::npos ? s : s.substr(slash + 1);
}

std::string SymbolName(const char* mangled) {
  int status = 0;
  char* plain = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = (status == 0 && plain) ? plain : mangled;
  std::free(plain);
  return name;
}

}  // namespace

std::u16string CallStackText(unsigned skipFrames, unsigned maxFrames) {
  try {
    if (maxFrames == 0) return {};
    constexpr unsigned kLimit = 128;
    void* frames[kLimit];
    const unsigned want = std::min(kLimit, maxFrames + skipFrames + 1);
    const int got = backtrace(frames, static_cast<int>(want));
    std::string text;
    unsigned line = 0;
    for (int i = static_cast<int>(skipFrames) + 1; i < got; ++i) {
      char address[32];
      std::snprintf(address, sizeof address, "0x%llx",
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(frames[i])));
      if (!text.empty()) text += "\r\n";
      // Appended piece by piece (GCC 12 warns wrongly about chains of + here).
      text += '#';
      text += std::to_string(line++);
      text += ' ';
      text += address;
      Dl_info info{};
      if (dladdr(frames[i], &info) != 0) {
        text += ' ';
        text += BaseName(info.dli_fname);
        if (info.dli_sname && info.dli_saddr) {
          char offset[32];
          std::snprintf(offset, sizeof offset, "+0x%llx",
                        static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(frames[i]) -
                                                        reinterpret_cast<uintptr_t>(info.dli_saddr)));
          text += ' ';
          text += SymbolName(info.dli_sname);
          text += offset;
        } else if (info.dli_fbase) {
          char offset[32];
          std::snprintf(offset, sizeof offset, "+0x%llx",
                        static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(frames[i]) -
                                                        reinterpret_cast<uintptr_t>(info.dli_fbase)));
          text += offset;
        }
      }
    }
    return Utf8ToUtf16(text);
  } catch (...) {
    return {};
  }
}

}  // namespace port
