// Routing: the B/IP link (BVLL management, broadcasts, BBMDs) and the
// network layer (routers and their networks): which devices a request
// reaches, and how their answers find the way back.
#include <algorithm>

#include "names.h"
#include "responder.h"

namespace bacsim {

namespace {

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

// A Reject-Message-To-Network for dnet, back to where the request came from.
Bytes RejectMessageToNetwork(const Npdu& request) {
  Bytes npdu;
  Npdu rn;
  rn.networkMessage = true;
  rn.messageType = netmsg::kRejectMessageToNetwork;
  if (request.hasSource) {
    rn.hasDest = true;
    rn.dnet = request.snet;
    rn.dadr = request.sadr;
  }
  WriteNpdu(npdu, rn);
  npdu.push_back(1);  // not directly connected
  npdu.push_back(static_cast<uint8_t>(request.dnet >> 8));
  npdu.push_back(static_cast<uint8_t>(request.dnet));
  return BuildBvll(bvlc::kOriginalUnicast, npdu);
}

}  // namespace

std::optional<Responder::Reach> Responder::Targets(const Request& rq, std::vector<Outgoing>& out,
                                                   std::vector<std::string>& log) {
  const Incoming& in = *rq.in;
  const SocketSpec& s = *rq.socket;
  const Npdu& n = rq.npdu;
  Reach reach;
  reach.broadcast = rq.bvllBroadcast;
  auto all = [&](auto pick) {
    for (size_t i = 0; i < building_.devices.size(); ++i) {
      if (pick(i)) reach.devices.push_back(i);
    }
  };
  switch (s.role) {
    case Role::kDevice:
      if (n.hasDest && !n.IsGlobalBroadcast()) {
        Ignored(in, "not-a-router", log);
        return std::nullopt;
      }
      reach.broadcast = reach.broadcast || n.IsGlobalBroadcast();
      reach.devices.push_back(s.index);
      return reach;
    case Role::kBroadcast:
      if (n.hasDest && !n.IsGlobalBroadcast()) {
        // Whatever it reaches there, it came to everyone here.
        std::optional<Reach> remote = ThroughRouter(rq, nullptr, out, log);
        if (remote) remote->broadcast = true;
        return remote;
      }
      reach.broadcast = true;
      if (n.hasDest) {
        all([](size_t) { return true; });
      } else {
        all([&](size_t i) { return building_.devices[i].attachment != Attachment::kRouted; });
      }
      return reach;
    case Role::kRouter:
      if (!n.hasDest) {
        Ignored(in, "router-is-not-a-device", log);
        return std::nullopt;
      }
      if (!n.IsGlobalBroadcast()) return ThroughRouter(rq, &routers_[s.index], out, log);
      reach.broadcast = true;
      all([&](size_t i) { return deviceRouter_[i] == s.index; });
      return reach;
    case Role::kBbmd: {
      if (rq.fromForeignDevice) {
        // For a registered foreign device the BBMD broadcasts on its subnet
        // and has its peers do the same: it reaches what a broadcast at the
        // broadcast address reaches.
        reach.broadcast = true;
        if (n.hasDest && !n.IsGlobalBroadcast()) {
          std::optional<Reach> remote = ThroughRouter(rq, nullptr, out, log);
          if (remote) remote->broadcast = true;
          return remote;
        }
        all([&](size_t i) { return n.hasDest || building_.devices[i].attachment != Attachment::kRouted; });
        return reach;
      }
      // A BBMD distributes broadcasts (and a Who-Is sent to it directly) to
      // its subnet; it is not a device itself.
      const bool isWhoIs = rq.apduSize > 1 && rq.apdu[0] == 0x10 && rq.apdu[1] == service::kWhoIs;
      if ((n.hasDest && !n.IsGlobalBroadcast()) || (!rq.bvllBroadcast && !isWhoIs)) {
        Ignored(in, "bbmd-is-not-a-device", log);
        return std::nullopt;
      }
      reach.broadcast = true;
      reach.devices = bbmds_[s.index].devices;
      return reach;
    }
  }
  return std::nullopt;
}

std::optional<Responder::Reach> Responder::ThroughRouter(const Request& rq, const Router* via,
                                                         std::vector<Outgoing>& out, std::vector<std::string>& log) {
  const Incoming& in = *rq.in;
  const Npdu& n = rq.npdu;
  if (n.hopCount == 0) {
    Ignored(in, "hop-count", log);
    return std::nullopt;
  }
  auto r = networkRouter_.find(n.dnet);
  if (r == networkRouter_.end() || (via && &routers_[r->second] != via)) {
    if (!via) {
      Ignored(in, "unknown-network", log);
      return std::nullopt;
    }
    // Not a network this router reaches.
    out.push_back({in.socket, rq.sender, RejectMessageToNetwork(n), 0});
    log.push_back("router " + rq.socket->endpoint.AddressText() + " dnet=" + std::to_string(n.dnet) + " from=" +
                  rq.sender.ToString() + " -> reject-message-to-network not-directly-connected");
    return std::nullopt;
  }
  Reach reach;
  reach.broadcast = rq.bvllBroadcast;
  if (n.dadr.empty()) {
    reach.broadcast = true;
    for (size_t i = 0; i < building_.devices.size(); ++i) {
      const SimDevice& d = building_.devices[i];
      if (d.attachment == Attachment::kRouted && d.network == n.dnet) reach.devices.push_back(i);
    }
    return reach;
  }
  auto st = stations_.find({n.dnet, n.dadr});
  if (st == stations_.end()) {
    Ignored(in, "unknown-station", log);
    return std::nullopt;
  }
  reach.devices.push_back(st->second);
  return reach;
}

void Responder::HandleBvllManagement(const Incoming& in, const SocketSpec& s, const Bvll& bvll,
                                     std::vector<Outgoing>& out, std::vector<std::string>& log) {
  if (s.role == Role::kBroadcast) return Ignored(in, "bvll-broadcast", log);
  const uint8_t function = bvll.function;
  Bytes reply;
  std::string result;
  const bool bbmd = s.role == Role::kBbmd;
  const uint8_t* body = in.data + bvll.payload;
  const size_t bodySize = in.size - bvll.payload;
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
      if (!bbmd || bodySize != 2 || options_.bbmdNak) {
        reply = BuildBvlcResult(bvlc::kRegisterFdNak);
      } else {
        const uint16_t ttl = static_cast<uint16_t>((body[0] << 8) | body[1]);
        bbmds_[s.index].foreign[in.from] = {ttl, now_ + ttl + 30.0};
        reply = BuildBvlcResult(bvlc::kSuccess);
        result = "result 0x0000 ttl=" + std::to_string(ttl);
      }
      break;
    case bvlc::kReadFdt:
      if (bbmd) {
        // Each entry: B/IP address, time to live, seconds remaining.
        reply = {bvlc::kType, bvlc::kReadFdtAck, 0, 4};
        size_t n = 0;
        for (const auto& [e, entry] : bbmds_[s.index].foreign) {
          if (entry.expires <= now_) continue;
          const auto left = static_cast<uint16_t>(std::min(65535.0, entry.expires - now_));
          for (uint8_t o : {static_cast<uint8_t>(e.ip >> 24), static_cast<uint8_t>(e.ip >> 16),
                            static_cast<uint8_t>(e.ip >> 8), static_cast<uint8_t>(e.ip),
                            static_cast<uint8_t>(e.port >> 8), static_cast<uint8_t>(e.port),
                            static_cast<uint8_t>(entry.ttl >> 8), static_cast<uint8_t>(entry.ttl),
                            static_cast<uint8_t>(left >> 8), static_cast<uint8_t>(left)})
            reply.push_back(o);
          ++n;
        }
        reply[2] = static_cast<uint8_t>(reply.size() >> 8);
        reply[3] = static_cast<uint8_t>(reply.size());
        result = "read-fdt-ack " + std::to_string(n);
      } else {
        reply = BuildBvlcResult(bvlc::kReadFdtNak);
      }
      break;
    case bvlc::kDeleteFdtEntry: {
      bool deleted = false;
      if (bbmd && bodySize == 6) {
        Endpoint e;
        e.ip = (uint32_t{body[0]} << 24) | (uint32_t{body[1]} << 16) | (uint32_t{body[2]} << 8) | body[3];
        e.port = static_cast<uint16_t>((body[4] << 8) | body[5]);
        deleted = bbmds_[s.index].foreign.erase(e) > 0;
      }
      reply = BuildBvlcResult(deleted ? bvlc::kSuccess : bvlc::kDeleteFdtNak);
      break;
    }
    case bvlc::kDistributeBroadcast: reply = BuildBvlcResult(bvlc::kDistributeNak); break;
    default: return;
  }
  if (result.empty()) result = "result " + Hex16(static_cast<uint16_t>((reply[4] << 8) | reply[5]));
  out.push_back({in.socket, in.from, std::move(reply), 0});
  log.push_back("bvll " + s.endpoint.AddressText() + " " + BvllName(function) + " from=" + in.from.ToString() + " -> " +
                result);
}

