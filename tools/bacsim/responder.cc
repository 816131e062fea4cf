#include "responder.h"

#include <algorithm>

#include "names.h"

namespace bacsim {

namespace {

constexpr uint32_t kWildcardInstance = 4194303;

const char* BvllName(uint8_t f) {
  switch (f) {
    case bvlc::kWriteBdt: return "write-bdt";
    case bvlc::kReadBdt: return "read-bdt";
    case bvlc::kRegisterForeignDevice: return "register-foreign-device";
    case bvlc::kReadFdt: return "read-fdt";
    case bvlc::kDeleteFdtEntry: return "delete-fdt-entry";
    case bvlc::kDistributeBroadcast: return "distribute-broadcast-to-network";
    default: return "bvll";
  }
}

std::string Hex16(uint16_t v) {
  static const char hex[] = "0123456789abcdef";
  std::string s = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) s += hex[(v >> shift) & 15];
  return s;
}

}  // namespace

struct Responder::Request {
  const Incoming* in = nullptr;
  const Npdu* npdu = nullptr;
  Endpoint sender;  // where answers go
  const uint8_t* apdu = nullptr;
  size_t apduSize = 0;
  bool broadcast = false;
};

Responder::Responder(Building b, ResponderOptions options) : building_(std::move(b)), options_(options) {
  const size_t n = building_.devices.size();
  deviceSocket_.assign(n, SIZE_MAX);
  deviceBbmd_.assign(n, SIZE_MAX);
  deviceRouter_.assign(n, SIZE_MAX);
  requests_.assign(n, 0);
  if (building_.hasBroadcast) sockets_.push_back({building_.broadcast, Role::kBroadcast, 0});
  for (size_t i = 0; i < n; ++i) {
    const SimDevice& d = building_.devices[i];
    if (d.attachment == Attachment::kRouted) continue;
    deviceSocket_[i] = sockets_.size();
    sockets_.push_back({d.address, Role::kDevice, i});
  }
  for (size_t i = 0; i < n; ++i) {
    const SimDevice& d = building_.devices[i];
    if (d.attachment == Attachment::kRouted) {
      auto r = std::find_if(routers_.begin(), routers_.end(), [&](const Router& x) { return x.endpoint == d.via; });
      if (r == routers_.end()) {
        routers_.push_back({d.via, 0, {}});
        r = routers_.end() - 1;
      }
      if (std::find(r->networks.begin(), r->networks.end(), d.network) == r->networks.end()) {
        r->networks.push_back(d.network);
      }
      deviceRouter_[i] = static_cast<size_t>(r - routers_.begin());
      networkRouter_[d.network] = deviceRouter_[i];
      stations_[{d.network, d.mac}] = i;
    } else if (d.attachment == Attachment::kRelayed) {
      auto m = std::find_if(bbmds_.begin(), bbmds_.end(), [&](const Bbmd& x) { return x.endpoint == d.via; });
      if (m == bbmds_.end()) {
        bbmds_.push_back({d.via, 0, {}});
        m = bbmds_.end() - 1;
      }
      m->devices.push_back(i);
      deviceBbmd_[i] = static_cast<size_t>(m - bbmds_.begin());
    }
  }
  for (size_t i = 0; i < routers_.size(); ++i) {
    routers_[i].socket = sockets_.size();
    sockets_.push_back({routers_[i].endpoint, Role::kRouter, i});
  }
  for (size_t i = 0; i < bbmds_.size(); ++i) {
    bbmds_[i].socket = sockets_.size();
    sockets_.push_back({bbmds_[i].endpoint, Role::kBbmd, i});
  }
}

void Responder::SetBound(size_t socket, const Endpoint& actual) {
  if (socket >= sockets_.size()) return;
  SocketSpec& s = sockets_[socket];
  s.endpoint = actual;
  switch (s.role) {
    case Role::kDevice: building_.devices[s.index].address = actual; break;
    case Role::kRouter: routers_[s.index].endpoint = actual; break;
    case Role::kBbmd: bbmds_[s.index].endpoint = actual; break;
    case Role::kBroadcast: building_.broadcast = actual; break;
  }
}

