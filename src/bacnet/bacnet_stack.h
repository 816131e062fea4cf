// The BACnet/IP client: builds ReadProperty and Who-Is requests, hands them
// to the owner's send handler, and takes received frames from the inbound
// queue one at a time, matching replies to the request in flight and learning
// devices from I-Am.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "bacnet/bacnet_bvlc.h"
#include "bacnet/bacnet_cov.h"
#include "bacnet/bacnet_device.h"
#include "bacnet/bacnet_endpoint.h"
#include "bacnet/bacnet_pdu.h"
#include "bacnet/bacnet_property.h"
#include "bacnet/bacnet_rpm.h"
#include "bacnet/bacnet_utils.h"
#include "runtime/thread_queue.h"

namespace bacnet {

// One received frame as the host delivered it, with its source endpoint.
class TBacDataItem : public kel::TDataItem {
 public:
  TBacDataItem(const void* data, int32_t size, std::string address, uint16_t port)
      : kel::TDataItem(data, false, size), Address(std::move(address)), Port(port) {}
  TIpEndPoint EndPoint() const { return TIpEndPoint{Address, Port, false}; }

  std::string Address;
  uint16_t Port;
};

// Longest request the stack builds (routed ReadProperty with a six-octet
// station address and a two-octet property identifier).
constexpr int32_t kMaxRequestLength = 32;

// Writes the ReadProperty request for conn into out (at least
// kMaxRequestLength octets); returns its length, 0 when out is too small or
// conn's station address is longer than the octets kept.
int32_t BuildReadPropertyFrame(std::span<uint8_t> out, const TDeviceConnInfo& conn, uint32_t instance,
                               uint16_t objectType, uint16_t propertyId);
// Longest Who-Is the stack builds (with a range of three-octet instances).
constexpr int32_t kMaxWhoIsLength = 20;
// Writes a global Who-Is (DNET 65535, so that routers pass it on) into out
// (at least kMaxWhoIsLength octets): as Original-Broadcast-NPDU when it goes
// to a broadcast address, else as Original-Unicast-NPDU; with the range
// instance..instance when instance is below AnyInstance.  Returns its length
// (12, or up to 20 with a range), 0 when out is too small.
int32_t BuildWhoIsFrame(std::span<uint8_t> out, bool broadcast = false, uint32_t instance = AnyInstance);

// What ProcessReceived returns for a BVLC-Result (no PDU type has it).
constexpr int32_t kReceivedBvlcResult = 0x100;

// How much the owner wants a device that an I-Am announces.
enum class TDeviceWanted : uint8_t {
  No,         // nothing of the owner's can use it: it is not kept
  ByPattern,  // kept while the table has room
  ByName,     // named exactly by the owner: kept also in a full table
};

// The source of a confirmed reply: the sender's address and port (the
// original sender's when relayed) and the reply's network header.
struct TReplySource {
  std::string_view Address;
  uint16_t Port = 0;
  const TNPDU* Npdu = nullptr;
  // Whether the reply comes from conn's device: the same address and port
  // and, behind a router, the same network and station (a device without
  // them answers without a source network).
  bool From(const TDeviceConnInfo& conn) const;
};

// Tells whether a reply with this invoke identifier and source answers a
// request the caller has out (and remembers which).
using TReplyMatcher = std::function<bool(uint8_t invokeId, const TReplySource& source)>;

// A ReadPropertyMultiple-ACK that answers the request expected, as the
// stack hands it to its owner: the received frame (valid during the call)
// and where its APDU starts.
struct TRpmAck {
  TBacBytes Frame;
  int32_t ApduPos = 0;
  // The ACK's results (DecodeReadPropertyMultipleAck).
  TRpmStatus Read(size_t maxResults, TRpmResultSink sink, size_t* count = nullptr) const {
    return DecodeReadPropertyMultipleAck(Frame, ApduPos, maxResults, sink, count);
  }
};

class TBACnetStack {
 public:
  // Sends length octets of frame to conn; 0 or more means sent.
  using TSendHandler =
      std::function<int32_t(TBACnetStack& sender, TBacBytes frame, const TDeviceConnInfo& conn, int32_t length)>;
  using TDeviceFoundHandler = std::function<void(TBACnetStack& sender, const TDeviceConnInfo& conn)>;
  // Told of failures that have no caller to return to (a Who-Is that could
  // not be sent); the owner logs them as errors.
  using TErrorHandler = std::function<void(TBACnetStack& sender, const std::string& message)>;
  // Asked for every device an I-Am announces (endpoint as registered, and
  // instance) before it is looked up; unset, every device is wanted by
  // pattern.  Called with no lock of the table held; it must be quick, as
  // it runs for every I-Am a flood brings.
  using TDeviceWantedHandler = std::function<TDeviceWanted(TBACnetStack& sender, const TDeviceConnInfo& conn)>;
  // Told the first time a device is refused because the table holds
  // kMaxDevices, and again only after the table was cleared.
  using TTableFullHandler = std::function<void(TBACnetStack& sender)>;
  // Told of a ReadPropertyMultiple-ACK once it was matched to the request
  // expected, before ProcessReceived returns 0x30 for it (the holder then
  // stays as for any Complex-ACK that is no ReadProperty-ACK).  The owner
  // reads the results from ack; unset, such ACKs are handled as before.
  using TRpmAckHandler = std::function<void(TBACnetStack& sender, const TRpmAck& ack)>;
  // Told of every well-formed COV notification, confirmed or not, from
  // whichever sender: the owner checks that it holds the subscription (the
  // sender in notification.From, the process identifier, the object).  A
  // confirmed one is the owner's to answer (SendSimpleAck with From and
  // InvokeId).  Unset, notifications are dropped.
  using TCovNotificationHandler = std::function<void(TBACnetStack& sender, const TCovNotification& notification)>;

