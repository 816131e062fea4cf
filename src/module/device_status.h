// What a communication module knows of the devices it asks and of its data
// source: when each device last answered, how often it answered and timed
// out, its round-trip times, its route and its last Error answer; when
// anything last arrived; which instance an I-Am from an address named.  The
// diagnosis after a time-out and the "DEVICE-STATUS" command read it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "bacnet/bacnet_endpoint.h"
#include "platform/port.h"
#include "runtime/timing/kel_timeout.h"

namespace bacnet_module {

struct TDeviceStatus {
  uint32_t Instance = 0;
  std::string Address;
  uint16_t Port = 0;
  uint16_t Network = 0;       // behind a router: its network, else 0
  std::vector<uint8_t> Station;  // and its station address
  uint64_t LastAnswer = 0;    // clock reading of the last answer; 0: never
  uint64_t Answers = 0;
  uint64_t Timeouts = 0;
  uint64_t RttSum = 0;  // over Answers
  uint64_t RttMax = 0;
  std::string LastError;  // the text of the last Error, Reject or Abort answer
  uint64_t LastErrorAt = 0;
};

// What the diagnosis of one time-out starts from.
struct TDiagnosisFacts {
  uint64_t Now = 0;
  std::optional<TDeviceStatus> Device;  // none: never answered nor timed out before
  uint64_t LastOtherAnswer = 0;  // the latest answer of any other device; 0: none
  uint64_t LastArrival = 0;      // anything that arrived on the data source; 0: nothing
  uint64_t Since = 0;            // when the data source opened or the configuration was loaded
  std::optional<uint32_t> IAmInstance;  // the instance the last I-Am from the device's address named
};

class TDeviceStatusTable {
 public:
  TDeviceStatusTable();
  // The clock the table's readings are on.
  uint64_t Now();
  // Anything arrived on the data source.
  void NoteArrival();
  // An answer of conn's device to a request sent at sentAt (a reading of
  // the same clock); error: the text of an Error, Reject or Abort answer.
  void NoteAnswer(const bacnet::TDeviceConnInfo& conn, uint64_t sentAt, const std::string* error);
  void NoteTimeout(const bacnet::TDeviceConnInfo& conn);
  void NoteIAm(const std::string& address, uint32_t instance);
  // The devices' figures start again (a new configuration); what arrived
  // on the data source is kept.
  void ClearDevices();
  TDiagnosisFacts Facts(const bacnet::TDeviceConnInfo& conn);
  // Every device asked so far, in the order they were first seen.
  std::vector<TDeviceStatus> Devices() const;

  // At most this many devices and I-Am addresses are kept.
  static constexpr size_t kMaxEntries = 100000;

 private:
  using Key = std::tuple<std::string, uint16_t, uint32_t>;
  struct KeyHash {
    size_t operator()(const Key& k) const {
      return bacnet::ConnectionHash(std::get<0>(k), std::get<1>(k), std::get<2>(k));
    }
  };
  TDeviceStatus* Entry(const bacnet::TDeviceConnInfo& conn) REQUIRES(lock_);  // null when full

  mutable port::CriticalSection lock_;  // innermost: the table alone
  kel::TkelTimeout clock_ GUARDED_BY(lock_);
  // One look-up per answer, whatever the number of devices.
  std::unordered_map<Key, size_t, KeyHash> index_ GUARDED_BY(lock_);
  std::vector<TDeviceStatus> devices_ GUARDED_BY(lock_);
  std::unordered_map<std::string, uint32_t> iAmAt_ GUARDED_BY(lock_);
  uint64_t lastArrival_ GUARDED_BY(lock_) = 0;
  uint64_t since_ GUARDED_BY(lock_) = 0;
};

// "2 min 10 s", "45 s", "800 ms", "3 h 5 min".
std::string DurationText(uint64_t ms);
// The route of a device behind a router ("5", station "12" or "0a:0b").
std::string StationText(const std::vector<uint8_t>& station);
// One line of "DEVICE-STATUS" for a device (at now, of the data source id).
std::string DeviceStatusLine(int32_t dataSourceId, const TDeviceStatus& d, uint64_t now);

}  // namespace bacnet_module
