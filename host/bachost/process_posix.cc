#include "process.h"

#include <unistd.h>

namespace host {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

}  // namespace host
