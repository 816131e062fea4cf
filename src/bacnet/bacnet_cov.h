// Change-of-value reporting: the SubscribeCOV request (and its cancel form),
// the reader of COV notifications, and the Simple-ACK that answers a
// confirmed one.  Stateless; every reader is bounds-checked, nothing here
// allocates beyond what a decoded value needs.
#pragma once

#include <cstdint>
#include <span>

#include "bacnet/bacnet_endpoint.h"
#include "bacnet/bacnet_pdu.h"
#include "bacnet/bacnet_utils.h"
#include "runtime/variant.h"

namespace bacnet {

// What a SubscribeCOV asks of the device.
struct TCovSubscription {
  uint32_t ProcessId = 0;  // ours, echoed in every notification
  uint16_t ObjectType = 0;
  uint32_t Instance = 0;
  bool Confirmed = false;  // the device sends confirmed notifications
  uint32_t Lifetime = 300; // seconds; 0 asks for a subscription without end
  bool Cancel = false;     // the cancel form: no flag, no lifetime
};

// Longest SubscribeCOV frame: routed header (16), APDU header (4), process
// identifier (5), object identifier (5), flag (2), lifetime (5).
constexpr int32_t kMaxSubscribeCovLength = 37;
// Longest Simple-ACK frame: routed header (16) and the APDU (3).
constexpr int32_t kMaxSimpleAckLength = 19;

// Writes the SubscribeCOV for conn (invoke identifier conn.InvokeId) into
// out; returns its length, 0 when out is too small or conn's station
// address cannot be written.
int32_t BuildSubscribeCovFrame(std::span<uint8_t> out, const TDeviceConnInfo& conn, const TCovSubscription& sub);
// Writes the Simple-ACK of a confirmed request of the given service with
// invokeId, addressed to conn (routed back when conn has a station address);
// returns its length or 0 as above.
int32_t BuildSimpleAckFrame(std::span<uint8_t> out, const TDeviceConnInfo& conn, uint8_t invokeId,
                            uint8_t serviceChoice);

// One COV notification as read from the wire.
struct TCovNotification {
  bool Confirmed = false;
  uint8_t InvokeId = 0;  // of a confirmed notification, for its Simple-ACK
  uint32_t ProcessId = 0;
  uint32_t DeviceInstance = 0;  // the initiating device
  uint16_t ObjectType = 0;      // the monitored object
  uint32_t Instance = 0;
  uint32_t TimeRemaining = 0;   // seconds left of the subscription
  // The values the notification carries that we read; the others are
  // passed over.
  bool HasPresentValue = false;
  uint8_t PresentValueTag = 0;  // application tag of the value
  kel::Variant PresentValue;
  bool HasStatusFlags = false;
  kel::Variant StatusFlags;  // "0000": in alarm, fault, overridden, out of service
  uint32_t OtherValues = 0;  // properties passed over
  // Where it came from: the sender's endpoint and, for a device behind a
  // router, its network and station address; a Simple-ACK goes back here.
  TDeviceConnInfo From;
};

enum class TCovStatus {
  Read,           // a well-formed notification
  NotCovNotification,
  Malformed,      // a tag out of place, or the frame ends inside it
};

// Reads the COV notification (confirmed or unconfirmed) whose APDU starts
// at apduPos.  On anything but Read the notification is to be dropped.
TCovStatus DecodeCovNotification(TBacBytes frame, int32_t apduPos, TCovNotification& out);

}  // namespace bacnet
