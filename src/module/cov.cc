// Log on change: the items of a request with the option subscribe to their
// objects' changes, renew the subscription at half its lifetime and are read
// now and then by the safety net; a notification updates its item and sends
// the group's record.  A group whose device refuses or ignores a
// subscription is polled like any other request.
#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "bacnet/bacnet_enums.h"
#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"
#include "runtime/text/text_utils.h"

namespace bacnet_module {

namespace {

// Process identifiers of the subscriptions: one per data source of this
// process, so that two data sources polling one device keep theirs apart.
std::atomic<uint32_t> g_nextProcessId{1};

// Whether a notification's sender is the device as the table knows it: the
// same host and port, and behind a router the same network and station.
bool SameSender(const bacnet::TDeviceConnInfo& device, const bacnet::TDeviceConnInfo& from) {
  if (device.EndPoint.Port != from.EndPoint.Port ||
      !bacnet::SameHostAddress(device.EndPoint.Address, from.EndPoint.Address))
    return false;
  if (device.AddressLength != from.AddressLength) return false;
  if (device.AddressLength == 0) return true;
  if ((device.Network & 0xFFFF) != (from.Network & 0xFFFF)) return false;
  const size_t n = std::min<size_t>(device.AddressLength, device.StationAddress.size());
  return std::equal(device.StationAddress.begin(), device.StationAddress.begin() + static_cast<std::ptrdiff_t>(n),
                    from.StationAddress.begin());
}

bool IsCovItem(const TRequestItem& item) { return item.Enabled && item.LogOnChange; }

}  // namespace

uint32_t NextCovProcessId() {
  uint32_t id = g_nextProcessId.fetch_add(1);
  // Kept within 22 bits: readable as an object instance in a capture.
  return (id & 0x3FFFFF) == 0 ? 1 : (id & 0x3FFFFF);
}

bool TSerialPortDM::SendSubscription(TRequestItem& item, const bacnet::TDeviceConnInfo& conn, int32_t& code) {
  const bool cancel = item.Cov == TCovState::CancelOwed;
  const bool subscribe = item.Cov == TCovState::Wanted || (item.Cov == TCovState::Subscribed && item.CovRenew.Expired());
  if (!cancel && !subscribe) return false;
  bacnet::TCovSubscription s;
  s.ProcessId = CovProcessId;
  s.ObjectType = item.ObjectType;
  s.Instance = item.ObjectInstance;
  s.Lifetime = item.CovLifetime;
  s.Cancel = cancel;
  code = Stack.SubscribeCov(conn, s);
  if (code >= 0) {
    Current = &item;
    item.InvokeId = static_cast<uint8_t>(code);
    item.CovOut = true;
  }
  return true;
}

int32_t TSerialPortDM::TakeCovAnswer(TRequestItem& item, int32_t code, const bacnet::TProperty& holder) {
  item.CovOut = false;
  item.Pending = false;
  item.Retries = 0;
  if (item.Cov == TCovState::CancelOwed) {
    // Cancelled (or refused to be: it ends with its lifetime): read at once.
    item.Cov = TCovState::Polled;
    item.Stopwatch.Clear();
    return 0;
  }
  if (code == bacnet::kPduSimpleAck) {
    if (covGroups_[item.GroupId].FellBack) {
      item.Cov = TCovState::CancelOwed;
      item.Stopwatch.Clear();
      return 0;
    }
    item.Cov = TCovState::Subscribed;
    item.CovRenew.StartWith(item.CovLifetime * 500u);
    ArmSafetyNet(item);
    return 0;
  }
  std::string reason = code == bacnet::kPduError || code == bacnet::kPduReject || code == bacnet::kPduAbort
                           ? holder.ErrorText()
                           : "PDU type " + std::to_string(code);
  CovFallBack(item, reason);
  return 0;
}

void TSerialPortDM::CovGaveUp(TRequestItem& item) {
  item.CovOut = false;
  if (item.Cov == TCovState::CancelOwed) {
    item.Cov = TCovState::Polled;
    item.Stopwatch.Clear();
    return;
  }
  CovFallBack(item, Owner && Owner->TextResources ? Owner->Text(Owner->TextResources->TextRequestTimeout)
                                                  : std::string("Request timeout"));
}

void TSerialPortDM::CovFallBack(TRequestItem& failed, const std::string& reason) {
  covGroups_[failed.GroupId].FellBack = true;
  {
    // The caller holds the write side.
    const TRequestList::List& items = RequestList.Held();
    const int32_t start = RequestList.GroupStart(failed.GroupId);
    for (size_t i = static_cast<size_t>(start < 0 ? 0 : start); start >= 0 && i < items.size(); ++i) {
      TRequestItem& item = *items[i];
      if (item.GroupId != failed.GroupId) break;
      if (item.Cov == TCovState::Subscribed) {
        item.Cov = TCovState::CancelOwed;
        if (!item.Pending) item.Stopwatch.Clear();
      } else if (item.Cov == TCovState::Wanted) {
        // One whose subscription is out learns of the fallback from its answer.
        item.Cov = TCovState::Polled;
      }
    }
  }
  failed.Cov = TCovState::Polled;
  failed.Stopwatch.Clear();
  const std::string address = failed.Connection.EndPoint.Address + ":" + std::to_string(failed.Connection.EndPoint.Port);
  if (!Owner || !Owner->TextResources ||
      !covLogged_.insert(address + "/" + std::to_string(failed.Connection.Instance)).second)
    return;
  // One pass over the pattern: a reason that holds "%s" stays as it is.
  Owner->AddLog(kel::kLogWarning, kel::FormatTexts(Owner->Text(Owner->TextResources->TextCovFallback),
                                                   {std::to_string(failed.Connection.Instance), address, reason}));
}

void TSerialPortDM::ArmSafetyNet(TRequestItem& item) {
  const uint64_t now = item.CovRenew.Now();
  const uint64_t renew = item.CovRenew.Deadline > now ? item.CovRenew.Deadline - now : 0;
  const uint64_t wait = std::min<uint64_t>(renew, static_cast<uint64_t>(std::max(item.SafetyNetMs, 0)));
  item.Stopwatch.StartWith(static_cast<uint32_t>(wait));
}

void TSerialPortDM::TakeNotification(const bacnet::TCovNotification& n) {
  if (n.ProcessId != CovProcessId) return;
  TRequestListWrite w(RequestList);
  bool answered = false;
  for (TRequestItem* item : w.Items()) {
    if (!IsCovItem(*item) || item->ObjectType != n.ObjectType || item->ObjectInstance != n.Instance ||
        item->Connection.Instance != n.DeviceInstance)
      continue;
    // Only a subscription that is held or asked for takes values.
    if (item->Cov != TCovState::Subscribed && !(item->Cov == TCovState::Wanted && item->CovOut && item->Pending))
      continue;
    {
      bacnet::TDeviceReadLock devices(Stack.Data.Devices);
      const bacnet::TDevice* device = Stack.FindDevice(item->Connection, item->Connection.Instance);
      if (!device || !SameSender(device->ConnInfo, n.From)) continue;
    }
    if (n.Confirmed && !answered) {
      Stack.SendSimpleAck(n.From, n.InvokeId, bacnet::kServiceConfirmedCovNotification);
      answered = true;
    }
    if (!n.HasPresentValue) continue;
    item->Value = n.PresentValue;
    item->Fresh = true;
    CovRecord(item->GroupId);
  }
}

void TSerialPortDM::CovRecord(uint32_t groupId) {
  TCovGroup& group = covGroups_[groupId];
  const int32_t spacing = MinSendSpacingMs.load();
  if (spacing > 0 && !group.LastRecord.IsClear() && !group.LastRecord.Expired(static_cast<uint32_t>(spacing))) {
    group.Owed = true;
    covOwed_ = true;
    return;
  }
  group.Owed = false;
  group.LastRecord.Start();
  kel::TParsedDataList list;
  DeliverGroup(groupId, list, true);
}

void TSerialPortDM::FlushOwedRecords() {
  if (!covOwed_) return;
  covOwed_ = false;
  const auto spacing = static_cast<uint32_t>(std::max(MinSendSpacingMs.load(), 0));
  std::vector<uint32_t> due;
  for (auto& [id, group] : covGroups_) {
    if (!group.Owed) continue;
    if (group.LastRecord.IsClear() || group.LastRecord.Expired(spacing)) due.push_back(id);
    else covOwed_ = true;
  }
  std::sort(due.begin(), due.end());
  for (uint32_t id : due) CovRecord(id);
}

void TSerialPortDM::ResetCov(TRequestList::List& items) {
  covGroups_.clear();
  covLogged_.clear();
  covOwed_ = false;
  for (TRequestItem* item : items) {
    item->CovOut = false;
    item->CovRenew.Clear();  // a subscription held is renewed with the item's next send
    // A subscription the device holds stays ours (its notifications are
    // taken, it is cancelled at the end); a fallback is tried again.
    if (item->Cov != TCovState::Subscribed && item->Cov != TCovState::CancelOwed) item->Cov = TCovState::Wanted;
  }
}

void TSerialPortDM::CancelSubscriptions() {
  TRequestListWrite w(RequestList);
  for (TRequestItem* item : w.Items()) {
    if (!item->LogOnChange) continue;
    const bool held = item->Cov == TCovState::Subscribed || item->Cov == TCovState::CancelOwed ||
                      (item->CovOut && item->Pending);
    item->Cov = TCovState::Wanted;
    item->CovOut = false;
    if (!held) continue;
    bacnet::TDeviceConnInfo conn;
    {
      bacnet::TDeviceWriteLock devices(Stack.Data.Devices);
      bacnet::TDevice* device = Stack.FindDevice(item->Connection, item->Connection.Instance);
      if (!device) continue;
      conn = device->ConnInfo;
      device->NextInvokeId();
    }
    bacnet::TCovSubscription s;
    s.ProcessId = CovProcessId;
    s.ObjectType = item->ObjectType;
    s.Instance = item->ObjectInstance;
    s.Cancel = true;
    Stack.SubscribeCov(conn, s);
  }
}

}  // namespace bacnet_module