void Responder::Ignored(const Incoming& in, const char* why, std::vector<std::string>& log) const {
  if (!options_.verbose) return;
  log.push_back("ignored " + sockets_[in.socket].endpoint.ToString() + " from=" + in.from.ToString() +
                " len=" + std::to_string(in.size) + " " + why);
}

void Responder::Handle(const Incoming& in, double seconds, std::vector<Outgoing>& out, std::vector<std::string>& log) {
  if (in.socket >= sockets_.size()) return;
  const SocketSpec& s = sockets_[in.socket];
  Bvll bvll;
  if (!ParseBvll(in.data, in.size, bvll)) return Ignored(in, "not-bvll", log);
  Endpoint sender = in.from;
  bool bvllBroadcast = false;
  switch (bvll.function) {
    case bvlc::kOriginalUnicast:
      break;
    case bvlc::kOriginalBroadcast:
      bvllBroadcast = true;
      break;
    case bvlc::kForwardedNpdu:
      // A broadcast relayed by a BBMD from its subnet: answers go to the
      // station that sent it, whose address the header carries.
      sender = bvll.origin;
      bvllBroadcast = true;
      break;
    case bvlc::kDistributeBroadcast:
      if (s.role != Role::kBbmd) return HandleBvllManagement(in, s, bvll.function, out, log);
      bvllBroadcast = true;
      break;
    case bvlc::kWriteBdt:
    case bvlc::kReadBdt:
    case bvlc::kRegisterForeignDevice:
    case bvlc::kReadFdt:
    case bvlc::kDeleteFdtEntry:
      return HandleBvllManagement(in, s, bvll.function, out, log);
    default:
      return Ignored(in, "bvll-function", log);
  }
  Npdu npdu;
  if (!ParseNpdu(in.data, in.size, bvll.payload, npdu)) return Ignored(in, "bad-npdu", log);
  if (npdu.networkMessage) return HandleNetworkMessage(in, s, npdu, sender, out, log);
  if (npdu.apdu >= in.size) return Ignored(in, "no-apdu", log);

  bool broadcast = bvllBroadcast;
  std::vector<size_t> devices;
  if (!Targets(in, s, npdu, bvllBroadcast, sender, broadcast, devices, out, log)) return;

  Request rq;
  rq.in = &in;
  rq.npdu = &npdu;
  rq.sender = sender;
  rq.apdu = in.data + npdu.apdu;
  rq.apduSize = in.size - npdu.apdu;
  rq.broadcast = broadcast;
  const uint8_t type = rq.apdu[0] & 0xF0;
  if (type == 0x10) {
    if (rq.apduSize >= 2 && rq.apdu[1] == service::kWhoIs) return WhoIs(devices, rq, out, log);
    return Ignored(in, "unconfirmed-service", log);
  }
  if (type == 0x00) {
    if (broadcast) return Ignored(in, "confirmed-broadcast", log);
    for (size_t d : devices) Confirmed(d, rq, seconds, out, log);
    return;
  }
  Ignored(in, "apdu-type", log);
}

