// Which devices announced by I-Am the configured requests can use: a device
// an item names exactly (the same address text, port and instance, as the
// device table finds it) and a device a pattern item matches (its address
// octets other than 255 and its instance, "*" matching any).  Every look-up
// costs a bounded number of hash probes, however many requests and devices
// there are.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

#include "bacnet/bacnet_endpoint.h"
#include "bacnet/bacnet_stack.h"

namespace bacnet_module {

class TDeviceFilter {
 public:
  // Takes in the connection of a configured item.
  void Add(const bacnet::TDeviceConnInfo& itemConnection);
  void Clear();
  // How much the items want the device at conn (its endpoint and instance).
  bacnet::TDeviceWanted Wanted(const bacnet::TDeviceConnInfo& conn) const;

 private:
  struct Named {
    std::string address;
    uint16_t port;
    uint32_t instance;
    bool operator==(const Named&) const = default;
  };
  struct NamedHash {
    size_t operator()(const Named& n) const;
  };
  std::unordered_set<Named, NamedHash> named_;
  // Patterns as their four address octets (255 where any octet matches) and
  // their instance (AnyInstance for "*"), packed into one number.
  std::unordered_set<uint64_t> patterns_;
  // The layouts of wildcard octets the patterns use, one bit per layout.
  uint16_t layouts_ = 0;
};

}  // namespace bacnet_module
