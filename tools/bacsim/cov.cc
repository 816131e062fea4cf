// Change-of-value reporting of the simulated devices: SubscribeCOV, the
// table of subscribers per object with their lifetimes, and the
// notifications sent when a present value changes (confirmed ones resent
// until their Simple-ACK comes).
#include <algorithm>
#include <cmath>

#include "names.h"
#include "responder.h"

namespace bacsim {

namespace {

bool IsAnalog(uint16_t type) {
  return type == obj::kAnalogInput || type == obj::kAnalogOutput || type == obj::kAnalogValue;
}
bool HasCov(uint16_t type) {
  return IsAnalog(type) || type == obj::kBinaryInput || type == obj::kBinaryOutput || type == obj::kBinaryValue ||
         type == obj::kMultiStateInput || type == obj::kMultiStateOutput || type == obj::kMultiStateValue;
}

// Analog values report a change of at least the object's increment, the
// others every change.
bool Changed(const SimObject& o, const Value& last, const Value& now) {
  if (last.tag != now.tag) return true;
  if (IsAnalog(o.type)) return std::fabs(double{now.real} - double{last.real}) >= o.covIncrement;
  return now.u != last.u;
}

Bytes ErrorOf(uint8_t invoke, uint8_t cls, uint8_t code) {
  Bytes apdu = {0x50, invoke, service::kSubscribeCov};
  EncodeValue(apdu, Value::Enumerated(cls));
  EncodeValue(apdu, Value::Enumerated(code));
  return apdu;
}

}  // namespace

Bytes Responder::SubscribeCov(size_t device, const Request& rq, double seconds, std::string& outcome) {
  const uint8_t invoke = rq.apdu[2];
  Reader r(rq.apdu + 4, rq.apduSize - 4);
  uint64_t process = 0, confirmed = 0, lifetime = 0;
  ObjectId oid;
  bool cancel = true;
  uint8_t reason = 0xFF;
  if (!r.ReadContextUnsigned(0, process) || !r.ReadContextObjectId(1, oid)) {
    reason = r.AtEnd() ? reject::kMissingRequiredParameter : reject::kInvalidTag;
  } else if (r.NextIsContext(2)) {
    cancel = false;
    if (!r.ReadContextUnsigned(2, confirmed) || confirmed > 1 || (r.NextIsContext(3) && !r.ReadContextUnsigned(3, lifetime)))
      reason = reject::kInvalidTag;
  }
  if (reason == 0xFF && !r.AtEnd()) reason = reject::kTooManyArguments;
  if (reason == 0xFF && (process > 0xFFFFFFFFu || lifetime > 0xFFFFFFFFu)) reason = reject::kParameterOutOfRange;
  if (reason != 0xFF) {
    outcome = std::string("reject ") + RejectReasonName(reason);
    return {0x60, invoke, reason};
  }
  const SimDevice& d = building_.devices[device];
  const std::string what = ObjectTypeShort(oid.type) + ":" + std::to_string(oid.instance) +
                           " process=" + std::to_string(process);
  if (d.knobs.covRefuse) {
    outcome = "error services cov-subscription-failed " + what;
    return ErrorOf(invoke, errclass::kServices, errcode::kCovSubscriptionFailed);
  }
  auto o = std::find_if(d.objects.begin(), d.objects.end(),
                        [&](const SimObject& x) { return x.type == oid.type && x.instance == oid.instance; });
  if (o == d.objects.end()) {
    outcome = "error object unknown-object " + what;
    return ErrorOf(invoke, errclass::kObject, errcode::kUnknownObject);
  }
  if (!HasCov(o->type)) {
    outcome = "error services cov-subscription-failed " + what;
    return ErrorOf(invoke, errclass::kServices, errcode::kCovSubscriptionFailed);
  }
  const size_t object = static_cast<size_t>(o - d.objects.begin());
  auto same = [&](const Subscription& s) {
    return s.device == device && s.object == object && s.processId == process && s.sender == rq.sender;
  };
  auto it = std::find_if(subscriptions_.begin(), subscriptions_.end(), same);
  if (cancel) {
    if (it != subscriptions_.end()) subscriptions_.erase(it);
    outcome = "cancel " + what;
  } else {
    if (it == subscriptions_.end()) it = subscriptions_.insert(subscriptions_.end(), Subscription{});
    it->device = device;
    it->object = object;
    it->processId = process;
    it->sender = rq.sender;
    it->npdu = rq.npdu;
    it->confirmed = confirmed != 0 || d.knobs.covConfirmed;
    it->expires = lifetime == 0 ? -1 : seconds + static_cast<double>(lifetime);
    it->initial = true;  // the current value goes out with the next tick
    outcome = "subscribed " + what + " lifetime=" + std::to_string(lifetime) +
              (it->confirmed ? " confirmed" : "");
  }
  return {0x20, invoke, service::kSubscribeCov};
}

void Responder::Notify(Subscription& sub, double seconds, std::vector<Outgoing>& out, std::vector<std::string>& log) {
  const SimDevice& d = building_.devices[sub.device];
  const SimObject& o = d.objects[sub.object];
  const Value now = PresentValue(o, seconds);
  if (!sub.initial && !Changed(o, sub.last, now)) return;
  sub.initial = false;
  sub.last = now;
  const uint8_t invoke = covInvoke_[sub.device];
  Bytes apdu = sub.confirmed ? Bytes{0x00, 0x05, invoke, service::kConfirmedCovNotification}
                             : Bytes{0x10, service::kUnconfirmedCovNotification};
  EncodeContextUnsigned(apdu, 0, sub.processId);
  EncodeContextObjectId(apdu, 1, ObjectId{obj::kDevice, d.instance});
  EncodeContextObjectId(apdu, 2, ObjectId{o.type, o.instance});
  const double left = sub.expires < 0 ? 0 : std::max(0.0, std::ceil(sub.expires - seconds));
  EncodeContextUnsigned(apdu, 3, static_cast<uint64_t>(left));
  EncodeOpening(apdu, 4);
  EncodeContextUnsigned(apdu, 0, prop::kPresentValue);
  EncodeOpening(apdu, 2);
  EncodeValue(apdu, now);
  EncodeClosing(apdu, 2);
  EncodeContextUnsigned(apdu, 0, prop::kStatusFlags);
  EncodeOpening(apdu, 2);
  EncodeValue(apdu, Value::BitString({false, false, false, false}));
  EncodeClosing(apdu, 2);
  EncodeClosing(apdu, 4);

  Request rq;
  rq.sender = sub.sender;
  rq.npdu = sub.npdu;
  Outgoing frame = Reply(sub.device, rq, apdu);
  frame.delayMs = 0;
  // A confirmed request expects a reply: the NPDU control octet says so
  // (after the four or, relayed, ten octets of the envelope).
  const size_t control = (frame.data[1] == bvlc::kForwardedNpdu ? 10 : 4) + 1;
  if (sub.confirmed && frame.data.size() > control) frame.data[control] |= 0x04;
  const std::string line = std::string(sub.confirmed ? "cov-notify-confirmed " : "cov-notify ") + DeviceLabel(d) +
                           " dev=" + std::to_string(d.instance) + " " + ObjectTypeShort(o.type) + ":" +
                           std::to_string(o.instance) + " " + Describe(now) + " to=" + sub.sender.ToString();
  const uint64_t count = ++notifications_[sub.device];
  if (d.knobs.covDropEvery && count % d.knobs.covDropEvery == 0) {
    log.push_back(line + " -> drop");
    return;
  }
  if (sub.confirmed) {
    ++covInvoke_[sub.device];
    unacked_.push_back({sub.device, sub.sender, invoke, frame, seconds + d.knobs.covResendMs / 1000.0,
                        d.knobs.covRetries});
    log.push_back(line + " id=" + std::to_string(invoke));
  } else {
    log.push_back(line);
  }
  out.push_back(std::move(frame));
}

void Responder::Tick(double seconds, std::vector<Outgoing>& out, std::vector<std::string>& log) {
  for (auto it = subscriptions_.begin(); it != subscriptions_.end();) {
    if (it->expires >= 0 && it->expires <= seconds) {
      const SimDevice& d = building_.devices[it->device];
      const SimObject& o = d.objects[it->object];
      log.push_back("cov-expired " + DeviceLabel(d) + " dev=" + std::to_string(d.instance) + " " +
                    ObjectTypeShort(o.type) + ":" + std::to_string(o.instance) +
                    " process=" + std::to_string(it->processId));
      it = subscriptions_.erase(it);
    } else {
      Notify(*it++, seconds, out, log);
    }
  }
  for (auto it = unacked_.begin(); it != unacked_.end();) {
    if (it->due > seconds) {
      ++it;
    } else if (it->triesLeft == 0) {
      log.push_back("cov-unacked dev=" + std::to_string(building_.devices[it->device].instance) +
                    " id=" + std::to_string(it->invoke) + " to=" + it->to.ToString());
      it = unacked_.erase(it);
    } else {
      --it->triesLeft;
      it->due = seconds + building_.devices[it->device].knobs.covResendMs / 1000.0;
      log.push_back("cov-resend dev=" + std::to_string(building_.devices[it->device].instance) +
                    " id=" + std::to_string(it->invoke) + " to=" + it->to.ToString());
      out.push_back(it->frame);
      ++it;
    }
  }
}

void Responder::CovAck(const Request& rq, const std::vector<size_t>& devices, std::vector<std::string>& log) {
  if (rq.apduSize < 3 || rq.apdu[2] != service::kConfirmedCovNotification)
    return Ignored(*rq.in, "simple-ack", log);
  for (size_t d : devices) {
    auto it = std::find_if(unacked_.begin(), unacked_.end(), [&](const Unacked& u) {
      return u.device == d && u.invoke == rq.apdu[1] && u.to == rq.sender;
    });
    if (it == unacked_.end()) continue;
    log.push_back("cov-ack dev=" + std::to_string(building_.devices[d].instance) + " id=" +
                  std::to_string(it->invoke) + " from=" + rq.sender.ToString());
    unacked_.erase(it);
    return;
  }
  Ignored(*rq.in, "simple-ack", log);
}

}  // namespace bacsim
