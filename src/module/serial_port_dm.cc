#include "module/serial_port_dm.h"

#include <algorithm>
#include <exception>
#include <string>

#include "module/ta_plugin.h"
#include "platform/port.h"
#include "runtime/text/text_utils.h"

namespace bacnet_module {

const kel::TClassInfo& TSerialPortDM::StaticClass() {
  static const kel::TClassInfo info{"TSerialPortDM", &kel::TComponent::StaticClass(), nullptr, 0};
  return info;
}

TSerialPortDM::TSerialPortDM(TaPlugin* owner)
    : kel::TComponent(owner),
      Owner(owner),
      Foreign(TForeignRegistration::TEvents{
          [this](const bacnet::TDeviceConnInfo& manager, bacnet::TBacBytes frame) {
            return Stack.SendBvll(manager, frame);
          },
          [this](const std::string& manager, int32_t kind, uint32_t retrySeconds) {
            LogRegistration(manager, kind, retrySeconds);
          }}),
      CovProcessId(NextCovProcessId()) {
  Timer = new kel::TkelTimerEx(this);
  Timer->SetEnabled(false);
  Timer->SetInterval(kTickIntervalMs);
  Timer->OnError = [this](const std::string& message) {
    if (Owner) Owner->AddLog(kel::kLogError, message);
  };
  Timer->SetOnTimer([this](kel::TkelTimerEx&) { TimerTick(); });
  Stack.OnSend = [this](bacnet::TBACnetStack& s, bacnet::TBacBytes frame, const bacnet::TDeviceConnInfo& conn,
                        int32_t length) { return SendFrame(s, frame, conn, length); };
  Stack.OnDeviceFound = [this](bacnet::TBACnetStack& s, const bacnet::TDeviceConnInfo& conn) {
    DeviceFound(s, conn);
  };
  Stack.OnError = [this](bacnet::TBACnetStack&, const std::string& message) {
    if (Owner) Owner->AddLog(kel::kLogError, message);
  };
  Stack.OnDeviceWanted = [this](bacnet::TBACnetStack&, const bacnet::TDeviceConnInfo& conn) {
    NoteIAm(conn);
    TRequestListRead r(RequestList);
    return RequestList.Wanted(conn);
  };
  Stack.OnTableFull = [this](bacnet::TBACnetStack&) { LogTableFull(); };
  // Called by ProcessReceived, which ProcessResponse runs under the write side.
  Stack.OnReadPropertyMultipleAck = [this](bacnet::TBACnetStack&, const bacnet::TRpmAck& ack) REQUIRES(RequestList) {
    KeepMultipleAck(ack);
  };
  // Called inside ProcessReceived, which ProcessResponse calls under the
  // request list's write lock.
  Stack.OnCovNotification = [this](bacnet::TBACnetStack&, const bacnet::TCovNotification& n) { TakeNotification(n); };
}

void TSerialPortDM::LogRegistration(const std::string& manager, int32_t kind, uint32_t retrySeconds) {
  if (!Owner || !Owner->TextResources) return;
  const kel::TTextResources& r = *Owner->TextResources;
  if (kind == -2) {
    Owner->AddLog(kel::kLogInfo, kel::FormatText(Owner->Text(r.TextFdRegistered), manager));
  } else if (kind == -1) {
    Owner->AddLog(kel::kLogWarning, kel::FormatTexts(Owner->Text(r.TextFdSilent), {manager, std::to_string(retrySeconds)}));
  } else {
    static const char kHex[] = "0123456789abcdef";
    std::string code = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) code += kHex[(kind >> shift) & 15];
    Owner->AddLog(kel::kLogWarning,
                  kel::FormatTexts(Owner->Text(r.TextFdRefused), {manager, code, std::to_string(retrySeconds)}));
  }
}

void TSerialPortDM::SetForeignManager(const std::string& address, double port, double ttlSeconds) {
  const uint16_t p = port >= 1 && port <= 65535 ? static_cast<uint16_t>(port) : bacnet::kBacnetIpPort;
  const uint16_t ttl = ttlSeconds >= 1 ? static_cast<uint16_t>(std::min(ttlSeconds, 65535.0)) : 0;
  Foreign.Configure(address, p, ttl, DataSourceFullName);
}

void TSerialPortDM::LogTableFull() {
  if (!Owner || !Owner->TextResources) return;
  Owner->AddLog(kel::kLogWarning, kel::FormatText(Owner->Text(Owner->TextResources->TextDeviceTableFull),
                                                 std::to_string(bacnet::kMaxDevices)));
}

TSerialPortDM::~TSerialPortDM() {
  // The timer stops first: no tick may run while the rest goes.
  try {
    Timer->SetOnTimer(nullptr);
  } catch (...) {
  }
  try {
    Timer->SetEnabled(false);
  } catch (...) {
  }
  delete Timer;  // waits for a tick running on another thread
  Timer = nullptr;
  try {
    CancelSubscriptions();
  } catch (...) {
  }
  try {
    Foreign.Close();  // the manager forgets this data source
  } catch (...) {
  }
  {
    TRequestListWrite w(RequestList);
    Current = nullptr;
  }
}

void TSerialPortDM::Free(TSerialPortDM* module) {
  if (!module) return;
  if (module->tickThread_.load() == port::CurrentThreadId()) {
    // Freed by something its own tick called (the host answering a
    // delivery with a state change): the tick frees it on its way out.
    module->Timer->SetOnTimer(nullptr);
    module->Timer->SetEnabled(false);
    module->freeAfterTick_ = true;
    return;
  }
  delete module;
}

void TSerialPortDM::UpdateTimer() {
  const bool run = Owner && Owner->TypeEnabled[kTypePolling] && RequestList.Count() > 0;
  if (Timer) Timer->SetEnabled(run);
}

void TSerialPortDM::ResetRequests(bool withPause) {
  const TRearm rearm(*this);
  Timer->SetEnabled(false);
  TRequestListWrite w(RequestList);
  if (withPause) Pause.StartWith(kPortOpenPauseMs);
  inHand_ = -1;
  DiscoveryList.Clear();
  LeaveAllInFlight();
  nextDue_ = 0;
  for (TRequestItem* item : w.Items()) {
    item->RpmCount = 0;
    item->RpmCarried = false;
    item->Pending = false;
    item->Stopwatch.Clear();
    item->Retries = 0;
  }
  ResetCov(w.Items());
}

void TSerialPortDM::PrepareRebuild() {
  Timer->SetEnabled(false);
  TRequestListWrite w(RequestList);
  CancelSubscriptions();  // before the devices are forgotten
  covGroups_.clear();
  covLogged_.clear();
  covOwed_ = false;
  Current = nullptr;
  inFlight_.clear();  // the items go with the list
  nextDue_ = 0;
  DiscoveryList.Clear();
  Stack.Data.Devices.Clear();
  Status.ClearDevices();
}

}  // namespace bacnet_module