bool Responder::Targets(const Incoming& in, const SocketSpec& s, const Npdu& n, bool bvllBroadcast,
                        const Endpoint& sender, bool& broadcast, std::vector<size_t>& devices,
                        std::vector<Outgoing>& out, std::vector<std::string>& log) {
  const size_t count = building_.devices.size();
  auto all = [&](auto pick) {
    for (size_t i = 0; i < count; ++i) {
      if (pick(i)) devices.push_back(i);
    }
  };
  auto notRouted = [&](size_t i) { return building_.devices[i].attachment != Attachment::kRouted; };
  // A frame for a remote network: the router of that network takes it.
  auto routed = [&](const Router* via) {
    if (n.hopCount == 0) {
      Ignored(in, "hop-count", log);
      return false;
    }
    auto r = networkRouter_.find(n.dnet);
    if (r == networkRouter_.end() || (via && &routers_[r->second] != via)) {
      if (via) {
        // Not a network this router reaches.
        Bytes npdu;
        Npdu rn;
        rn.networkMessage = true;
        rn.messageType = netmsg::kRejectMessageToNetwork;
        if (n.hasSource) {
          rn.hasDest = true;
          rn.dnet = n.snet;
          rn.dadr = n.sadr;
        }
        WriteNpdu(npdu, rn);
        npdu.push_back(1);  // not directly connected
        npdu.push_back(static_cast<uint8_t>(n.dnet >> 8));
        npdu.push_back(static_cast<uint8_t>(n.dnet));
        out.push_back({in.socket, sender, BuildBvll(bvlc::kOriginalUnicast, npdu), 0});
        log.push_back("router " + s.endpoint.AddressText() + " dnet=" + std::to_string(n.dnet) + " from=" +
                      sender.ToString() + " -> reject-message-to-network not-directly-connected");
      } else {
        Ignored(in, "unknown-network", log);
      }
      return false;
    }
    if (n.dadr.empty()) {
      broadcast = true;
      all([&](size_t i) {
        const SimDevice& d = building_.devices[i];
        return d.attachment == Attachment::kRouted && d.network == n.dnet;
      });
      return true;
    }
    auto st = stations_.find({n.dnet, n.dadr});
    if (st == stations_.end()) {
      Ignored(in, "unknown-station", log);
      return false;
    }
    devices.push_back(st->second);
    return true;
  };

  switch (s.role) {
    case Role::kDevice:
      if (n.hasDest && !n.IsGlobalBroadcast()) {
        Ignored(in, "not-a-router", log);
        return false;
      }
      broadcast = broadcast || n.IsGlobalBroadcast();
      devices.push_back(s.index);
      return true;
    case Role::kBroadcast:
      broadcast = true;
      if (!n.hasDest) {
        all(notRouted);
      } else if (n.IsGlobalBroadcast()) {
        all([](size_t) { return true; });
      } else {
        return routed(nullptr);
      }
      return true;
    case Role::kRouter: {
      if (!n.hasDest) {
        Ignored(in, "router-is-not-a-device", log);
        return false;
      }
      if (n.IsGlobalBroadcast()) {
        broadcast = true;
        all([&](size_t i) { return deviceRouter_[i] == s.index; });
        return true;
      }
      return routed(&routers_[s.index]);
    }
    case Role::kBbmd: {
      const Bbmd& m = bbmds_[s.index];
      // A BBMD distributes broadcasts (and a Who-Is sent to it directly) to
      // its subnet; it is not a device itself.
      const bool isWhoIs = in.size > n.apdu + 1 && in.data[n.apdu] == 0x10 && in.data[n.apdu + 1] == service::kWhoIs;
      if ((n.hasDest && !n.IsGlobalBroadcast()) || (!bvllBroadcast && !isWhoIs)) {
        Ignored(in, "bbmd-is-not-a-device", log);
        return false;
      }
      broadcast = true;
      devices = m.devices;
      return true;
    }
  }
  return false;
}

void Responder::HandleBvllManagement(const Incoming& in, const SocketSpec& s, uint8_t function,
                                     std::vector<Outgoing>& out, std::vector<std::string>& log) {
  if (s.role == Role::kBroadcast) return Ignored(in, "bvll-broadcast", log);
  Bytes reply;
  std::string result;
  const bool bbmd = s.role == Role::kBbmd;
  switch (function) {
    case bvlc::kWriteBdt: reply = BuildBvlcResult(bvlc::kWriteBdtNak); break;
    case bvlc::kReadBdt:
      if (bbmd) {
        // One entry: this BBMD, all-ones mask (directed broadcasts not used).
        const Endpoint& e = s.endpoint;
        reply = {bvlc::kType, bvlc::kReadBdtAck, 0, 14, static_cast<uint8_t>(e.ip >> 24), static_cast<uint8_t>(e.ip >> 16),
                 static_cast<uint8_t>(e.ip >> 8), static_cast<uint8_t>(e.ip), static_cast<uint8_t>(e.port >> 8),
                 static_cast<uint8_t>(e.port), 255, 255, 255, 255};
        result = "read-bdt-ack 1";
      } else {
        reply = BuildBvlcResult(bvlc::kReadBdtNak);
      }
      break;
    case bvlc::kRegisterForeignDevice:
      reply = BuildBvlcResult(bbmd ? bvlc::kSuccess : bvlc::kRegisterFdNak);
      break;
    case bvlc::kReadFdt:
      if (bbmd) {
        reply = {bvlc::kType, bvlc::kReadFdtAck, 0, 4};
        result = "read-fdt-ack 0";
      } else {
        reply = BuildBvlcResult(bvlc::kReadFdtNak);
      }
      break;
    case bvlc::kDeleteFdtEntry: reply = BuildBvlcResult(bvlc::kDeleteFdtNak); break;
    case bvlc::kDistributeBroadcast: reply = BuildBvlcResult(bvlc::kDistributeNak); break;
    default: return;
  }
  if (result.empty()) result = "result " + Hex16(static_cast<uint16_t>((reply[4] << 8) | reply[5]));
  out.push_back({in.socket, in.from, std::move(reply), 0});
  log.push_back("bvll " + s.endpoint.AddressText() + " " + BvllName(function) + " from=" + in.from.ToString() + " -> " +
                result);
}

