#include "process.h"

#include <unistd.h>

namespace host {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

}  // namespace host
