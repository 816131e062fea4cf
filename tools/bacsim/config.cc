#include "config.h"

#include <cmath>
#include <initializer_list>

#include "json.h"
#include "names.h"

namespace bacsim {

void ApplyCovKnobs(const ParseDefaults& d, Knobs& k) {
  if (d.covDropEvery) k.covDropEvery = *d.covDropEvery;
  if (d.covConfirmed) k.covConfirmed = *d.covConfirmed;
  if (d.covRefuse) k.covRefuse = *d.covRefuse;
}

std::optional<Bytes> ParseStationAddress(std::string_view text) {
  Bytes out;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ':') {
      if (i == 0 || i + 1 == text.size()) return std::nullopt;
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return std::nullopt;
    const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    i += 2;
  }
  if (out.empty() || out.size() > 6) return std::nullopt;
  return out;
}

namespace {

class FileReader {
 public:
  explicit FileReader(std::string& error) : error_(error) {}

  bool Fail(const std::string& where, const std::string& what) {
    error_ = where + ": " + what;
    return false;
  }

  bool Known(const Json& o, const std::string& where, std::initializer_list<const char*> keys) {
    if (o.type != Json::kObject) return Fail(where, "expected an object");
    for (const std::string& k : o.keys) {
      bool ok = false;
      for (const char* key : keys) ok = ok || k == key;
      if (!ok) return Fail(where, "unknown member \"" + k + "\"");
    }
    return true;
  }

  bool Text(const Json& o, const char* key, const std::string& where, std::string& out) {
    const Json* v = o.Find(key);
    if (!v) return true;
    if (v->type != Json::kString) return Fail(where, std::string(key) + " must be a string");
    if (v->text.size() > 1000) return Fail(where, std::string(key) + " longer than 1000 octets");
    out = v->text;
    return true;
  }

  template <typename T>
  bool Integer(const Json& o, const char* key, const std::string& where, T& out, double lo, double hi) {
    const Json* v = o.Find(key);
    if (!v) return true;
    if (v->type != Json::kNumber || v->number != std::floor(v->number) || v->number < lo || v->number > hi) {
      return Fail(where, std::string(key) + " must be an integer from " + std::to_string(static_cast<long long>(lo)) +
                             " to " + std::to_string(static_cast<long long>(hi)));
    }
    out = static_cast<T>(v->number);
    return true;
  }

  bool Number(const Json& o, const char* key, const std::string& where, double& out) {
    const Json* v = o.Find(key);
    if (!v) return true;
    if (v->type != Json::kNumber || std::fabs(v->number) > 1e30) return Fail(where, std::string(key) + " must be a number");
    out = v->number;
    return true;
  }

  bool Bool(const Json& o, const char* key, const std::string& where, bool& out) {
    const Json* v = o.Find(key);
    if (!v) return true;
    if (v->type != Json::kBool) return Fail(where, std::string(key) + " must be true or false");
    out = v->boolean;
    return true;
  }

  bool Address(const Json& o, const char* key, const std::string& where, uint16_t port, Endpoint& out, bool& found) {
    found = false;
    const Json* v = o.Find(key);
    if (!v) return true;
    if (v->type != Json::kString) return Fail(where, std::string(key) + " must be a string");
    auto ep = ParseEndpoint(v->text, port);
    if (!ep) return Fail(where, std::string(key) + " \"" + v->text + "\" is not an IPv4 address[:port]");
    out = *ep;
    found = true;
    return true;
  }

  bool Knob(const Json& o, const std::string& where, Knobs& k) {
    if (!Integer(o, "max_apdu", where, k.maxApdu, 50, kMaxApdu) ||
        !Integer(o, "abort_longer_than", where, k.abortLongerThan, 0, 1e6) ||
        !Bool(o, "read_property_multiple", where, k.readMultiple)) {
      return false;
    }
    if (const Json* to = o.Find("iam_to")) {
      if (to->type != Json::kString || (to->text != "sender" && to->text != "broadcast"))
        return Fail(where, "iam_to must be \"sender\" or \"broadcast\"");
      k.iamBroadcast = to->text == "broadcast";
    }
    if (const Json* busy = o.Find("busy")) {
      if (busy->type != Json::kString || (busy->text != "abort" && busy->text != "drop"))
        return Fail(where, "busy must be \"abort\" or \"drop\"");
      k.busyDrop = busy->text == "drop";
    }
    return Integer(o, "delay_ms", where, k.delayMs, 0, 600000) &&
           Integer(o, "max_concurrent", where, k.maxConcurrent, 0, 1e6) &&
           Integer(o, "drop_every", where, k.dropEvery, 0, 1e9) &&
           Integer(o, "error_every", where, k.errorEvery, 0, 1e9) &&
           Integer(o, "error_class", where, k.errorClass, 0, 255) && Integer(o, "error_code", where, k.errorCode, 0, 255) &&
           Bool(o, "optional_properties", where, k.optionalProperties) && Bool(o, "any_instance", where, k.anyInstance) &&
           Bool(o, "cov_refuse", where, k.covRefuse) && Bool(o, "cov_confirmed", where, k.covConfirmed) &&
           Integer(o, "cov_resend_ms", where, k.covResendMs, 1, 600000) &&
           Integer(o, "cov_retries", where, k.covRetries, 0, 100) &&
           Integer(o, "cov_drop_every", where, k.covDropEvery, 0, 1e9);
  }

