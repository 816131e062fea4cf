// The tick of a communication module: it picks the next due request, sends
// it through the host, resends after time-outs and gives up after the last
// retry.  At most one request of a module is out at a time.
#include <exception>
#include <memory>
#include <string>

#include "bacnet/bacnet_enums.h"
#include "framework/instance_registry.h"
#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"
#include "platform/port.h"

namespace bacnet_module {

namespace {

// Marks the thread inside a module's tick, and frees the module afterwards
// when something the tick called freed it.
class TickScope {
 public:
  TickScope(std::atomic<uint32_t>& thread) : thread_(thread) { thread_ = port::CurrentThreadId(); }
  ~TickScope() { thread_ = 0; }
  TickScope(const TickScope&) = delete;
  TickScope& operator=(const TickScope&) = delete;

 private:
  std::atomic<uint32_t>& thread_;
};

}  // namespace

void TSerialPortDM::TimerTick() {
  // The instance stays alive for the whole tick, even when the host frees it
  // from a callback; a tick that finds it being freed does nothing.
  kel::TInstanceHold hold;  // ends after keep has let go
  std::shared_ptr<kel::TkelPlugin> keep;
  if (Owner && Owner->ModulePluginHandle != 0) {
    keep = kel::ResolveHandle(Owner->ModulePluginHandle);
    if (!keep) return;
  }
  {
    TickScope scope(tickThread_);
    RunTick();
  }
  if (freeAfterTick_) delete this;
}

void TSerialPortDM::RunTick() {
  Timer->SetEnabled(false);
  if (!Owner || !Owner->TypeEnabled[kTypePolling]) return;  // off until something re-arms it
  const TRearm rearm(*this);
  Foreign.Tick();

  if (ResetRequested.exchange(false)) {
    ResetRequests(true);
    return;
  }
  TRequestListWrite w(RequestList);
  TRequestList::List& items = w.Items();
  FlushOwedRecords();
  SyncPace();
  if (fastActive_) {
    RunFastTick(items);
    return;
  }
  if (!Pause.IsClear()) {
    if (!Pause.Expired()) return;
    Pause.Clear();
  }
  // The items as the tick began: one that a callback appends meanwhile may
  // be taken in hand, and is served from the next tick on.
  const auto count = static_cast<int32_t>(items.size());
  // No request in hand and nothing due yet: nothing to look at.
  if (!HoldsRequest(count) && IdleUntilDue()) return;
  inHand_ = ChooseInHand(items);
  while (HoldsRequest(count)) {
    TRequestItem& item = *items[static_cast<size_t>(inHand_)];
    const TTickOutcome outcome = ServeInHand(item);
    if (KeepsInHand(outcome)) break;
    // The items a request given up carried were given up with it.
    inHand_ = SearchDue(items, inHand_ + (outcome == TTickOutcome::GaveUp ? Carried(item) : 1));
  }
  // Nothing in hand: the next tick may return at once until an item is due.
  if (inHand_ < 0 && kel::TkelTimeout::HasWideClock()) nextDue_ = EarliestDue(items);
}

bool TSerialPortDM::HoldsRequest(int32_t count) const { return inHand_ >= 0 && inHand_ < count; }

int32_t TSerialPortDM::ChooseInHand(const TRequestList::List& items) {
  if (!HoldsRequest(static_cast<int32_t>(items.size()))) return SearchDue(items, 0);
  const TRequestItem& inHand = *items[static_cast<size_t>(inHand_)];
  if (inHand.Pending || inHand.Stopwatch.IsClear()) return inHand_;
  // Answered (or given up): the others come first, even when this one is
  // due again already (an interval shorter than the tick would otherwise
  // keep it the only request ever sent); the items its request carried
  // count as answered with it.
  const int32_t next = SearchDue(items, inHand_ + Carried(inHand));
  return next >= 0 ? next : SearchDue(items, 0, inHand_ + 1);
}

TSerialPortDM::TTickOutcome TSerialPortDM::ServeInHand(TRequestItem& item) {
  if (item.RpmCarried) return TTickOutcome::NotDue;  // out with an earlier item's request
  if (item.Pending) {
    if (!item.Stopwatch.Expired(static_cast<uint32_t>(item.Timeout))) return TTickOutcome::Awaited;
    if (item.Retries >= kMaxRetries) {
      if (!item.CovOut) LogTimeout(item);
      item.Retries = 0;
      item.Pending = false;
      if (item.CovOut) {
        CovGaveUp(item);
        return TTickOutcome::GaveUp;
      }
      if (EndRequest(item)) DeliverGroup(item.GroupId, GroupResults, true);
      return TTickOutcome::GaveUp;
    }
    // An unanswered property read counts as one of the item's tries: a
    // silent device is given up as soon as with properties off.
    ++item.Retries;
  } else if (!(item.Poll || item.Stopwatch.IsClear()) ||
             !item.Stopwatch.Expired(static_cast<uint32_t>(item.PollInterval))) {
    return TTickOutcome::NotDue;
  }
  item.Pending = true;
  item.DevicePropertyPending = false;
  item.Stopwatch.Start();
  return AfterSend(item, SendRequest(item));
}

bool TSerialPortDM::IdleUntilDue() {
  if (nextDue_ == 0 || !kel::TkelTimeout::HasWideClock()) return false;
  if (kel::TkelTimeout::WideNow() < nextDue_) return true;
  nextDue_ = 0;
  return false;
}

uint64_t TSerialPortDM::EarliestDue(const TRequestList::List& items) {
  uint64_t earliest = UINT64_MAX;
  for (const TRequestItem* item : items) {
    if (!item->Enabled || item->Pending) continue;
    if (item->Stopwatch.IsClear()) return 0;
    if (!item->Poll) continue;  // asked once, and answered
    const kel::TkelTimeout& w = item->Stopwatch;
    const uint64_t due = w.Armed ? w.Deadline : w.StartTime + static_cast<uint32_t>(item->PollInterval);
    if (due < earliest) earliest = due;
  }
  return earliest;
}

int32_t TSerialPortDM::SearchDue(const TRequestList::List& items, int32_t from, int32_t to) {
  const auto size = static_cast<int32_t>(items.size());
  const int32_t count = to < 0 || to > size ? size : to;
  const bool wide = kel::TkelTimeout::HasWideClock();
  const uint64_t now = wide ? kel::TkelTimeout::WideNow() : 0;
  for (int32_t i = from < 0 ? 0 : from; i < count; ++i) {
    TRequestItem& item = *items[static_cast<size_t>(i)];
    if (!item.Enabled) continue;
    const auto interval = static_cast<uint32_t>(item.PollInterval);
    if (wide ? item.Stopwatch.ExpiredAt(interval, now) : item.Stopwatch.Expired(interval)) return i;
  }
  return -1;
}

TSerialPortDM::TTickOutcome TSerialPortDM::AfterSend(TRequestItem& item, int32_t code) {
  if (code >= 0) return TTickOutcome::Sent;
  if (code == kSendDeviceProperty) {
    item.DevicePropertyPending = true;
    return TTickOutcome::Sent;
  }
  if (code == kSendTimedOut) LogTimeout(item);
  // Not out: its next send is a first try again, as at the fast pace.
  item.Stopwatch.Clear();
  item.Pending = false;
  item.Retries = 0;
  if (IsSendFailure(code)) Pause.StartWith(kSendFailurePauseMs);
  return code == kSendDiscovering ? TTickOutcome::Discovering : TTickOutcome::NotSent;
}

void TSerialPortDM::LogTimeout(const TRequestItem& item) {
  if (!Owner) return;
  std::string text = Owner->Text(Owner->TextResources ? Owner->TextResources->TextRequestTimeout : std::string());
  text += ": " + item.Description + " (" + item.Connection.EndPoint.Address + ":" +
          std::to_string(item.Connection.EndPoint.Port) + ")";
  Owner->AddLog(kel::kLogWarning, text);
  // The diagnosis is made before the time-out is counted: it speaks of the
  // device as it was known up to this time-out.
  if (Diagnosis && Owner->TextResources) Owner->AddLog(kel::kLogWarning, DiagnosisText(item));
  Status.NoteTimeout(item.Connection);
}

int32_t TSerialPortDM::SendRequest(TRequestItem& item) {
  Current = nullptr;
  DropCarried(item);  // a resend takes its items anew
  item.RpmLast = 0;
  item.CovOut = false;
  bool known = false;
  {
    bacnet::TDeviceReadLock devices(Stack.Data.Devices);
    known = Stack.FindDevice(item.Connection, item.Connection.Instance) != nullptr;
  }
  // The Who-Is of a discovery goes out with no lock of the device table held.
  if (!known && StartDiscovery(item) != kDiscoveryNotNeeded) return kSendDiscovering;
  bacnet::TDeviceConnInfo conn;
  uint16_t property = 0;
  bool readProperty = false;
  uint8_t propertySlot = 0;
  {
    bacnet::TDeviceWriteLock devices(Stack.Data.Devices);
    bacnet::TDevice* device = Stack.FindDevice(item.Connection, item.Connection.Instance);
    // A configured device has its place also in a table that a flood filled.
    if (!device) device = Stack.RegisterDevice(item.Connection, item.Connection.Instance, nullptr, nullptr, true);
    // Registered meanwhile by another thread (an I-Am): that one is used.
    if (!device) device = Stack.FindDevice(item.Connection, item.Connection.Instance);
    if (!device) return -1;
    if (ReadDeviceProperties) {
      uint8_t& index = device->BasicPropertyIndex;
      if (index < bacnet::TDevice::kBasicPropertyCount) {
        const bacnet::TDeviceBasicProperty& slot = device->BasicProperties[index];
        if (slot.HasValue || slot.Attempts >= kBasicPropertyAttempts) ++index;
      }
      if (index < bacnet::TDevice::kBasicPropertyCount) {
        bacnet::TDeviceBasicProperty& slot = device->BasicProperties[index];
        ++slot.Attempts;
        property = slot.PropertyId;
        propertySlot = index;
        readProperty = true;
      }
    }
    conn = device->ConnInfo;
    device->NextInvokeId();
  }
  if (!readProperty) {
    int32_t code = 0;
    if (item.LogOnChange && SendSubscription(item, conn, code)) return code;
    // A request logged on change reads its items one by one: the group's
    // other items are subscribed and not due with it.
    if (!item.LogOnChange && ReadsMultiple(item)) return SendMultiple(item, conn);
    const int32_t r = Stack.ReadProperty(conn, item.ObjectInstance, item.ObjectType, bacnet::kPropPresentValue);
    if (r >= 0) {
      Current = &item;
      item.InvokeId = static_cast<uint8_t>(r);
    }
    return r;
  }
  const int32_t r = Stack.ReadProperty(conn, 0, bacnet::kObjectDevice, property);
  if (r < 0) return r;
  Current = &item;
  item.InvokeId = static_cast<uint8_t>(r);
  item.PropertySlot = propertySlot;
  return kSendDeviceProperty;
}

int32_t TSerialPortDM::SendFrame(bacnet::TBACnetStack&, bacnet::TBacBytes frame, const bacnet::TDeviceConnInfo& conn,
                                 int32_t length) {
  if (length < 1) return -2;
  if (!Owner) return -1;
  std::string message = "<<TO:" + conn.EndPoint.Address + ":" + std::to_string(conn.EndPoint.Port) + ">>";
  const size_t n = static_cast<size_t>(length) < frame.size() ? static_cast<size_t>(length) : frame.size();
  message.append(reinterpret_cast<const char*>(frame.data()), n);
  return Owner->SendRawData(Owner->ModuleIndex.load(), DataSourceId, 0, message.data(),
                            static_cast<int32_t>(message.size()));
}

}  // namespace bacnet_module
