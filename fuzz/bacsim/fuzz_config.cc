// Any building file: no crash, no unbounded memory; what parses either
// validates or is refused with a message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  bacsim::Building b;
  std::string error;
  if (bacsim::ParseBuilding(text, {}, b, error)) {
    if (!bacsim::Validate(b, false, error) && error.empty()) std::abort();
  } else if (error.empty()) {
    std::abort();
  }
  bacsim::ParseStationAddress(text);
  bacsim::ParseEndpoint(text, 47808);
  return 0;
}
