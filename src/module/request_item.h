// One poll request: the present value of one object of one device, with its
// schedule, its state while a frame is out, and the last value received.
#pragma once

#include <cstdint>
#include <string>

#include "bacnet/bacnet_endpoint.h"
#include "runtime/timing/kel_timeout.h"
#include "runtime/variant.h"

namespace bacnet_module {

// Where an item of a request that logs on change stands with its
// subscription.
enum class TCovState : uint8_t {
  Wanted,      // to be subscribed (the first send of the item subscribes)
  Subscribed,  // the device answered the subscription; renewed and read by the safety net
  CancelOwed,  // its group is polled instead: the subscription is cancelled first
  Polled,      // the device refused or never answered: polled like any request
};

class TRequestItem {
 public:
  TRequestItem() : Value(kel::Variant::Null()) {}
  TRequestItem(const TRequestItem&) = delete;
  TRequestItem& operator=(const TRequestItem&) = delete;

  // Copies every field but Value and InvokeId.
  void Assign(const TRequestItem& source);

  // The fields the tick's search reads lie together at the front.
  kel::TkelTimeout Stopwatch;  // time of the last send or answer
  bool Enabled = false;
  bool Pending = false;
  bool Poll = false;         // true: again every PollInterval; false: once
  bool DevicePropertyPending = false;
  bool Fresh = false;        // a value was answered since the group's last record
  int32_t PollInterval = 0;  // milliseconds
  int32_t Timeout = 0;       // milliseconds
  int32_t Retries = 0;
  uint32_t GroupId = 0;
  int32_t IndexInGroup = 0;  // 1-based
  uint32_t GroupSize = 0;
  uint32_t ObjectInstance = 0;
  uint16_t ObjectType = 0;
  uint8_t InvokeId = 0;
  // The fast pace: the invoke identifiers of the earlier tries of the
  // request out (an answer to one of them still ends it), the round in
  // which the item was last sent, and the basic property slot a property
  // read asks for.
  uint8_t EarlierInvokeIds[2] = {0, 0};
  uint8_t PropertySlot = 0;
  uint32_t SentRound = 0;
  // ReadPropertyMultiple: the number of items the request out of this item
  // carries (itself and the group's items after it; 0: a ReadProperty),
  // whether the item rides on the request of an item before it, and
  // whether its device refused ReadPropertyMultiple (read with
  // ReadProperty until the list is built again).
  uint8_t RpmCount = 0;
  uint8_t RpmLast = 0;  // the items the last request carried once it ended (0: a ReadProperty)
  bool RpmCarried = false;
  bool ReadSingle = false;
  // Log on change: the subscription's lifetime (seconds), the safety-net
  // poll's interval while subscribed, where the subscription stands, whether
  // the request out is a subscription (or its cancel), and when it falls
  // due to be renewed.
  bool LogOnChange = false;
  bool CovOut = false;
  TCovState Cov = TCovState::Wanted;
  uint32_t CovLifetime = 0;
  int32_t SafetyNetMs = 0;
  kel::TkelTimeout CovRenew;
  std::string Description;
  std::string Name;
  std::string Key;  // Name lower-cased, made with the item: the key of its record item
  kel::Variant Value;
  bacnet::TDeviceConnInfo Connection;
};

// Whether two items read the same device (instance, address and port).
inline bool SameDevice(const TRequestItem& a, const TRequestItem& b) {
  return a.Connection.Instance == b.Connection.Instance && a.Connection.EndPoint.Port == b.Connection.EndPoint.Port &&
         a.Connection.EndPoint.Address == b.Connection.EndPoint.Address;
}

}  // namespace bacnet_module