  bool Object(const Json& j, const std::string& where, uint32_t deviceInstance, SimObject& o) {
    if (!Known(j, where, {"type", "instance", "name", "description", "value", "amplitude", "period", "states", "units",
                          "fixed", "cov_increment"})) {
      return false;
    }
    const Json* type = j.Find("type");
    if (!type) return Fail(where, "type missing");
    std::optional<uint16_t> t;
    if (type->type == Json::kString) t = ParseObjectType(type->text);
    if (type->type == Json::kNumber && type->number >= 0 && type->number <= 1023 && type->number == std::floor(type->number)) {
      t = static_cast<uint16_t>(type->number);
    }
    if (!t || !IsSimulatedType(*t)) return Fail(where, "type must be one of AI AO AV BI BO BV MI MO MV NC");
    o.type = *t;
    if (!j.Find("instance")) return Fail(where, "instance missing");
    if (!Integer(j, "instance", where, o.instance, 0, kMaxInstance) || !Text(j, "name", where, o.name) ||
        !Text(j, "description", where, o.description) || !Number(j, "value", where, o.base) ||
        !Number(j, "amplitude", where, o.amplitude) || !Number(j, "period", where, o.period) ||
        !Number(j, "cov_increment", where, o.covIncrement) ||
        !Integer(j, "states", where, o.states, 1, 4294967295.0) || !Integer(j, "units", where, o.units, 0, 65535) ||
        !Bool(j, "fixed", where, o.fixed)) {
      return false;
    }
    if (o.period < 0) return Fail(where, "period must not be negative");
    if (o.covIncrement < 0) return Fail(where, "cov_increment must not be negative");
    ApplyTypeDefaults(o, deviceInstance);
    return true;
  }

  bool Device(const Json& j, const std::string& where, uint16_t port, const Knobs& knobs, SimDevice& d) {
    if (!Known(j, where, {"instance", "name", "model", "vendor", "vendor_id", "application_software_version",
                          "firmware_revision", "description", "address", "router", "network", "mac", "bbmd",
                          "delay_ms", "drop_every", "error_every", "error_class", "error_code", "optional_properties",
                          "iam_to", "any_instance", "max_concurrent", "busy", "objects", "max_apdu",
                          "read_property_multiple", "abort_longer_than", "cov_refuse", "cov_confirmed",
                          "cov_resend_ms", "cov_retries", "cov_drop_every"})) {
      return false;
    }
    if (!j.Find("instance")) return Fail(where, "instance missing");
    if (!Integer(j, "instance", where, d.instance, 0, kMaxInstance)) return false;
    d.name = "Device " + std::to_string(d.instance);
    d.model = "bacsim";
    d.vendor = "bacsim";
    d.vendorId = 999;
    d.appVersion = "1.0";
    d.firmware = "1.0";
    d.knobs = knobs;
    if (!Text(j, "name", where, d.name) || !Text(j, "model", where, d.model) || !Text(j, "vendor", where, d.vendor) ||
        !Integer(j, "vendor_id", where, d.vendorId, 0, 65535) ||
        !Text(j, "application_software_version", where, d.appVersion) ||
        !Text(j, "firmware_revision", where, d.firmware) || !Text(j, "description", where, d.description) ||
        !Knob(j, where, d.knobs)) {
      return false;
    }
    bool hasAddress = false, hasRouter = false, hasBbmd = false;
    if (!Address(j, "address", where, port, d.address, hasAddress) ||
        !Address(j, "router", where, port, d.via, hasRouter)) {
      return false;
    }
    Endpoint bbmd;
    if (!Address(j, "bbmd", where, port, bbmd, hasBbmd)) return false;
    if (hasRouter) {
      if (hasAddress || hasBbmd) return Fail(where, "a routed device has a router, network and mac, not an address");
      d.attachment = Attachment::kRouted;
      if (!j.Find("network") || !j.Find("mac")) return Fail(where, "a routed device needs network and mac");
      if (!Integer(j, "network", where, d.network, 1, 65534)) return false;
      const Json* mac = j.Find("mac");
      std::optional<Bytes> m;
      if (mac->type == Json::kString) m = ParseStationAddress(mac->text);
      if (!m) return Fail(where, "mac must be 1 to 6 hex octets, e.g. \"12\", \"00:12\" or \"0a:05:00:01:ba:c0\"");
      d.mac = *m;
    } else {
      if (j.Find("network") || j.Find("mac")) return Fail(where, "network and mac need a router");
      if (!hasAddress) return Fail(where, "address (or router, network and mac) missing");
      if (hasBbmd) {
        d.attachment = Attachment::kRelayed;
        d.via = bbmd;
      }
    }
    if (const Json* objects = j.Find("objects")) {
      if (objects->type != Json::kArray) return Fail(where, "objects must be an array");
      if (objects->items.size() > kMaxObjectsPerDevice) return Fail(where, "too many objects");
      for (size_t i = 0; i < objects->items.size(); ++i) {
        SimObject o;
        if (!Object(objects->items[i], where + " object " + std::to_string(i + 1), d.instance, o)) return false;
        d.objects.push_back(std::move(o));
      }
    } else {
      d.objects = DefaultObjects(d.instance);
    }
    return true;
  }

