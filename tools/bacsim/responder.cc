// Construction of the simulated network and the first look at every
// datagram: which layer it is for. Routing (routing.cc) decides which
// devices hear it, the services (services.cc) what they answer.
#include "responder.h"

#include <algorithm>

#include "names.h"

namespace bacsim {

Responder::Responder(Building b, ResponderOptions options) : building_(std::move(b)), options_(options) {
  const size_t n = building_.devices.size();
  deviceSocket_.assign(n, SIZE_MAX);
  deviceBbmd_.assign(n, SIZE_MAX);
  deviceRouter_.assign(n, SIZE_MAX);
  requests_.assign(n, 0);
  notifications_.assign(n, 0);
  covInvoke_.assign(n, 0);
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
        bbmds_.push_back({d.via, 0, {}, {}});
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
  now_ = seconds;
  const SocketSpec& s = sockets_[in.socket];
  Bvll bvll;
  if (!ParseBvll(in.data, in.size, bvll)) return Ignored(in, "not-bvll", log);
  Request rq;
  rq.in = &in;
  rq.socket = &s;
  rq.sender = in.from;
  switch (bvll.function) {
    case bvlc::kOriginalUnicast:
      if (s.role == Role::kBroadcast && !options_.lenientBroadcast) return Ignored(in, "unicast-to-broadcast", log);
      break;
    case bvlc::kOriginalBroadcast:
      rq.bvllBroadcast = true;
      break;
    case bvlc::kForwardedNpdu:
      // A broadcast relayed by a BBMD from its subnet: answers go to the
      // station that sent it, whose address the header carries.
      rq.sender = bvll.origin;
      rq.bvllBroadcast = true;
      break;
    case bvlc::kDistributeBroadcast:
      if (s.role != Role::kBbmd) return HandleBvllManagement(in, s, bvll, out, log);
      rq.bvllBroadcast = true;
      rq.fromForeignDevice = bbmds_[s.index].Registered(in.from, seconds);
      break;
    case bvlc::kWriteBdt:
    case bvlc::kReadBdt:
    case bvlc::kRegisterForeignDevice:
    case bvlc::kReadFdt:
    case bvlc::kDeleteFdtEntry:
      return HandleBvllManagement(in, s, bvll, out, log);
    default:
      return Ignored(in, "bvll-function", log);
  }
  if (!ParseNpdu(in.data, in.size, bvll.payload, rq.npdu)) return Ignored(in, "bad-npdu", log);
  if (rq.npdu.networkMessage) return HandleNetworkMessage(rq, out, log);
  if (rq.npdu.apdu >= in.size) return Ignored(in, "no-apdu", log);
  rq.apdu = in.data + rq.npdu.apdu;
  rq.apduSize = in.size - rq.npdu.apdu;

  const std::optional<Reach> reach = Targets(rq, out, log);
  if (!reach) return;
  rq.broadcast = reach->broadcast;
  const uint8_t type = rq.apdu[0] & 0xF0;
  if (type == 0x10) {
    if (rq.apduSize >= 2 && rq.apdu[1] == service::kWhoIs) return WhoIs(reach->devices, rq, out, log);
    return Ignored(in, "unconfirmed-service", log);
  }
  if (type == 0x00) {
    if (rq.broadcast) return Ignored(in, "confirmed-broadcast", log);
    for (size_t d : reach->devices) Confirmed(d, rq, seconds, out, log);
    return;
  }
  if (type == 0x20) return CovAck(rq, reach->devices, log);
  Ignored(in, "apdu-type", log);
}

}  // namespace bacsim