void Responder::HandleNetworkMessage(const Incoming& in, const SocketSpec& s, const Npdu& n, const Endpoint& sender,
                                     std::vector<Outgoing>& out, std::vector<std::string>& log) {
  if (n.messageType != netmsg::kWhoIsRouterToNetwork) return Ignored(in, "network-message", log);
  if (s.role != Role::kRouter && s.role != Role::kBroadcast) return Ignored(in, "network-message", log);
  if (n.hasDest && !n.IsGlobalBroadcast()) return Ignored(in, "network-message", log);
  bool asked = false;
  uint16_t network = 0;
  const size_t left = in.size - n.apdu;
  if (left >= 2) {
    asked = true;
    network = static_cast<uint16_t>((in.data[n.apdu] << 8) | in.data[n.apdu + 1]);
  } else if (left != 0) {
    return Ignored(in, "network-message", log);
  }
  for (size_t i = 0; i < routers_.size(); ++i) {
    const Router& r = routers_[i];
    if (s.role == Role::kRouter && s.index != i) continue;
    std::vector<uint16_t> nets;
    for (uint16_t net : r.networks) {
      if (!asked || net == network) nets.push_back(net);
    }
    if (nets.empty()) continue;
    Npdu rn;
    rn.networkMessage = true;
    rn.messageType = netmsg::kIAmRouterToNetwork;
    if (n.hasSource) {
      rn.hasDest = true;
      rn.dnet = n.snet;
      rn.dadr = n.sadr;
    }
    Bytes npdu;
    WriteNpdu(npdu, rn);
    std::string list;
    for (uint16_t net : nets) {
      npdu.push_back(static_cast<uint8_t>(net >> 8));
      npdu.push_back(static_cast<uint8_t>(net));
      list += (list.empty() ? "" : ",") + std::to_string(net);
    }
    out.push_back({r.socket, sender, BuildBvll(bvlc::kOriginalUnicast, npdu), 0});
    log.push_back("router " + r.endpoint.AddressText() + " who-is-router-to-network from=" + sender.ToString() +
                  " -> i-am-router-to-network " + list);
  }
}

Outgoing Responder::Reply(size_t device, const Request& rq, const Bytes& apdu, bool broadcast) const {
  const SimDevice& d = building_.devices[device];
  Npdu n;
  n.priority = rq.npdu->priority;
  if (d.attachment == Attachment::kRouted) {
    n.hasSource = true;
    n.snet = d.network;
    n.sadr = d.mac;
  }
  if (broadcast) {
    n.hasDest = true;
    n.dnet = 0xFFFF;
  } else if (rq.npdu->hasSource) {
    // The requester is on another network: back through its router.
    n.hasDest = true;
    n.dnet = rq.npdu->snet;
    n.dadr = rq.npdu->sadr;
  }
  Bytes payload;
  WriteNpdu(payload, n);
  payload.insert(payload.end(), apdu.begin(), apdu.end());
  Outgoing o;
  o.to = broadcast ? building_.broadcast : rq.sender;
  o.delayMs = d.knobs.delayMs;
  switch (d.attachment) {
    case Attachment::kLocal:
      o.socket = deviceSocket_[device];
      o.data = BuildBvll(broadcast ? bvlc::kOriginalBroadcast : bvlc::kOriginalUnicast, payload);
      break;
    case Attachment::kRouted:
      o.socket = routers_[deviceRouter_[device]].socket;
      o.data = BuildBvll(broadcast ? bvlc::kOriginalBroadcast : bvlc::kOriginalUnicast, payload);
      break;
    case Attachment::kRelayed:
      // The BBMD of our subnet relays what the device sent on its own.
      o.socket = bbmds_[deviceBbmd_[device]].socket;
      o.data = BuildBvll(bvlc::kForwardedNpdu, payload, &sockets_[deviceSocket_[device]].endpoint);
      break;
  }
  return o;
}