  bool Generation(const Json& j, uint16_t port, GenerateSpec& g) {
    const std::string where = "generate";
    if (!Known(j, where, {"devices", "first_address", "first_instance", "routed", "router", "network",
                          "objects_per_type"})) {
      return false;
    }
    bool found = false;
    return Integer(j, "devices", where, g.local, 0, 100000) && Integer(j, "routed", where, g.routed, 0, 65535) &&
           Address(j, "first_address", where, port, g.firstAddress, found) &&
           Integer(j, "first_instance", where, g.firstInstance, 0, kMaxInstance) &&
           Address(j, "router", where, port, g.router, found) && Integer(j, "network", where, g.network, 1, 65534) &&
           Integer(j, "objects_per_type", where, g.objectsPerType, 0, 2);
  }

 private:
  std::string& error_;
};

}  // namespace

void ApplyServiceKnobs(const ParseDefaults& d, Knobs& k) {
  if (d.maxApdu) k.maxApdu = *d.maxApdu;
  if (d.abortLongerThan) k.abortLongerThan = *d.abortLongerThan;
  if (d.readMultiple) k.readMultiple = *d.readMultiple;
}

bool ParseBuilding(std::string_view text, const ParseDefaults& overrides, Building& b, std::string& error) {
  Json root;
  if (!ParseJson(text, root, error)) return false;
  FileReader r(error);
  if (!r.Known(root, "building", {"port", "broadcast", "defaults", "devices", "generate"})) return false;
  Building out;
  uint16_t port = overrides.port;
  if (!overrides.portGiven && !r.Integer(root, "port", "building", port, 0, 65535)) return false;
  out.broadcast.port = port;
  if (const Json* bc = root.Find("broadcast")) {
    if (bc->type == Json::kBool && !bc->boolean) {
      out.hasBroadcast = false;
    } else {
      bool found = false;
      if (!r.Address(root, "broadcast", "building", port, out.broadcast, found)) return false;
    }
  }
  Knobs knobs;
  if (const Json* d = root.Find("defaults")) {
    if (!r.Known(*d, "defaults", {"delay_ms", "drop_every", "error_every", "error_class", "error_code",
                                  "optional_properties", "iam_to", "any_instance", "max_concurrent", "busy",
                                  "max_apdu", "read_property_multiple", "abort_longer_than", "cov_refuse",
                                  "cov_confirmed", "cov_resend_ms", "cov_retries", "cov_drop_every"}) ||
        !r.Knob(*d, "defaults", knobs)) {
      return false;
    }
  }
  ApplyServiceKnobs(overrides, knobs);
  if (overrides.delayMs) knobs.delayMs = *overrides.delayMs;
  if (overrides.dropEvery) knobs.dropEvery = *overrides.dropEvery;
  if (overrides.errorEvery) knobs.errorEvery = *overrides.errorEvery;
  if (overrides.maxConcurrent) knobs.maxConcurrent = *overrides.maxConcurrent;
  if (overrides.busyDrop) knobs.busyDrop = *overrides.busyDrop;
  ApplyCovKnobs(overrides, knobs);
  if (const Json* devices = root.Find("devices")) {
    if (devices->type != Json::kArray) return r.Fail("building", "devices must be an array");
    size_t objects = 0;
    for (size_t i = 0; i < devices->items.size(); ++i) {
      SimDevice d;
      if (!r.Device(devices->items[i], "device " + std::to_string(i + 1), port, knobs, d)) return false;
      objects += d.objects.size();
      out.devices.push_back(std::move(d));
      if (out.devices.size() > kMaxDevices) return r.Fail("building", "too many devices");
      if (objects > kMaxObjects) return r.Fail("building", "too many objects");
    }
  }
  if (const Json* g = root.Find("generate")) {
    GenerateSpec spec;
    spec.firstAddress.port = port;
    spec.router.port = port;
    if (!r.Generation(*g, port, spec)) return false;
    const size_t before = out.devices.size();
    const Endpoint broadcast = out.broadcast;
    if (!Generate(out, spec, error)) return false;
    if (root.Find("broadcast")) out.broadcast = broadcast;  // the file's own stays
    for (size_t i = before; i < out.devices.size(); ++i) out.devices[i].knobs = knobs;
  }
  b = std::move(out);
  return true;
}

}  // namespace bacsim
