// The few facts about its own process the host needs.
#pragma once

#include <cstdint>

namespace host {

uint32_t CurrentProcessId();

}  // namespace host