void Responder::WhoIs(const std::vector<size_t>& devices, const Request& rq, std::vector<Outgoing>& out,
                      std::vector<std::string>& log) {
  Reader r(rq.apdu + 2, rq.apduSize - 2);
  bool ranged = false;
  uint64_t lo = 0, hi = kWildcardInstance;
  if (!r.AtEnd()) {
    if (!r.ReadContextUnsigned(0, lo) || !r.ReadContextUnsigned(1, hi) || !r.AtEnd() || lo > kWildcardInstance ||
        hi > kWildcardInstance) {
      return Ignored(*rq.in, "bad-who-is", log);
    }
    ranged = true;
  }
  std::vector<size_t> matched;
  for (size_t d : devices) {
    const uint32_t inst = building_.devices[d].instance;
    if (inst >= lo && inst <= hi) matched.push_back(d);
  }
  const SocketSpec& s = sockets_[rq.in->socket];
  log.push_back("whois " + s.endpoint.ToString() + " from=" + rq.sender.ToString() + " range=" +
                (ranged ? std::to_string(lo) + "-" + std::to_string(hi) : std::string("any")) +
                " matched=" + std::to_string(matched.size()));
  for (size_t k = 0; k < matched.size(); ++k) {
    const SimDevice& d = building_.devices[matched[k]];
    Bytes apdu = {0x10, service::kIAm};
    EncodeValue(apdu, Value::Oid(obj::kDevice, d.instance));
    EncodeValue(apdu, Value::Unsigned(kMaxApdu));
    EncodeValue(apdu, Value::Enumerated(3));  // no-segmentation
    EncodeValue(apdu, Value::Unsigned(d.vendorId));
    Outgoing o = Reply(matched[k], rq, apdu, options_.iamBroadcast);
    if (options_.iamSpreadMs && matched.size() > 1) {
      o.delayMs += static_cast<uint32_t>(uint64_t{options_.iamSpreadMs} * k / matched.size());
    }
    log.push_back("iam " + DeviceLabel(d) + " dev=" + std::to_string(d.instance) + " to=" + o.to.ToString());
    out.push_back(std::move(o));
  }
}

