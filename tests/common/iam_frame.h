// An I-Am frame written out octet by octet, for tests and benchmarks that
// announce devices: original unicast (or broadcast), no network header, the
// device's instance and the usual tail (maximum APDU, 1476 unless given,
// segmentation, vendor).
#pragma once

#include <cstdint>
#include <vector>

namespace testutil {

struct IAmTail {
  bool broadcast = false;     // an original broadcast instead of a unicast
  uint8_t segmentation = 3;   // none
  uint8_t vendor = 15;
  uint16_t maxApdu = 1476;  // the maximum APDU length accepted it announces
};

inline std::vector<uint8_t> IAmFrame(uint32_t instance, IAmTail tail = {}) {
  const uint32_t id = (8u << 22) | (instance & 0x3FFFFF);  // a device object
  return {0x81, static_cast<uint8_t>(tail.broadcast ? 0x0B : 0x0A), 0x00, 0x14, 0x01, 0x00, 0x10, 0x00, 0xC4,
          static_cast<uint8_t>(id >> 24), static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 8),
          static_cast<uint8_t>(id), 0x22, static_cast<uint8_t>(tail.maxApdu >> 8), static_cast<uint8_t>(tail.maxApdu),
          0xC4, 0x91, tail.segmentation, 0x21, tail.vendor};
}

}  // namespace testutil
