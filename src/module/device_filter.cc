#include "module/device_filter.h"

#include <array>

#include "module/discovery.h"

namespace bacnet_module {
namespace {

// Instances take 23 bits (AnyInstance included), the octets the 32 above.
uint64_t PatternKey(const std::array<uint8_t, 4>& octets, uint32_t instance) {
  uint64_t key = 0;
  for (uint8_t o : octets) key = key << 8 | o;
  return key << 23 | (instance & 0x7FFFFF);
}

}  // namespace

size_t TDeviceFilter::NamedHash::operator()(const Named& n) const {
  return bacnet::ConnectionHash(n.address, n.port, n.instance);
}

void TDeviceFilter::Add(const bacnet::TDeviceConnInfo& c) {
  if (!IsPatternConnection(c)) {
    named_.insert(Named{c.EndPoint.Address, c.EndPoint.Port, c.Instance});
    return;
  }
  const std::array<uint8_t, 4> octets = bacnet::ParseIPv4(c.EndPoint.Address);
  unsigned layout = 0;
  for (size_t i = 0; i < 4; ++i)
    if (octets[i] == 255) layout |= 1u << i;
  layouts_ = static_cast<uint16_t>(layouts_ | 1u << layout);
  patterns_.insert(PatternKey(octets, c.Instance));
}

void TDeviceFilter::Clear() {
  named_.clear();
  patterns_.clear();
  layouts_ = 0;
}

bacnet::TDeviceWanted TDeviceFilter::Wanted(const bacnet::TDeviceConnInfo& conn) const {
  if (!named_.empty() && named_.count(Named{conn.EndPoint.Address, conn.EndPoint.Port, conn.Instance}))
    return bacnet::TDeviceWanted::ByName;
  if (layouts_ == 0) return bacnet::TDeviceWanted::No;
  const std::array<uint8_t, 4> device = bacnet::ParseIPv4(conn.EndPoint.Address);
  for (unsigned layout = 0; layout < 16; ++layout) {
    if (!(layouts_ >> layout & 1)) continue;
    // The device's octets as a pattern of this layout would read them.
    std::array<uint8_t, 4> octets = device;
    for (size_t i = 0; i < 4; ++i)
      if (layout >> i & 1) octets[i] = 255;
    if (patterns_.count(PatternKey(octets, conn.Instance)) || patterns_.count(PatternKey(octets, bacnet::AnyInstance)))
      return bacnet::TDeviceWanted::ByPattern;
  }
  return bacnet::TDeviceWanted::No;
}

}  // namespace bacnet_module