namespace {

// What a ReadProperty reads: values, or an error class and code.
struct ReadResult {
  std::vector<Value> values;
  bool error = false;
  uint8_t errorClass = 0, errorCode = 0;
  void Fail(uint8_t cls, uint8_t code) {
    error = true;
    errorClass = cls;
    errorCode = code;
  }
};

void ReadDevice(const SimDevice& d, uint32_t property, bool hasIndex, uint64_t index, ReadResult& r) {
  if (property == prop::kObjectList) {
    const uint64_t count = d.objects.size() + 1;
    auto oid = [&](uint64_t i) {
      return i == 0 ? Value::Oid(obj::kDevice, d.instance) : Value::Oid(d.objects[i - 1].type, d.objects[i - 1].instance);
    };
    if (!hasIndex) {
      for (uint64_t i = 0; i < count; ++i) r.values.push_back(oid(i));
    } else if (index == 0) {
      r.values.push_back(Value::Unsigned(count));
    } else if (index <= count) {
      r.values.push_back(oid(index - 1));
    } else {
      r.Fail(errclass::kProperty, errcode::kInvalidArrayIndex);
    }
    return;
  }
  Value v;
  switch (property) {
    case prop::kObjectIdentifier: v = Value::Oid(obj::kDevice, d.instance); break;
    case prop::kObjectName: v = Value::CharString(d.name); break;
    case prop::kObjectType: v = Value::Enumerated(obj::kDevice); break;
    case prop::kSystemStatus: v = Value::Enumerated(0); break;  // operational
    case prop::kVendorName: v = Value::CharString(d.vendor); break;
    case prop::kVendorIdentifier: v = Value::Unsigned(d.vendorId); break;
    case prop::kModelName: v = Value::CharString(d.model); break;
    case prop::kFirmwareRevision: v = Value::CharString(d.firmware); break;
    case prop::kAppSoftwareVersion: v = Value::CharString(d.appVersion); break;
    case prop::kDescription: v = Value::CharString(d.description); break;
    case prop::kProtocolVersion: v = Value::Unsigned(1); break;
    case prop::kProtocolRevision: v = Value::Unsigned(14); break;
    case prop::kMaxApduLengthAccepted: v = Value::Unsigned(kMaxApdu); break;
    case prop::kSegmentationSupported: v = Value::Enumerated(3); break;  // no-segmentation
    default: return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
  }
  if (hasIndex) return r.Fail(errclass::kProperty, errcode::kPropertyIsNotAnArray);
  r.values.push_back(std::move(v));
}

void ReadObject(const SimObject& o, uint32_t property, bool hasIndex, double seconds, ReadResult& r) {
  const bool analog = o.type <= obj::kAnalogValue;
  const bool multi = o.type == obj::kMultiStateInput || o.type == obj::kMultiStateOutput || o.type == obj::kMultiStateValue;
  const bool nc = o.type == obj::kNotificationClass;
  Value v;
  switch (property) {
    case prop::kObjectIdentifier: v = Value::Oid(o.type, o.instance); break;
    case prop::kObjectName: v = Value::CharString(o.name); break;
    case prop::kObjectType: v = Value::Enumerated(o.type); break;
    case prop::kPresentValue:
      // A notification class has no present value.
      if (nc) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = PresentValue(o, seconds);
      break;
    case prop::kStatusFlags:
      if (nc) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = Value::BitString({false, false, false, false});
      break;
    case prop::kEventState:
      if (nc) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = Value::Enumerated(0);  // normal
      break;
    case prop::kOutOfService:
      if (nc) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = Value::Bool(false);
      break;
    case prop::kUnits:
      if (!analog) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = Value::Enumerated(o.units);
      break;
    case prop::kNumberOfStates:
      if (!multi) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = Value::Unsigned(o.states);
      break;
    case prop::kNotificationClass:
      if (!nc) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = Value::Unsigned(o.instance);
      break;
    case prop::kDescription:
      if (o.description.empty()) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = Value::CharString(o.description);
      break;
    default: return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
  }
  if (hasIndex) return r.Fail(errclass::kProperty, errcode::kPropertyIsNotAnArray);
  r.values.push_back(std::move(v));
}

size_t MaxApduOf(uint8_t code) {
  static const size_t sizes[] = {50, 128, 206, 480, 1024, 1476};
  return code < 6 ? sizes[code] : kMaxApdu;
}

}  // namespace

