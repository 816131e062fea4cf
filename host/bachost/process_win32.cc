#include "process.h"

#include <windows.h>

namespace host {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

}  // namespace host