  TBACnetStack() = default;
  TBACnetStack(const TBACnetStack&) = delete;
  TBACnetStack& operator=(const TBACnetStack&) = delete;

  // Sends a ReadProperty; returns the invoke identifier used (0..255), the
  // handler's negative result, or -1 without a handler or when conn's
  // station address is too long to send.  For Device objects the
  // connection's own instance is asked for.
  int32_t ReadProperty(const TDeviceConnInfo& conn, uint32_t instance, uint16_t objectType,
                       uint16_t propertyId) EXCLUDES(Data.Devices);
  // Sends a ReadPropertyMultiple for the present values of items; returns
  // as ReadProperty does.  -1 also for no items or more than one request
  // may carry for conn's device (RpmItemsPerRequest of conn.MaxApdu).
  int32_t ReadPropertyMultiple(const TDeviceConnInfo& conn, std::span<const TRpmItem> items) EXCLUDES(Data.Devices);
  // Sends a SubscribeCOV (or its cancel form); returns as ReadProperty.  Its
  // Simple-ACK, Error, Reject or Abort comes back through ProcessReceived
  // as for any request.
  int32_t SubscribeCov(const TDeviceConnInfo& conn, const TCovSubscription& subscription) EXCLUDES(Data.Devices);
  // Sends the Simple-ACK of a confirmed request of the given service to conn
  // (for a confirmed COV notification: its From and InvokeId).  Returns the
  // handler's result, -1 without a handler or when conn cannot be addressed.
  int32_t SendSimpleAck(const TDeviceConnInfo& conn, uint8_t invokeId, uint8_t serviceChoice) EXCLUDES(Data.Devices);
  // Sends a global Who-Is to conn's endpoint (as a broadcast when the
  // endpoint is one; for one device when instance is below AnyInstance) and
  // remembers its port.
  void SendWhoIs(const TDeviceConnInfo& conn, uint32_t instance = AnyInstance) EXCLUDES(Data.Devices);
  // Sends the same Who-Is as Distribute-Broadcast-To-Network to a broadcast
  // manager, which broadcasts it on its networks for this foreign device;
  // the I-Ams take devicePort (the port of the broadcast endpoint meant).
  void SendDistributedWhoIs(const TDeviceConnInfo& manager, uint16_t devicePort, uint32_t instance = AnyInstance)
      EXCLUDES(Data.Devices);
  // Sends a management frame (length octets) to conn; the handler's result,
  // -1 without a handler.
  int32_t SendBvll(const TDeviceConnInfo& conn, TBacBytes frame) EXCLUDES(Data.Devices);
  // Takes one frame from Inbound and handles it.  A confirmed reply counts
  // only when it carries expectedInvokeId and comes from expected's device.
  // Returns the PDU type handled (0x10, 0x20, 0x30, 0x50, 0x60, 0x70; 0x00
  // for a confirmed COV notification handed to OnCovNotification),
  // kReceivedBvlcResult for a BVLC-Result (its code in result.BvlcResult),
  // or -1 when the queue was empty or the frame was dropped.
  int32_t ProcessReceived(uint8_t expectedInvokeId, const TDeviceConnInfo& expected, TProperty& result,
                          std::string* rawCopy = nullptr);
  // As above, for a caller with many requests out: a confirmed reply counts
  // only when match accepts its invoke identifier and source.
  int32_t ProcessReceived(const TReplyMatcher& match, TProperty& result, std::string* rawCopy = nullptr);

  // The device with conn's endpoint and the given instance, or null (one
  // look-up in the table's index).  The pointer is valid while the caller
  // holds a side of the table's lock.
  TDevice* FindDevice(const TDeviceConnInfo& conn, uint32_t instance);
  // Adds a device for conn's endpoint and instance, with the routing fields
  // of npdu when given.  Returns null (table unchanged) when the same
  // connection is known already, or when the table holds kMaxDevices and
  // the device is not named (named: the owner names it exactly, so the
  // configuration bounds how many such devices there are).
  TDevice* RegisterDevice(const TDeviceConnInfo& conn, uint32_t instance, const TNPDU* npdu,
                          TDeviceConnInfo* outConn, bool named = false);

  TSendHandler OnSend;
  TDeviceFoundHandler OnDeviceFound;
  TErrorHandler OnError;
  TDeviceWantedHandler OnDeviceWanted;
  TTableFullHandler OnTableFull;
  TRpmAckHandler OnReadPropertyMultipleAck;
  TCovNotificationHandler OnCovNotification;
  // Written where Who-Is goes out (the scheduler's thread), read where I-Am
  // is handled (the host's data thread).
  std::atomic<uint16_t> LastWhoIsPort{kBacnetIpPort};
  TBACnetData Data;
  kel::TThreadSafeQueue<TBacDataItem> Inbound;

 private:
  // One received frame: the headers, then by the PDU's type a COV
  // notification to hand over, an I-Am to register or the awaited answer to
  // decode.
  int32_t HandleFrame(TBacBytes frame, TBacDataItem& item, uint8_t expectedInvokeId,
                      const TDeviceConnInfo& expected, const TReplyMatcher* match, TProperty& result);
  int32_t HandleIAm(TBacBytes frame, int32_t apdu, TBacDataItem& item, const TNPDU& npdu);
  void HandOverMultipleAck(TBacBytes frame, int32_t apdu);
  int32_t HandleCovNotification(TBacBytes frame, int32_t apdu, const TBacDataItem& item, const TNPDU& npdu);
};

}  // namespace bacnet