void Responder::Confirmed(size_t device, const Request& rq, double seconds, std::vector<Outgoing>& out,
                          std::vector<std::string>& log) {
  const SimDevice& d = building_.devices[device];
  const uint8_t* a = rq.apdu;
  const size_t n = rq.apduSize;
  if (n < 4) return Ignored(*rq.in, "short-confirmed-request", log);
  const bool segmented = (a[0] & 0x08) != 0;
  const uint8_t invoke = a[2];
  const size_t maxApdu = std::min(MaxApduOf(a[1] & 0x0F), kMaxApdu);
  const std::string tail = " id=" + std::to_string(invoke) + " from=" + rq.sender.ToString();
  const std::string who = DeviceLabel(d) + " dev=" + std::to_string(d.instance);
  auto send = [&](const Bytes& apdu) { out.push_back(Reply(device, rq, apdu)); };
  auto abort = [&](uint8_t reason, const std::string& what) {
    send({0x71, invoke, reason});
    log.push_back(what + " -> abort " + AbortReasonName(reason) + tail);
  };
  if (segmented) {
    // No segmentation here: a segmented request is refused as a whole.
    if (n < 6) return Ignored(*rq.in, "short-confirmed-request", log);
    return abort(abort_reason::kSegmentationNotSupported, "svc " + who + " service=" + std::to_string(a[5]));
  }
  const uint8_t choice = a[3];
  std::string what = "svc " + who + " service=" + std::to_string(choice);

  // ReadProperty arguments, read first so that the log line can name them.
  Reader r(a + 4, n - 4);
  ObjectId oid;
  uint64_t property = 0, index = 0;
  bool hasIndex = false;
  uint8_t rejectReason = 0xFF;
  if (choice == service::kReadProperty) {
    if (!r.ReadContextObjectId(0, oid)) {
      rejectReason = r.AtEnd() ? reject::kMissingRequiredParameter : reject::kInvalidTag;
    } else if (!r.ReadContextUnsigned(1, property)) {
      rejectReason = r.AtEnd() ? reject::kMissingRequiredParameter : reject::kInvalidTag;
    } else if (r.NextIsContext(2)) {
      hasIndex = true;
      if (!r.ReadContextUnsigned(2, index)) rejectReason = reject::kInvalidTag;
    }
    if (rejectReason == 0xFF && !r.AtEnd()) rejectReason = reject::kTooManyArguments;
    if (rejectReason == 0xFF && (property > kWildcardInstance || index > 0xFFFFFFFFu)) {
      rejectReason = reject::kParameterOutOfRange;
    }
    if (rejectReason == 0xFF) {
      what = "rp " + who + " " + ObjectTypeShort(oid.type) + ":" + std::to_string(oid.instance) + " " +
             PropertyName(static_cast<uint32_t>(property)) + (hasIndex ? "[" + std::to_string(index) + "]" : "");
    }
  } else {
    rejectReason = reject::kUnrecognizedService;
  }

  const uint64_t count = ++requests_[device];
  if (d.knobs.dropEvery && count % d.knobs.dropEvery == 0) {
    log.push_back(what + " -> drop" + tail);
    return;
  }
  if (d.knobs.errorEvery && count % d.knobs.errorEvery == 0) {
    Bytes apdu = {0x50, invoke, choice};
    EncodeValue(apdu, Value::Enumerated(d.knobs.errorClass));
    EncodeValue(apdu, Value::Enumerated(d.knobs.errorCode));
    send(apdu);
    log.push_back(what + " -> error " + ErrorClassName(d.knobs.errorClass) + " " + ErrorCodeName(d.knobs.errorCode) +
                  tail);
    return;
  }
  if (rejectReason != 0xFF) {
    send({0x60, invoke, rejectReason});
    log.push_back(what + " -> reject " + RejectReasonName(rejectReason) + tail);
    return;
  }

  ReadResult result;
  const bool isDevice = oid.type == obj::kDevice && (oid.instance == d.instance || oid.instance == kWildcardInstance);
  ObjectId answered = oid;
  if (isDevice) {
    answered.instance = d.instance;
    ReadDevice(d, static_cast<uint32_t>(property), hasIndex, index, result);
  } else {
    auto o = std::find_if(d.objects.begin(), d.objects.end(),
                          [&](const SimObject& x) { return x.type == oid.type && x.instance == oid.instance; });
    if (o == d.objects.end()) {
      result.Fail(errclass::kObject, errcode::kUnknownObject);
    } else {
      ReadObject(*o, static_cast<uint32_t>(property), hasIndex, seconds, result);
    }
  }
  if (result.error) {
    Bytes apdu = {0x50, invoke, choice};
    EncodeValue(apdu, Value::Enumerated(result.errorClass));
    EncodeValue(apdu, Value::Enumerated(result.errorCode));
    send(apdu);
    log.push_back(what + " -> error " + ErrorClassName(result.errorClass) + " " + ErrorCodeName(result.errorCode) +
                  tail);
    return;
  }
  Bytes apdu = {0x30, invoke, choice};
  EncodeContextObjectId(apdu, 0, answered);
  EncodeContextUnsigned(apdu, 1, property);
  if (hasIndex) EncodeContextUnsigned(apdu, 2, index);
  EncodeOpening(apdu, 3);
  for (const Value& v : result.values) EncodeValue(apdu, v);
  EncodeClosing(apdu, 3);
  if (apdu.size() > maxApdu) return abort(abort_reason::kSegmentationNotSupported, what);
  send(apdu);
  log.push_back(what + " -> " + (result.values.size() == 1 ? Describe(result.values[0])
                                                          : "list " + std::to_string(result.values.size())) +
                tail);
}

}  // namespace bacsim
