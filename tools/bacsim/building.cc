#include "building.h"

#include <cmath>
#include <numbers>
#include <set>
#include <tuple>

#include "names.h"

namespace bacsim {

namespace {

size_t ObjectCount(const Building& b) {
  size_t n = 0;
  for (const auto& d : b.devices) n += d.objects.size();
  return n;
}

double AnalogAt(const SimObject& o, double t) {
  if (o.period <= 0) return o.base;
  return o.base + o.amplitude * std::sin(2 * std::numbers::pi * t / o.period);
}

uint64_t StepAt(const SimObject& o, double t) {
  if (o.period <= 0 || t <= 0) return 0;
  const double steps = std::floor(t / o.period);
  return steps >= 1e15 ? 0 : static_cast<uint64_t>(steps);
}

}  // namespace

Value PresentValue(const SimObject& o, double seconds) {
  const double t = o.fixed ? 0 : seconds;
  switch (o.type) {
    case obj::kAnalogInput:
    case obj::kAnalogOutput:
    case obj::kAnalogValue:
      return Value::Real(static_cast<float>(AnalogAt(o, t)));
    case obj::kBinaryInput:
    case obj::kBinaryOutput:
    case obj::kBinaryValue:
      return Value::Enumerated((StepAt(o, t) + (o.base != 0 ? 1 : 0)) % 2);
    case obj::kMultiStateInput:
    case obj::kMultiStateOutput:
    case obj::kMultiStateValue: {
      const uint64_t states = o.states ? o.states : 1;
      const uint64_t first = o.base >= 1 ? static_cast<uint64_t>(o.base) - 1 : 0;
      return Value::Unsigned(1 + (StepAt(o, t) + first) % states);
    }
    default:
      return Value::Null();
  }
}

void ApplyTypeDefaults(SimObject& o, uint32_t deviceInstance) {
  const std::string label = ObjectTypeShort(o.type) + "-" + std::to_string(o.instance);
  if (o.name.empty()) o.name = label + "@" + std::to_string(deviceInstance);
  switch (o.type) {
    case obj::kAnalogInput:
      if (o.period == 0) o.period = 600;
      if (o.units == 0) o.units = 62;  // degrees-Celsius
      break;
    case obj::kAnalogOutput:
      if (o.period == 0) o.period = 900;
      if (o.units == 0) o.units = 98;  // percent
      break;
    case obj::kAnalogValue:
      if (o.period == 0) o.period = 300;
      if (o.units == 0) o.units = 95;  // no-units
      break;
    case obj::kBinaryInput:
    case obj::kBinaryOutput:
    case obj::kBinaryValue:
      if (o.period == 0) o.period = 30;
      break;
    case obj::kMultiStateInput:
    case obj::kMultiStateOutput:
    case obj::kMultiStateValue:
      if (o.period == 0) o.period = 20;
      if (o.states == 0) o.states = 4;
      break;
    default:
      break;
  }
}

std::vector<SimObject> DefaultObjects(uint32_t deviceInstance) {
  static const uint16_t types[] = {obj::kAnalogInput,      obj::kAnalogOutput,      obj::kAnalogValue,
                                   obj::kBinaryInput,      obj::kBinaryOutput,      obj::kBinaryValue,
                                   obj::kMultiStateInput,  obj::kMultiStateOutput,  obj::kMultiStateValue,
                                   obj::kNotificationClass};
  std::vector<SimObject> objects;
  for (uint16_t type : types) {
    for (uint32_t instance = 0; instance < 2; ++instance) {
      SimObject o;
      o.type = type;
      o.instance = instance;
      switch (type) {
        case obj::kAnalogInput: o.base = 21.5 + instance; o.amplitude = 2; break;
        case obj::kAnalogOutput: o.base = 50 + 10.0 * instance; o.amplitude = 25; break;
        case obj::kAnalogValue: o.base = 100 + instance; o.amplitude = 10; break;
        case obj::kBinaryInput: case obj::kBinaryOutput: case obj::kBinaryValue: o.base = instance % 2; break;
        case obj::kMultiStateInput: case obj::kMultiStateOutput: case obj::kMultiStateValue: o.base = 1 + instance; break;
        default: break;
      }
      ApplyTypeDefaults(o, deviceInstance);
      objects.push_back(std::move(o));
    }
  }
  return objects;
}

namespace {

SimDevice NamedDevice(uint32_t instance) {
  SimDevice d;
  d.instance = instance;
  d.name = "Device " + std::to_string(instance);
  d.model = "bacsim";
  d.vendor = "bacsim";
  d.vendorId = 999;
  d.appVersion = "1.0";
  d.firmware = "1.0";
  d.description = "Simulated device " + std::to_string(instance);
  return d;
}

}  // namespace

Building DefaultBuilding() {
  Building b;
  for (uint32_t i = 0; i < 2; ++i) {
    SimDevice d = NamedDevice(1001 + i);
    d.address = {0x7F000002 + i, kDefaultPort};
    d.objects = DefaultObjects(d.instance);
    b.devices.push_back(std::move(d));
  }
  return b;
}

bool Generate(Building& b, const GenerateSpec& spec, std::string& error) {
  if (b.devices.size() + spec.local + spec.routed > kMaxDevices) {
    error = "too many devices (at most " + std::to_string(kMaxDevices) + ")";
    return false;
  }
  if (ObjectCount(b) + (size_t{spec.local} + spec.routed) * 10 * spec.objectsPerType > kMaxObjects) {
    error = "too many objects (at most " + std::to_string(kMaxObjects) + "; fewer objects per type?)";
    return false;
  }
  if (spec.routed > 65535) {
    error = "too many routed devices (at most 65535)";
    return false;
  }
  auto objectsFor = [&](uint32_t instance) {
    std::vector<SimObject> all = DefaultObjects(instance), some;
    for (auto& o : all) {
      if (o.instance < spec.objectsPerType) some.push_back(std::move(o));
    }
    return some;
  };
  // Addresses already taken: devices, routers, BBMDs, the broadcast address.
  std::set<uint32_t> taken = {b.broadcast.ip, spec.router.ip};
  for (const auto& d : b.devices) {
    taken.insert(d.address.ip);
    taken.insert(d.via.ip);
  }
  uint32_t instance = spec.firstInstance;
  uint32_t ip = spec.firstAddress.ip;
  for (uint32_t i = 0; i < spec.local; ++i) {
    while ((ip & 0xFF) == 0 || (ip & 0xFF) == 255 || taken.count(ip)) ++ip;
    SimDevice d = NamedDevice(instance++);
    d.address = {ip++, spec.firstAddress.port};
    d.objects = objectsFor(d.instance);
    b.devices.push_back(std::move(d));
  }
  for (uint32_t i = 0; i < spec.routed; ++i) {
    SimDevice d = NamedDevice(instance++);
    d.attachment = Attachment::kRouted;
    d.via = spec.router;
    d.network = spec.network;
    const uint32_t k = i + 1;
    if (i % 3 == 0 && k / 3 + 1 <= 254) {
      d.mac = {static_cast<uint8_t>(k / 3 + 1)};
    } else if (i % 3 != 2) {
      d.mac = {static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k)};
    } else {
      d.mac = {10, 5, static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k), 0xBA, 0xC0};
    }
    d.objects = objectsFor(d.instance);
    b.devices.push_back(std::move(d));
  }
  if (spec.local > 0 && b.broadcast.ip == Building{}.broadcast.ip) {
    const SimDevice& last = b.devices[b.devices.size() - 1 - spec.routed];
    if ((last.address.ip >> 8) != (b.broadcast.ip >> 8) || (spec.firstAddress.ip >> 8) != (b.broadcast.ip >> 8)) {
      b.broadcast.ip = (spec.firstAddress.ip & 0xFFFF0000) | 0xFFFF;
    }
  }
  return true;
}

