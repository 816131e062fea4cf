// A host for the polling module inside the test program: the module is made
// through the exports with host-side parameter lists, its clock and its
// ticks are the test's, and a small test device of its own (written from the
// protocol's octet layouts, not from the module's code) answers the frames
// the module hands to DataLogger_SendDataEx.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "bacnetip/plugin_abi.h"
#include "common/iam_frame.h"
#include "host_params.h"
#include "parsed_records.h"

namespace kel {
class TProxyCodeObject;
}  // namespace kel

namespace bacnet_module {
class TaPlugin;
class TDataSourceCfg;
class TSerialPortDM;
}  // namespace bacnet_module

namespace polltest {

// The test's clock: milliseconds that move only when the test says so.
void UseFakeClock(uint64_t start = 1000000);
void Advance(uint64_t ms);
uint64_t Now();

// One ReadProperty or Who-Is as the module sent it.
struct SentFrame {
  int32_t dataSourceId = 0;  // the data source the module sent it through
  std::string address;  // from the "<<TO:" envelope
  uint16_t port = 0;
  std::vector<uint8_t> octets;
  bool whoIs = false;
  uint8_t function = 0;             // BVLC function: 0x0A unicast, 0x0B broadcast
  std::vector<uint8_t> whoIsRange;  // the octets after the Who-Is service choice
  uint8_t invokeId = 0;
  uint16_t objectType = 0;
  uint32_t objectInstance = 0;
  uint32_t propertyId = 0;
  // Routed requests: the destination network and station address.
  uint16_t dnet = 0;
  std::vector<uint8_t> dadr;
  // A ReadPropertyMultiple: the objects whose present values it asks for
  // (objectType and objectInstance are the first's).
  bool multiple = false;
  std::vector<std::pair<uint16_t, uint32_t>> objects;
  // A SubscribeCOV (objectType/objectInstance: the monitored object; no
  // lifetime: a cancel), or the Simple-ACK of a confirmed notification.
  bool subscribe = false;
  uint32_t processId = 0;
  bool hasLifetime = false;
  uint32_t lifetime = 0;
  bool simpleAck = false;
};
// Parses the envelope and the frame; false when it is neither request.
bool ParseSent(const std::string& message, SentFrame& out);

// Frames a device sends back.
std::vector<uint8_t> RealAck(const SentFrame& req, float value);
std::vector<uint8_t> TextAck(const SentFrame& req, const std::string& text);
std::vector<uint8_t> ErrorAnswer(const SentFrame& req, uint8_t errorClass, uint8_t errorCode);
// A Reject (0x60) or Abort (0x70, from the server) with its reason.
std::vector<uint8_t> Refusal(const SentFrame& req, uint8_t pduType, uint8_t reason);
// An I-Am from a device: testutil::IAmFrame (common/iam_frame.h).
using testutil::IAmFrame;
// One result of a ReadPropertyMultiple-ACK: the present value of an object,
// or a property error for it.
struct MultipleResult {
  uint16_t objectType = 0;
  uint32_t objectInstance = 0;
  float value = 0;
  bool error = false;
  uint8_t errorClass = 0;
  uint8_t errorCode = 0;
};
// The ACK with these results, in this order.
std::vector<uint8_t> MultipleAck(const SentFrame& req, const std::vector<MultipleResult>& results);
// The ACK giving every object of req the value base + its instance.
std::vector<uint8_t> MultipleAck(const SentFrame& req, float base);
// The Simple-ACK of a request (SubscribeCOV's answer).
std::vector<uint8_t> SimpleAck(const SentFrame& req);
// A COV notification from device for one object, with a REAL present value
// and the status flags; confirmed ones carry invokeId.
std::vector<uint8_t> CovNotice(uint32_t processId, uint32_t device, uint16_t objectType, uint32_t instance,
                               float value, bool confirmed = false, uint8_t invokeId = 0);
// An answer from a device behind a router: the NPDU names the source network
// and station address.
std::vector<uint8_t> Routed(const std::vector<uint8_t>& frame, uint16_t snet, const std::vector<uint8_t>& sadr);

// The same frame relayed by a broadcast management device: a Forwarded-NPDU
// naming the original sender.
std::vector<uint8_t> Forwarded(const std::vector<uint8_t>& frame, const std::string& origin, uint16_t port);

// What one ProcessData call gave the host.
struct Delivered {
  int32_t code = 0;
  host::NamedValues items;  // the output list, row markers included
  std::string rawText;
};

class PollHost {
 public:
  // With manualTicks the test ticks the modules itself; otherwise their
  // timers run on their own threads.
  explicit PollHost(bool manualTicks = true);
  ~PollHost();
  // Called for every frame the module sends (on the sending thread), besides
  // keeping it for TakeSent.
  std::function<void(const SentFrame&)> OnSent;

  // Creates and loads an instance whose stored options hold xml.
  void Start(const std::string& xml, bool readDeviceProperties = false, bool freshOnly = false);
  // Stores the options as they are now (changed by the test after Start),
  // for the next reload to read back.
  void SaveOptions();
  // Changes the stored options (before SET-STATE, which reads them).
  void SetOptions(const std::function<void(kel::TProxyCodeObject&)>& change);
  // SET-STATE with the given data sources ("id;name;full name" lines).
  int32_t SetState(const std::string& sources, int32_t result = 1, uint8_t callTypes = 0b11);
  int32_t Command(const std::string& command, const std::vector<std::pair<std::string, host::HostValue>>& params = {});
  void Unload();
  void Free();

  bacnet_module::TaPlugin* Plugin();
  // The options object of the loaded instance (null before LOAD).
  bacnet_module::TDataSourceCfg* Options();
  bacnet_module::TSerialPortDM* Module(int32_t dataSourceId = 1);
  // One tick of a data source's module.
  void Tick(int32_t dataSourceId = 1);

  // A frame received from address:port through the data source, in a call
  // of these call types (the receiving type's bit by default).
  Delivered Receive(const std::vector<uint8_t>& frame, const std::string& peer, int32_t dataSourceId = 1,
                    uint8_t callTypes = 0b10);

  // What the module handed over, oldest first.
  std::vector<SentFrame> TakeSent();
  std::vector<host::ParsedRecord> TakeKind9();
  std::string TakeLog();
  // Make DataLogger_SendDataEx answer with this result for kind 129.
  std::atomic<int32_t> SendResult{0};
  uint32_t Handle() const { return handle_; }

 private:
  int32_t OnSendData(int32_t moduleIndex, int32_t dataSourceId, int32_t kind, void* data, int32_t count);

  uint32_t handle_ = 0;
  std::string ini_;
  std::mutex m_;
  std::vector<SentFrame> sent_;
  std::vector<host::ParsedRecord> kind9_;
};

// The values of a record (the items between the standard ones and the row
// marker), by name.
std::map<std::string, host::HostValue> ByName(const host::NamedValues& items);
std::vector<std::string> Names(const host::NamedValues& items);

// A request of the configuration XML.
struct RequestXml {
  std::string caption;
  std::string endpoint = "192.168.1.30:47808";
  std::string instances = "7";
  bool poll = true;
  int32_t interval = 1000;
  std::string units = "MS";
  int32_t timeout = 1500;
  bool enabled = true;
  std::string extra;  // more of the request's elements, as XML
  // "D00:1=NAME" entries.
  std::vector<std::string> items;
};
std::string ConfigXml(const std::vector<RequestXml>& requests);

}  // namespace polltest
