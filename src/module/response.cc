// Answers of a communication module: a received frame matched to the request
// in flight, its value stored, and a finished group turned into one record.
#include <string>

#include "bacnet/bacnet_enums.h"
#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"
#include "runtime/text/text_utils.h"

namespace bacnet_module {

int32_t TSerialPortDM::ProcessResponse(kel::TParsedDataList& list) {
  // The timer is not stopped while a frame is processed: the request list's
  // lock keeps the tick out, and stopping and re-arming it for every frame
  // would postpone the tick for as long as frames keep arriving.
  int32_t count = 0;
  {
    kel::ReadGuard settings(Owner->SettingsLock);
    // The fields of the requests in flight change here, so two host threads
    // handing in frames of one data source take turns.
    TRequestListWrite w(RequestList);
    SyncPace();
    bacnet::TProperty holder;
    rpmAckSound_ = false;
    // The frame's text goes straight into the packet text of a list that
    // has none yet.
    const bool direct = list.FullPacket.empty();
    std::string raw;
    std::string& text = direct ? list.FullPacket : raw;
    TRequestItem* item = nullptr;
    int32_t code = 0;
    Status.NoteArrival();
    if (fastActive_) {
      // Matched by source and invoke identifier among the requests out.
      // The stack calls it within this scope, so under the write side held here.
      const bacnet::TReplyMatcher match = [this, &item](uint8_t invokeId, const bacnet::TReplySource& source)
                                              REQUIRES(RequestList) {
        item = MatchInFlight(invokeId, source);
        rpmFor_ = item;  // the request a ReadPropertyMultiple-ACK answers
        return item != nullptr;
      };
      code = Stack.ProcessReceived(match, holder, &text);
    } else {
      const uint8_t expected = Current ? Current->InvokeId : 0;
      const bacnet::TDeviceConnInfo none;
      rpmFor_ = Current;
      code = Stack.ProcessReceived(expected, Current ? Current->Connection : none, holder, &text);
      item = Current;
    }
    if (code == bacnet::kReceivedBvlcResult) {
      // The broadcast manager's answer to a registration: no record.
      Foreign.OnResult(holder.BvlcSource, holder.BvlcResult);
      code = -1;
    }
    rpmFor_ = nullptr;
    if (code <= 0 && direct) list.FullPacket.clear();
    if (code > 0) {
      if (!direct) list.AddPacket(raw);
      // An I-Am is no answer: devices send them at any time.  A request that
      // is no longer out (answered, or given up) takes no late or repeated
      // answer.
      if (item && code != bacnet::kPduUnconfirmedRequest && item->Pending) {
        count = TakeAnswer(*item, code, holder, list);
        if (fastActive_ && !item->Pending) LeaveInFlight(item);
      }
    }
    // The slot freed (or the devices an I-Am brought) are served at once,
    // on this thread.
    if (fastActive_ && code > 0) FillWindow(w.Items());
  }
  if (count > 0 && list.Count() > 0) list.AddNewRow();
  UpdateTimer();
  return count;
}

int32_t TSerialPortDM::TakeAnswer(TRequestItem& item, int32_t code, const bacnet::TProperty& holder,
                                  kel::TParsedDataList& list) {
  const bool refused = code == bacnet::kPduError || code == bacnet::kPduReject || code == bacnet::kPduAbort;
  const std::string errorText = refused ? holder.ErrorText() : std::string();
  Status.NoteAnswer(item.Connection, item.Stopwatch.StartTime, refused ? &errorText : nullptr);
  // A subscription's answer (noted above like any other) goes its own way.
  if (item.CovOut) return TakeCovAnswer(item, code, holder);
  if (item.RpmCount > 0) return TakeMultipleAnswer(item, code, holder, list);
  item.Stopwatch.Start();
  if (code == bacnet::kPduComplexAck) {
    if (item.DevicePropertyPending) {
      item.Stopwatch.Clear();  // the item's own read follows at once
      bacnet::TDeviceWriteLock devices(Stack.Data.Devices);
      bacnet::TDevice* device = Stack.FindDevice(item.Connection, item.Connection.Instance);
      // The slot the read asked for, unless another read of the device
      // filled it meanwhile.
      if (device && device->BasicPropertyIndex == item.PropertySlot &&
          device->BasicPropertyIndex < bacnet::TDevice::kBasicPropertyCount) {
        bacnet::TDeviceBasicProperty& slot = device->BasicProperties[device->BasicPropertyIndex];
        slot.Value = holder.Value;
        slot.HasValue = true;
        ++device->BasicPropertyIndex;
      }
    } else {
      item.Value = holder.Value;
      item.Fresh = true;
    }
  } else if (refused) {
    if (item.DevicePropertyPending) {
      EndDeviceProperty(item, holder);
    } else {
      Owner->AddLog(kel::kLogWarning, kel::FormatText(Owner->Text(Owner->TextResources->TextErrorResponse), holder.ErrorText()));
    }
  }
  item.Pending = false;
  item.Retries = 0;
  // A subscribed item's read is the safety net's: the next one (or the
  // renewal) follows at its own time.
  if (item.Cov == TCovState::Subscribed && item.LogOnChange && !item.DevicePropertyPending) ArmSafetyNet(item);
  if (!item.DevicePropertyPending && item.IndexInGroup == static_cast<int32_t>(item.GroupSize))
    return DeliverGroup(item.GroupId, list, false);
  return 0;
}

void TSerialPortDM::EndDeviceProperty(TRequestItem& item, const bacnet::TProperty& answer) {
  // The device has said it has no such property: that slot is done, and
  // the item's own read follows on the next tick.
  item.Stopwatch.Clear();
  const bool otherInstance = answer.PduType == bacnet::kPduError && answer.ErrorClass == bacnet::kErrorClassObject &&
                             answer.ErrorCode == bacnet::kErrorCodeUnknownObject;
  {
    bacnet::TDeviceWriteLock devices(Stack.Data.Devices);
    bacnet::TDevice* device = Stack.FindDevice(item.Connection, item.Connection.Instance);
    if (device && device->BasicPropertyIndex < bacnet::TDevice::kBasicPropertyCount) {
      if (otherInstance) {
        // No Device object of this instance there: none of its properties
        // is asked for again until the device table is built anew.
        device->BasicPropertyIndex = bacnet::TDevice::kBasicPropertyCount;
      } else {
        device->BasicProperties[device->BasicPropertyIndex].Attempts = kBasicPropertyAttempts;
      }
    }
  }
  if (!otherInstance) {
    Owner->AddLog(kel::kLogWarning, kel::FormatText(Owner->Text(Owner->TextResources->TextErrorResponse), answer.ErrorText()));
    return;
  }
  const std::string address = item.Connection.EndPoint.Address + ":" + std::to_string(item.Connection.EndPoint.Port);
  Owner->AddLog(kel::kLogWarning, kel::FormatText(kel::FormatText(Owner->Text(Owner->TextResources->TextOtherInstance),
                                                   std::to_string(item.Connection.Instance)),
                                   address));
}

int32_t TSerialPortDM::DeliverGroup(uint32_t groupId, kel::TParsedDataList& list, bool toHost) {
  int32_t count = 0;
  int32_t added = 0;
  bacnet::TDeviceConnInfo conn;
  {
    TRequestListWrite w(RequestList);
    const TRequestList::List& items = w.Items();
    const int32_t start = RequestList.GroupStart(groupId);
    if (start < 0) return 0;
    size_t end = static_cast<size_t>(start);
    while (end < items.size() && items[end]->GroupId == groupId) ++end;
    if (end == static_cast<size_t>(start)) return 0;
    // The record's items at most: the standard ones, the group's, the
    // device's properties and the row marker.
    list.Reserve(list.Count() + 8 + static_cast<int32_t>(end - static_cast<size_t>(start)) +
                 (ReadDeviceProperties ? bacnet::TDevice::kBasicPropertyCount : 0));
    // The group's last item is the one whose answer or time-out ended it.
    const TRequestItem& last = *items[end - 1];
    const bool freshOnly = FreshValuesOnly;
    for (size_t i = static_cast<size_t>(start); i < end; ++i) {
      TRequestItem& item = *items[i];
      const bool fresh = item.Fresh;
      item.Fresh = false;  // the next record starts a new cycle
      if (item.Value.IsEmptyOrNull() || (freshOnly && !fresh)) continue;
      if (added == 0) {
        conn = item.Connection;
        count += Owner->FillStandardItems(&list, "", "", static_cast<uint32_t>(DataSourceId), 0, DataSourceName,
                                          DataSourceFullName, "");
        std::string remote;
        remote.reserve(last.Connection.EndPoint.Address.size() + 6);
        remote += last.Connection.EndPoint.Address;
        remote += ':';
        remote += std::to_string(last.Connection.EndPoint.Port);
        list.AddKeyed("REMOTE_ADDRESS", "remote_address", kel::Variant(std::move(remote)));
        list.AddKeyed("DEV_ID", "dev_id", kel::Variant(static_cast<uint32_t>(last.Connection.Instance)));
        list.AddKeyed("REQUEST_DESC", "request_desc", kel::Variant(last.Description));
        count += 3;
      }
      list.AddKeyed(item.Name, item.Key, item.Value);
      ++count;
      ++added;
    }
  }
  if (ReadDeviceProperties && added > 0) {
    bacnet::TDeviceReadLock devices(Stack.Data.Devices);
    if (const bacnet::TDevice* device = Stack.FindDevice(conn, conn.Instance)) {
      for (const bacnet::TDeviceBasicProperty& slot : device->BasicProperties) {
        if (!slot.HasValue) continue;
        list.Add(slot.ItemName, slot.Value);
        ++count;
      }
    }
  }
  if (toHost && added > 0) {
    Owner->SendParsedData(DataSourceId, 0, list);
    list.Clear();
  }
  return count;
}

}  // namespace bacnet_module