std::string DeviceLabel(const SimDevice& d) {
  if (d.attachment != Attachment::kRouted) return d.address.AddressText();
  std::string s = d.via.AddressText() + "/" + std::to_string(d.network) + ":";
  static const char hex[] = "0123456789abcdef";
  for (uint8_t o : d.mac) {
    s += hex[o >> 4];
    s += hex[o & 15];
  }
  return s;
}

bool Validate(const Building& b, bool allowNonLoopback, std::string& error) {
  if (b.devices.size() > kMaxDevices) {
    error = "too many devices (at most " + std::to_string(kMaxDevices) + ")";
    return false;
  }
  if (ObjectCount(b) > kMaxObjects) {
    error = "too many objects (at most " + std::to_string(kMaxObjects) + ")";
    return false;
  }
  auto bindable = [&](const Endpoint& e, const std::string& what) {
    if (!allowNonLoopback && !e.IsLoopback()) {
      error = what + " " + e.AddressText() + " is not a loopback address (use --allow-non-loopback)";
      return false;
    }
    return true;
  };
  if (b.hasBroadcast && !bindable(b.broadcast, "broadcast address")) return false;
  std::set<uint32_t> instances;
  std::set<Endpoint> deviceAddresses, relays, routers, bbmds;
  std::set<std::tuple<Endpoint, uint16_t, Bytes>> stations;
  std::set<std::pair<uint16_t, Endpoint>> networks;
  for (const auto& d : b.devices) {
    const std::string name = "device " + std::to_string(d.instance);
    if (d.instance > kMaxInstance) {
      error = name + ": instance above " + std::to_string(kMaxInstance);
      return false;
    }
    if (!instances.insert(d.instance).second) {
      error = name + ": instance used twice";
      return false;
    }
    if (d.attachment == Attachment::kRouted) {
      if (d.mac.empty() || d.mac.size() > 6) {
        error = name + ": station address must have 1 to 6 octets";
        return false;
      }
      if (d.network == 0 || d.network == 0xFFFF) {
        error = name + ": network must be 1 to 65534";
        return false;
      }
      if (!stations.insert({d.via, d.network, d.mac}).second) {
        error = name + ": station address used twice on network " + std::to_string(d.network);
        return false;
      }
      networks.insert({d.network, d.via});
      relays.insert(d.via);
      routers.insert(d.via);
      if (!bindable(d.via, name + ": router")) return false;
    } else {
      if (!deviceAddresses.insert(d.address).second) {
        error = name + ": address " + d.address.ToString() + " used twice";
        return false;
      }
      if (!bindable(d.address, name + ": address")) return false;
      if (d.attachment == Attachment::kRelayed) {
        relays.insert(d.via);
        bbmds.insert(d.via);
        if (!bindable(d.via, name + ": bbmd")) return false;
      }
    }
    if (d.objects.size() > kMaxObjectsPerDevice) {
      error = name + ": more than " + std::to_string(kMaxObjectsPerDevice) + " objects";
      return false;
    }
    std::set<std::pair<uint16_t, uint32_t>> ids;
    for (const auto& o : d.objects) {
      if (!IsSimulatedType(o.type)) {
        error = name + ": object type " + std::to_string(o.type) + " is not simulated";
        return false;
      }
      if (o.instance > kMaxInstance || !ids.insert({o.type, o.instance}).second) {
        error = name + ": object " + ObjectTypeShort(o.type) + ":" + std::to_string(o.instance) +
                " out of range or used twice";
        return false;
      }
    }
  }
  std::set<uint16_t> seenNetworks;
  for (const auto& [net, router] : networks) {
    if (!seenNetworks.insert(net).second) {
      error = "network " + std::to_string(net) + " is behind two routers";
      return false;
    }
  }
  for (const auto& r : routers) {
    if (bbmds.count(r)) {
      error = r.ToString() + " is named as a router and as a bbmd";
      return false;
    }
  }
  for (const auto& r : relays) {
    if (deviceAddresses.count(r) || (b.hasBroadcast && r == b.broadcast)) {
      error = "router or bbmd " + r.ToString() + " shares an address with a device or the broadcast address";
      return false;
    }
  }
  if (b.hasBroadcast && deviceAddresses.count(b.broadcast)) {
    error = "broadcast address " + b.broadcast.ToString() + " is also a device address";
    return false;
  }
  return true;
}

}  // namespace bacsim
