// The line after a time-out warning, in words a technician reads: what was
// tried, and what the module knows of the device and of the data source.
// Also the "DEVICE-STATUS" lines and the warning of an unanswered Who-Is.
#include <string>

#include "bacnet/bacnet_enums.h"
#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"
#include "runtime/text/text_utils.h"

namespace bacnet_module {

namespace {

// Other devices that answered this recently mean the way to the network works.
constexpr uint64_t kRecentAnswerMs = 60000;

uint64_t Ago(uint64_t now, uint64_t then) { return now >= then ? now - then : 0; }

}  // namespace

std::string TSerialPortDM::DiagnosisText(const TRequestItem& item) {
  const kel::TTextResources& r = *Owner->TextResources;
  auto text = [&](const std::string& field) { return Owner->Text(field); };
  // The device as the table knows it: a device behind a router carries its
  // route there, not in the configured item.
  bacnet::TDeviceConnInfo conn = item.Connection;
  {
    bacnet::TDeviceReadLock devices(Stack.Data.Devices);
    if (const bacnet::TDevice* d = Stack.FindDevice(item.Connection, item.Connection.Instance)) conn = d->ConnInfo;
  }
  const TDiagnosisFacts f = Status.Facts(conn);
  const std::string endPoint = conn.EndPoint.Address + ":" + std::to_string(conn.EndPoint.Port);
  // One try: the host gave the first send up, no spacing to speak of.
  std::string line = item.Retries == 0
                         ? kel::FormatTexts(text(r.TextDiagOneTry), {std::to_string(conn.Instance), endPoint})
                         : kel::FormatTexts(text(r.TextDiagTries), {std::to_string(item.Retries + 1),
                                                                    std::to_string(item.Timeout),
                                                                    std::to_string(conn.Instance), endPoint});
  if (conn.AddressLength > 0) {
    const std::vector<uint8_t> station(conn.StationAddress.begin(),
                                       conn.StationAddress.begin() + std::min<size_t>(conn.AddressLength, 6));
    line += " (" +
            kel::FormatTexts(text(r.TextDiagRoute), {std::to_string(conn.Network & 0xFFFF), StationText(station)}) +
            ")";
  }
  const bool heard = f.Device && f.Device->Answers > 0;
  if (heard) {
    line += "; " + kel::FormatText(text(r.TextDiagLastAnswer), DurationText(Ago(f.Now, f.Device->LastAnswer)));
    if (!f.Device->LastError.empty())
      line += "; " + kel::FormatTexts(text(r.TextDiagLastError),
                                      {DurationText(Ago(f.Now, f.Device->LastErrorAt)), f.Device->LastError});
  } else {
    line += "; " + text(r.TextDiagNeverHeard);
    if (f.IAmInstance && *f.IAmInstance != conn.Instance)
      line += " (" + kel::FormatText(text(r.TextDiagIAmNamed), std::to_string(*f.IAmInstance)) + ")";
  }
  if (f.LastOtherAnswer != 0 && Ago(f.Now, f.LastOtherAnswer) < kRecentAnswerMs) {
    line += "; " + text(r.TextDiagPathUp);
  } else if (f.LastArrival != 0 && Ago(f.Now, f.LastArrival) < kRecentAnswerMs &&
             !(f.Device && f.LastArrival == f.Device->LastAnswer)) {
    // Something else than this device's own last answer.
    line += "; " + kel::FormatText(text(r.TextDiagFramesArrived), DurationText(Ago(f.Now, f.LastArrival)));
  } else {
    const uint64_t quietSince = f.LastArrival != 0 ? f.LastArrival : f.Since;
    line += "; " + kel::FormatText(text(r.TextDiagNothing), DurationText(Ago(f.Now, quietSince)));
  }
  return line;
}

namespace {

// A property's text in quotes, with quotes and backslashes escaped and
// control characters made "?": one line whatever the device named itself.
std::string Quoted(const std::string& text) {
  std::string q = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') q += '\\';
    q += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  }
  return q + "\"";
}

}  // namespace

std::string TSerialPortDM::DeviceStatusText() {
  static constexpr struct {
    uint16_t property;
    const char* key;
  } kShown[] = {{bacnet::kPropObjectName, "name"},
                {bacnet::kPropVendorName, "vendor"},
                {bacnet::kPropModelName, "model"},
                {bacnet::kPropFirmwareRevision, "firmware"}};
  const uint64_t now = Status.Now();
  std::string text;
  for (const TDeviceStatus& d : Status.Devices()) {
    text += DeviceStatusLine(DataSourceId, d, now);
    // The basic properties read so far.
    bacnet::TDeviceConnInfo conn;
    conn.EndPoint = bacnet::TIpEndPoint{d.Address, d.Port, false};
    bacnet::TDeviceReadLock devices(Stack.Data.Devices);
    if (const bacnet::TDevice* device = Stack.FindDevice(conn, d.Instance)) {
      for (const auto& shown : kShown)
        for (const bacnet::TDeviceBasicProperty& slot : device->BasicProperties)
          if (slot.PropertyId == shown.property && slot.HasValue)
            text += std::string(" ") + shown.key + "=" + Quoted(slot.Value.ToAnsi());
    }
    text += "\r\n";
  }
  return text;
}

void TSerialPortDM::LogNoIAm(const bacnet::TIpEndPoint& endPoint) {
  // Part of the diagnosis: with it off the log is as it always was.
  if (!Diagnosis || !Owner || !Owner->TextResources) return;
  Owner->AddLog(kel::kLogWarning, kel::FormatText(Owner->Text(Owner->TextResources->TextNoIAm),
                                                 endPoint.Address + ":" + std::to_string(endPoint.Port)));
}

}  // namespace bacnet_module
