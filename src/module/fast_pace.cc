// The fast pace of a communication module: a window of requests in flight,
// the next due request sent as soon as an answer or a give-up frees a slot.
// Every item is sent once in a round before any item is sent again, and at
// most InFlightPerDevice of the window's requests go to one device.
#include <algorithm>
#include <string>

#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"

namespace bacnet_module {

namespace {

// Whether the item is to be sent now; now is the clock read once for a scan
// where the clock is 64 bits wide.
bool IsDue(TRequestItem& item, bool wide, uint64_t now) {
  if (!item.Enabled || item.Pending || !(item.Poll || item.Stopwatch.IsClear())) return false;
  const auto interval = static_cast<uint32_t>(item.PollInterval);
  return wide ? item.Stopwatch.ExpiredAt(interval, now) : item.Stopwatch.Expired(interval);
}

}  // namespace

void TSerialPortDM::SyncPace() {
  const bool fast = FastPace.load();
  if (fast == fastActive_) return;
  nextDue_ = 0;
  // The requests out under the other pace are forgotten (their late answers
  // are not taken) and due again at once; groups keep the values they have.
  LeaveAllInFlight();
  if (Current && Current->Pending) {
    DropCarried(*Current);
    Current->Pending = false;
    Current->Retries = 0;
    Current->Stopwatch.Clear();
  }
  Current = nullptr;
  inHand_ = -1;
  fastActive_ = fast;
}

void TSerialPortDM::LeaveAllInFlight() {
  for (TRequestItem* item : inFlight_) {
    DropCarried(*item);
    item->Pending = false;
    item->Retries = 0;
    item->DevicePropertyPending = false;
    item->Stopwatch.Clear();
  }
  inFlight_.clear();
  cursor_ = 0;
  ++round_;
}

void TSerialPortDM::LeaveInFlight(const TRequestItem* item) {
  nextDue_ = 0;  // it falls due again after its interval
  const auto it = std::find(inFlight_.begin(), inFlight_.end(), item);
  if (it != inFlight_.end()) inFlight_.erase(it);
}

TRequestItem* TSerialPortDM::MatchInFlight(uint8_t invokeId, const bacnet::TReplySource& source) const {
  for (TRequestItem* item : inFlight_) {
    if (!item->Pending) continue;
    const bool ours = item->InvokeId == invokeId || (item->Retries >= 1 && item->EarlierInvokeIds[0] == invokeId) ||
                      (item->Retries >= 2 && item->EarlierInvokeIds[1] == invokeId);
    if (ours && source.From(item->Connection)) return item;
  }
  return nullptr;
}

bool TSerialPortDM::SlotBlocked(const TRequestList::List& items, const TRequestItem& item, bool wide,
                                uint64_t now) const {
  const int32_t perDevice = InFlightPerDevice.load();
  int32_t toDevice = 0;
  for (const TRequestItem* out : inFlight_)
    if (SameDevice(*out, item) && ++toDevice >= perDevice) return true;
  // With ReadPropertyMultiple a group has one request out at a time, and
  // its first item still to send this round goes first: the request that
  // carries the group's last item is the one after which the record is
  // made.
  if (ReadsMultiple(item) && item.GroupSize > 1) {
    const int32_t start = RequestList.GroupStart(item.GroupId);
    for (auto i = static_cast<size_t>(start < 0 ? 0 : start); i < items.size(); ++i) {
      const TRequestItem& other = *items[i];
      if (other.GroupId != item.GroupId) break;
      if (&other == &item) continue;
      if (other.Pending) return true;
      if (other.IndexInGroup < item.IndexInGroup && other.SentRound != round_ && IsDue(*items[i], wide, now))
        return true;
    }
  }
  // The item that closes its group waits for the group's other items of
  // the round (their property reads too): the record is made when it is
  // answered.
  if (item.IndexInGroup != static_cast<int32_t>(item.GroupSize) || item.GroupSize < 2) return false;
  const int32_t start = RequestList.GroupStart(item.GroupId);
  for (auto i = static_cast<size_t>(start < 0 ? 0 : start); i < items.size(); ++i) {
    TRequestItem& other = *items[i];
    if (&other == &item || other.GroupId != item.GroupId) break;
    if (other.Pending || (other.SentRound != round_ && IsDue(other, wide, now))) return true;
  }
  return false;
}

int32_t TSerialPortDM::ChooseCandidate(const TRequestList::List& items, bool& roundBegun) {
  const auto count = static_cast<int32_t>(items.size());
  if (count == 0) return -1;
  const bool wide = kel::TkelTimeout::HasWideClock();
  const uint64_t now = wide ? kel::TkelTimeout::WideNow() : 0;
  for (int pass = 0; pass < 2; ++pass) {
    bool waiting = false;  // a due item of this round waits for its slot
    for (int32_t k = 0; k < count; ++k) {
      const int32_t i = (cursor_ + k) % count;
      TRequestItem& item = *items[static_cast<size_t>(i)];
      if (item.SentRound == round_ || !IsDue(item, wide, now)) continue;
      waiting = true;
      if (SlotBlocked(items, item, wide, now)) continue;
      cursor_ = i + 1 < count ? i + 1 : 0;
      return i;
    }
    // Every due item has had its send in this round: the next one begins,
    // once per filling of the window (items that hold no slot, a pattern's
    // Who-Is, would otherwise be served round after round without end).
    if (waiting || roundBegun) return -1;
    roundBegun = true;
    if (++round_ == 0) round_ = 1;
  }
  return -1;
}

TSerialPortDM::TServed TSerialPortDM::Serve(TRequestItem& item) {
  const uint8_t previous = item.InvokeId;
  const bool resend = item.Pending;
  item.Pending = true;
  item.DevicePropertyPending = false;
  item.Stopwatch.Start();
  const int32_t code = SendRequest(item);
  if (code >= 0 || code == kSendDeviceProperty) {
    if (resend) {
      item.EarlierInvokeIds[1] = item.EarlierInvokeIds[0];
      item.EarlierInvokeIds[0] = previous;
    } else {
      inFlight_.push_back(&item);
    }
    if (code == kSendDeviceProperty) {
      item.DevicePropertyPending = true;
    } else {
      item.SentRound = round_;
    }
    lastSend_.Start();
    return TServed::Sent;
  }
  if (resend) LeaveInFlight(&item);
  // Logged while the item still counts its tries.
  if (code == kSendTimedOut) LogTimeout(item);
  item.Stopwatch.Clear();
  item.Pending = false;
  item.Retries = 0;
  item.SentRound = round_;
  if (code == kSendDiscovering) return TServed::Discovering;
  if (code == kSendTimedOut) return TServed::GaveUp;
  if (IsSendFailure(code)) Pause.StartWith(kSendFailurePauseMs);
  return TServed::Failed;
}

bool TSerialPortDM::SpacingHolds() {
  const int32_t spacing = MinSendSpacingMs.load();
  return spacing > 0 && !lastSend_.IsClear() && !lastSend_.Expired(static_cast<uint32_t>(spacing));
}

void TSerialPortDM::FillWindow(TRequestList::List& items) {
  const auto window = static_cast<size_t>(std::clamp(InFlight.load(), 1, 255));
  bool roundBegun = false;
  while (inFlight_.size() < window) {
    if (!Pause.IsClear()) {
      if (!Pause.Expired()) return;
      Pause.Clear();
    }
    if (SpacingHolds()) return;
    // An empty window and nothing due yet: nothing to look at.
    if (inFlight_.empty() && IdleUntilDue()) return;
    const int32_t candidate = ChooseCandidate(items, roundBegun);
    if (candidate < 0) {
      if (inFlight_.empty() && kel::TkelTimeout::HasWideClock()) nextDue_ = EarliestDue(items);
      return;
    }
    if (Serve(*items[static_cast<size_t>(candidate)]) == TServed::Failed) return;
  }
}

void TSerialPortDM::RunFastTick(TRequestList::List& items) {
  if (!Pause.IsClear()) {
    if (!Pause.Expired()) return;
    Pause.Clear();
  }
  // Time-outs first: a resend keeps its slot, a give-up frees it.
  for (size_t i = 0; i < inFlight_.size();) {
    TRequestItem& item = *inFlight_[i];
    if (!item.Stopwatch.Expired(static_cast<uint32_t>(item.Timeout))) {
      ++i;
      continue;
    }
    if (item.Retries < kMaxRetries) {
      if (SpacingHolds()) return;
      ++item.Retries;
      const TServed served = Serve(item);
      if (served == TServed::Failed) return;
      if (served == TServed::Sent) ++i;
      continue;
    }
    if (!item.CovOut) LogTimeout(item);
    item.Retries = 0;
    item.Pending = false;
    item.DevicePropertyPending = false;
    inFlight_.erase(inFlight_.begin() + static_cast<std::ptrdiff_t>(i));
    nextDue_ = 0;
    if (item.CovOut) {
      CovGaveUp(item);
      continue;
    }
    if (EndRequest(item)) DeliverGroup(item.GroupId, GroupResults, true);
  }
  FillWindow(items);
}

}  // namespace bacnet_module
