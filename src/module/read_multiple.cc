// ReadPropertyMultiple in a communication module: the group's items after
// the one sent ride on its request (as many as the device's maximum APDU
// allows), the ACK fills each of them, and a device that refuses the
// service is read with ReadProperty from then on.
#include <string>
#include <utility>

#include "bacnet/bacnet_enums.h"
#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"
#include "runtime/text/text_utils.h"

namespace bacnet_module {

namespace {

constexpr uint8_t kAbortBufferOverflow = 1;
constexpr uint8_t kAbortSegmentationNotSupported = 4;

// Whether the answer says the device cannot serve ReadPropertyMultiple (or
// not the requests we send it): any Reject of our request, an Abort for its
// size, an Error of class services.  Other answers (a busy device) are
// taken as an Error answer of the request.
bool RefusesMultiple(const bacnet::TProperty& answer) {
  switch (answer.PduType) {
    case bacnet::kPduReject:
      return true;
    case bacnet::kPduAbort:
      return answer.ErrorCode == kAbortSegmentationNotSupported || answer.ErrorCode == kAbortBufferOverflow;
    case bacnet::kPduError:
      return answer.ErrorClass == bacnet::kErrorClassServices;
    default:
      return false;
  }
}

// Lets the items riding on item's request go; with dueNow they are due at
// once (and in the fast pace's current round).  Whether one of them, or
// item, is the group's last.
bool LetGo(const TRequestList::List& items, int32_t at, TRequestItem& item, bool dueNow) {
  bool closes = item.IndexInGroup == static_cast<int32_t>(item.GroupSize);
  if (at >= 0) {
    for (size_t k = 1; k < item.RpmCount && static_cast<size_t>(at) + k < items.size(); ++k) {
      TRequestItem& next = *items[static_cast<size_t>(at) + k];
      if (!next.RpmCarried) continue;
      next.RpmCarried = false;
      next.Pending = false;
      next.Retries = 0;
      if (dueNow) {
        next.Stopwatch.Clear();
        next.SentRound = 0;
      }
      if (next.IndexInGroup == static_cast<int32_t>(next.GroupSize)) closes = true;
    }
  }
  item.RpmLast = item.RpmCount;
  item.RpmCount = 0;
  return closes;
}

}  // namespace

int32_t TSerialPortDM::PositionOf(const TRequestList::List& items, const TRequestItem& item) const {
  const int32_t start = RequestList.GroupStart(item.GroupId);
  if (start < 0 || item.IndexInGroup < 1) return -1;
  const size_t at = static_cast<size_t>(start) + static_cast<size_t>(item.IndexInGroup) - 1;
  if (at >= items.size() || items[at] != &item) return -1;
  return static_cast<int32_t>(at);
}

int32_t TSerialPortDM::SendMultiple(TRequestItem& item, const bacnet::TDeviceConnInfo& conn) {
  // The caller (the tick, or an answer at the fast pace) holds the write
  // side already.
  TRequestListWrite w(RequestList);
  const TRequestList::List& items = w.Items();
  const int32_t at = PositionOf(items, item);
  rpmObjects_.clear();
  rpmObjects_.push_back({item.ObjectType, item.ObjectInstance});
  // The items after it join in the group's order while they are free: not
  // out, not refused, and read again (an item asked once and answered is
  // done).
  if (at >= 0) {
    for (size_t i = static_cast<size_t>(at) + 1; i < items.size() && rpmObjects_.size() < bacnet::kMaxRpmItems; ++i) {
      const TRequestItem& next = *items[i];
      if (next.GroupId != item.GroupId || !next.Enabled || next.Pending || next.ReadSingle ||
          !(next.Poll || next.Stopwatch.IsClear()))
        break;
      rpmObjects_.push_back({next.ObjectType, next.ObjectInstance});
    }
  }
  const size_t n = bacnet::RpmChunkLength(rpmObjects_, conn.MaxApdu);
  const int32_t r = Stack.ReadPropertyMultiple(conn, std::span<const bacnet::TRpmItem>(rpmObjects_).first(n));
  if (r < 0) return r;
  Current = &item;
  item.InvokeId = static_cast<uint8_t>(r);
  item.RpmCount = static_cast<uint8_t>(n);
  for (size_t k = 1; k < n; ++k) {
    TRequestItem& next = *items[static_cast<size_t>(at) + k];
    next.Pending = true;
    next.RpmCarried = true;
    next.Retries = 0;
    next.DevicePropertyPending = false;
    next.Stopwatch.Start();
    next.SentRound = round_;
  }
  return r;
}

bool TSerialPortDM::EndRequest(TRequestItem& item) {
  if (item.RpmCount <= 1) {
    item.RpmLast = item.RpmCount;
    item.RpmCount = 0;
    return item.IndexInGroup == static_cast<int32_t>(item.GroupSize);
  }
  TRequestListWrite w(RequestList);
  return LetGo(w.Items(), PositionOf(w.Items(), item), item, false);
}

void TSerialPortDM::DropCarried(TRequestItem& item) {
  if (item.RpmCount == 0) return;
  TRequestListWrite w(RequestList);
  LetGo(w.Items(), PositionOf(w.Items(), item), item, true);
}

void TSerialPortDM::KeepMultipleAck(const bacnet::TRpmAck& ack) {
  rpmAckSound_ = false;
  rpmResults_.clear();
  if (!rpmFor_ || rpmFor_->RpmCount == 0) return;  // no ReadPropertyMultiple of ours
  // Filled through a local (its storage taken over and handed back): the
  // reader calls keep where the analysis cannot see the lock held here.
  std::vector<bacnet::TRpmResult> results;
  results.swap(rpmResults_);
  auto keep = [&results](const bacnet::TRpmResult& result) { results.push_back(result); };
  rpmAckSound_ = ack.Read(rpmFor_->RpmCount, keep) == bacnet::TRpmStatus::Ok;
  if (!rpmAckSound_) results.clear();
  rpmResults_.swap(results);
}

int32_t TSerialPortDM::TakeMultipleAnswer(TRequestItem& item, int32_t code, const bacnet::TProperty& holder,
                                          kel::TParsedDataList& list) {
  // An ACK that is not a sound ReadPropertyMultiple-ACK brings nothing: the
  // request stays out, and its time-out resends it.
  if (code == bacnet::kPduComplexAck && !rpmAckSound_) return 0;
  const bool refusal = code == bacnet::kPduError || code == bacnet::kPduReject || code == bacnet::kPduAbort;
  if (refusal && RefusesMultiple(holder)) {
    FallBackToSingle(item, holder);
    // Read again at once, item by item; the values the group has stay.
    DropCarried(item);
    item.Pending = false;
    item.Retries = 0;
    item.Stopwatch.Clear();
    item.SentRound = 0;
    return 0;
  }
  const TRequestList::List& items = RequestList.Held();
  const int32_t at = PositionOf(items, item);
  const size_t carried = at < 0 ? 1 : item.RpmCount;
  if (code == bacnet::kPduComplexAck) {
    // Results are matched by object: a device may answer out of order, or
    // leave some out (those items stay unanswered).
    rpmUsed_.assign(rpmResults_.size(), 0);
    size_t next = 0;
    for (size_t k = 0; k < carried; ++k) {
      if (k > 0 && static_cast<size_t>(at) + k >= items.size()) break;
      TRequestItem& target = k == 0 ? item : *items[static_cast<size_t>(at) + k];
      for (size_t j = 0; j < rpmResults_.size(); ++j) {
        const size_t i = (next + j) % rpmResults_.size();
        bacnet::TRpmResult& result = rpmResults_[i];
        if (rpmUsed_[i] || result.ObjectType != target.ObjectType || result.Instance != target.ObjectInstance ||
            result.PropertyId != bacnet::kPropPresentValue || result.ArrayIndex != bacnet::kNoArrayIndex)
          continue;
        rpmUsed_[i] = 1;
        next = i + 1;
        if (result.IsError) {
          bacnet::TProperty error;
          result.ToProperty(error);
          Owner->AddLog(kel::kLogWarning,
                        kel::FormatText(Owner->Text(Owner->TextResources->TextErrorResponse), error.ErrorText()));
        } else {
          target.Value = std::move(result.Value);
          target.Fresh = true;
        }
        break;
      }
    }
  } else if (refusal) {
    Owner->AddLog(kel::kLogWarning, kel::FormatText(Owner->Text(Owner->TextResources->TextErrorResponse), holder.ErrorText()));
  }
  item.Stopwatch.Start();
  if (at >= 0)
    for (size_t k = 1; k < carried && static_cast<size_t>(at) + k < items.size(); ++k)
      items[static_cast<size_t>(at) + k]->Stopwatch.Start();
  item.Pending = false;
  item.Retries = 0;
  if (EndRequest(item)) return DeliverGroup(item.GroupId, list, false);
  return 0;
}

void TSerialPortDM::FallBackToSingle(const TRequestItem& item, const bacnet::TProperty& answer) {
  bool changed = false;
  {
    TRequestListWrite w(RequestList);
    for (TRequestItem* other : w.Items()) {
      if (other->ReadSingle || !SameDevice(*other, item)) continue;
      other->ReadSingle = true;
      changed = true;
    }
  }
  // Requests of the device still out when it refused the first say nothing
  // more.
  if (!changed || !Owner || !Owner->TextResources) return;
  const std::string address = item.Connection.EndPoint.Address + ":" + std::to_string(item.Connection.EndPoint.Port);
  Owner->AddLog(kel::kLogWarning,
                kel::FormatText(kel::FormatText(kel::FormatText(Owner->Text(Owner->TextResources->TextNoReadMultiple),
                                                                std::to_string(item.Connection.Instance)),
                                                address),
                                answer.ErrorText()));
}

}  // namespace bacnet_module