void Responder::HandleNetworkMessage(const Request& rq, std::vector<Outgoing>& out, std::vector<std::string>& log) {
  const Incoming& in = *rq.in;
  const SocketSpec& s = *rq.socket;
  const Npdu& n = rq.npdu;
  const Endpoint& sender = rq.sender;
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
void Responder::ForwardToForeignDevices(Outgoing broadcast, size_t device, std::vector<Outgoing>& out) {
  Bvll header;
  if (!ParseBvll(broadcast.data.data(), broadcast.data.size(), header)) return;
  const Bytes npdu(broadcast.data.begin() + static_cast<std::ptrdiff_t>(header.payload), broadcast.data.end());
  const Endpoint& origin = building_.devices[device].attachment == Attachment::kRouted
                               ? routers_[deviceRouter_[device]].endpoint
                               : sockets_[deviceSocket_[device]].endpoint;
  for (const Bbmd& b : bbmds_) {
    for (const auto& [fd, entry] : b.foreign) {
      if (entry.expires <= now_) continue;
      out.push_back({b.socket, fd, BuildBvll(bvlc::kForwardedNpdu, npdu, &origin), broadcast.delayMs});
    }
  }
}

Outgoing Responder::Reply(size_t device, const Request& rq, const Bytes& apdu, bool broadcast) const {
  const SimDevice& d = building_.devices[device];
  Npdu n;
  n.priority = rq.npdu.priority;
  if (d.attachment == Attachment::kRouted) {
    n.hasSource = true;
    n.snet = d.network;
    n.sadr = d.mac;
  }
  if (broadcast) {
    n.hasDest = true;
    n.dnet = 0xFFFF;
  } else if (rq.npdu.hasSource) {
    // The requester is on another network: back through its router.
    n.hasDest = true;
    n.dnet = rq.npdu.snet;
    n.dadr = rq.npdu.sadr;
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

}  // namespace bacsim
