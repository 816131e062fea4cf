#include "bacnet/bacnet_stack.h"

#include <algorithm>
#include <array>
#include <exception>

#include "bacnet/bacnet_enums.h"

namespace bacnet {
namespace {

// Whether a reply with this source and network header comes from the device
// the request went to.  Ports are not compared.
bool FromExpectedDevice(std::string_view source, const TNPDU& npdu, const TDeviceConnInfo& expected) {
  if (!SameHostAddress(source, expected.EndPoint.Address)) return false;
  if (expected.AddressLength == 0) return true;
  std::array<uint8_t, kMaxStationAddress> station{};
  const uint8_t n = StationOctets(expected, station);
  return n != 0 && (npdu.Control & 0x08) != 0 && npdu.SNet == static_cast<uint16_t>(expected.Network) &&
         npdu.SAdr.size() == n && std::equal(npdu.SAdr.begin(), npdu.SAdr.end(), station.begin());
}

// The BACnet/IP and network headers: the position of the APDU, which holds
// at least its first octet, or -1.  A forwarded frame's item takes the
// original sender's address.
int32_t DecodeHeader(TBacBytes frame, TBacDataItem& item, TNPDU& npdu) {
  const TBvll bvll = DecodeBvll(frame);
  if (bvll.NpduPos == 0) return -1;
  if (bvll.Forwarded) {  // the original sender
    item.Address = bvll.OriginAddress;
    item.Port = bvll.OriginPort;
  }
  const int32_t apdu = npdu.Decode(frame, bvll.NpduPos);
  if (apdu <= 0 || static_cast<size_t>(apdu) >= frame.size()) return -1;
  return apdu;
}

// The answers a request can get.
bool IsAnswerType(uint8_t type) {
  return type == kPduSimpleAck || type == kPduComplexAck || type == kPduError || type == kPduReject ||
         type == kPduAbort;
}

// Whether an answer of this type is the one awaited: its fixed octets are
// there (invoke identifier, and the reason of a Reject or Abort), and either
// match accepts its invoke identifier and source or, without a matcher, it
// carries the request's invoke identifier and comes from the request's device.
bool IsAwaitedAnswer(TBacBytes frame, int32_t apdu, uint8_t type, const TBacDataItem& item, const TNPDU& npdu,
                     uint8_t expectedInvokeId, const TDeviceConnInfo& expected, const TReplyMatcher* match) {
  if (!IsAnswerType(type)) return false;
  const size_t fixed = (type == kPduReject || type == kPduAbort) ? 3 : 2;
  if (frame.size() - static_cast<size_t>(apdu) < fixed) return false;
  const uint8_t invokeId = frame[static_cast<size_t>(apdu) + 1];
  if (match) return (*match)(invokeId, TReplySource{item.Address, item.Port, &npdu});
  return invokeId == expectedInvokeId && FromExpectedDevice(item.Address, npdu, expected);
}

// An Error: its class and code, as far as they decode.
void DecodeError(TBacBytes frame, int32_t apdu, TProperty& result) {
  int32_t pos = apdu + 3;
  kel::Variant v;
  if (DecodeApplicationValue(frame, pos, v)) {
    result.ErrorClass = static_cast<uint8_t>(v.ToInt64());
    if (DecodeApplicationValue(frame, pos, v)) result.ErrorCode = static_cast<uint8_t>(v.ToInt64());
  }
}

// A Reject or Abort: a communication error with the refusal's reason.
void DecodeRefusal(TBacBytes frame, int32_t apdu, TProperty& result) {
  result.ErrorClass = kErrorClassCommunication;
  result.ErrorCode = frame[static_cast<size_t>(apdu) + 2];
}

// A ReadProperty answer: the value's tag and value, or Null when it carries
// none.  False for a truncated answer, which is dropped: the holder stays as
// it was.
bool DecodeReadPropertyAck(TBacBytes frame, int32_t apdu, TProperty& result) {
  int32_t pos = 0;
  const TLocateResult located = TAPDU::LocateReadPropertyValue(frame, apdu, pos);
  if (located == TLocateResult::Truncated) return false;
  result.Tag = kTagNull;
  if (located == TLocateResult::Located) {
    kel::Variant v;  // a value that fails leaves the result's
    uint8_t tag = 0;
    if (DecodeApplicationValue(frame, pos, v, &tag)) {
      result.Tag = tag;
      result.Value = std::move(v);
    }
  }
  return true;
}

// The awaited answer into result, by its type (a Simple-ACK carries
// nothing); false when it is dropped.
bool DecodeAnswer(TBacBytes frame, int32_t apdu, uint8_t type, TProperty& result) {
  switch (type) {
    case kPduError:
      DecodeError(frame, apdu, result);
      return true;
    case kPduReject:
    case kPduAbort:
      DecodeRefusal(frame, apdu, result);
      return true;
    case kPduComplexAck:
      return DecodeReadPropertyAck(frame, apdu, result);
    default:
      return true;
  }
}

}  // namespace

bool TReplySource::From(const TDeviceConnInfo& conn) const {
  if (!Npdu || Port != conn.EndPoint.Port) return false;
  // A device on the local network answers without a source network.
  if (conn.AddressLength == 0 && (Npdu->Control & 0x08) != 0) return false;
  return FromExpectedDevice(Address, *Npdu, conn);
}

int32_t BuildReadPropertyFrame(std::span<uint8_t> out, const TDeviceConnInfo& conn, uint32_t instance,
                               uint16_t objectType, uint16_t propertyId) {
  if (out.size() < static_cast<size_t>(kMaxRequestLength)) return 0;
  std::fill(out.begin(), out.begin() + kMaxRequestLength, uint8_t{0});
  int32_t pos = WriteUnicastHeader(out, conn, true, 0);
  if (pos == 0) return 0;
  uint8_t* f = out.data();
  pos = WriteConfirmedRequestHead(out, pos, conn.InvokeId, kServiceReadProperty);
  pos = EncodeObjectIdentifier(out, pos, objectType, instance);
  pos = EncodePropertyIdentifier(out, pos, propertyId);
  f[3] = static_cast<uint8_t>(pos);
  return pos;
}

int32_t BuildWhoIsFrame(std::span<uint8_t> out, bool broadcast, uint32_t instance) {
  static constexpr uint8_t kWhoIs[12] = {0x81, 0x0A, 0x00, 0x0C, 0x01, 0x20,
                                         0xFF, 0xFF, 0x00, 0xFF, 0x10, 0x08};
  const uint8_t n = instance >= AnyInstance ? 0 : instance > 0xFFFF ? 3 : instance > 0xFF ? 2 : 1;
  if (out.size() < sizeof kWhoIs + (n ? 2u * (1u + n) : 0u)) return 0;
  std::copy(std::begin(kWhoIs), std::end(kWhoIs), out.begin());
  // A BACnet/IP node takes a frame sent to a broadcast address only as a
  // broadcast: many drop a unicast frame that arrives on their broadcast socket.
  if (broadcast) out[1] = kBvlcOriginalBroadcast;
  size_t length = sizeof kWhoIs;
  if (n) {
    // The range low = high = instance: only that device answers.
    for (const uint8_t context : {uint8_t{0x08}, uint8_t{0x18}}) {
      out[length++] = static_cast<uint8_t>(context | n);
      for (uint8_t i = n; i-- > 0;) out[length++] = static_cast<uint8_t>(instance >> (8 * i));
    }
  }
  out[3] = static_cast<uint8_t>(length);
  return static_cast<int32_t>(length);
}

int32_t TBACnetStack::ReadProperty(const TDeviceConnInfo& conn, uint32_t instance, uint16_t objectType,
                                   uint16_t propertyId) {
  if (!OnSend) return -1;
  if (objectType == kObjectDevice) instance = conn.Instance;
  std::array<uint8_t, kMaxRequestLength> frame;
  const int32_t length = BuildReadPropertyFrame(frame, conn, instance, objectType, propertyId);
  if (length == 0) return -1;  // the device's address cannot be written
  const int32_t sent = OnSend(*this, TBacBytes(frame.data(), static_cast<size_t>(length)), conn, length);
  return sent < 0 ? sent : conn.InvokeId;
}

int32_t TBACnetStack::ReadPropertyMultiple(const TDeviceConnInfo& conn, std::span<const TRpmItem> items) {
  if (!OnSend || items.size() > RpmItemsPerRequest(conn.MaxApdu)) return -1;
  std::array<uint8_t, kMaxRpmRequestLength> frame;
  const int32_t length = BuildReadPropertyMultipleFrame(frame, conn, items);
  if (length == 0) return -1;
  const int32_t sent = OnSend(*this, TBacBytes(frame.data(), static_cast<size_t>(length)), conn, length);
  return sent < 0 ? sent : conn.InvokeId;
}

int32_t TBACnetStack::SubscribeCov(const TDeviceConnInfo& conn, const TCovSubscription& subscription) {
  if (!OnSend) return -1;
  std::array<uint8_t, kMaxSubscribeCovLength> frame;
  const int32_t length = BuildSubscribeCovFrame(frame, conn, subscription);
  if (length == 0) return -1;
  const int32_t sent = OnSend(*this, TBacBytes(frame.data(), static_cast<size_t>(length)), conn, length);
  return sent < 0 ? sent : conn.InvokeId;
}

int32_t TBACnetStack::SendSimpleAck(const TDeviceConnInfo& conn, uint8_t invokeId, uint8_t serviceChoice) {
  if (!OnSend) return -1;
  std::array<uint8_t, kMaxSimpleAckLength> frame;
  const int32_t length = BuildSimpleAckFrame(frame, conn, invokeId, serviceChoice);
  if (length == 0) return -1;
  return OnSend(*this, TBacBytes(frame.data(), static_cast<size_t>(length)), conn, length);
}

void TBACnetStack::SendWhoIs(const TDeviceConnInfo& conn, uint32_t instance) {
  if (!OnSend) return;
  std::array<uint8_t, kMaxWhoIsLength> frame;
  const int32_t length = BuildWhoIsFrame(frame, conn.EndPoint.IsBroadcast, instance);
  LastWhoIsPort.store(conn.EndPoint.Port, std::memory_order_relaxed);
  try {
    OnSend(*this, TBacBytes(frame.data(), static_cast<size_t>(length)), conn, length);
  } catch (const std::exception& e) {
    // Nobody waits for a Who-Is: the failure goes to the owner's log and the
    // Who-Is is abandoned.
    if (OnError) OnError(*this, e.what());
  }
}

void TBACnetStack::SendDistributedWhoIs(const TDeviceConnInfo& manager, uint16_t devicePort, uint32_t instance) {
  if (!OnSend) return;
  std::array<uint8_t, kMaxWhoIsLength> frame;
  const int32_t length = BuildWhoIsFrame(frame, true, instance);
  frame[1] = kBvlcDistributeBroadcast;
  LastWhoIsPort.store(devicePort, std::memory_order_relaxed);
  try {
    OnSend(*this, TBacBytes(frame.data(), static_cast<size_t>(length)), manager, length);
  } catch (const std::exception& e) {
    if (OnError) OnError(*this, e.what());
  }
}

int32_t TBACnetStack::SendBvll(const TDeviceConnInfo& conn, TBacBytes frame) {
  if (!OnSend || frame.empty()) return -1;
  return OnSend(*this, frame, conn, static_cast<int32_t>(frame.size()));
}

int32_t TBACnetStack::ProcessReceived(uint8_t expectedInvokeId, const TDeviceConnInfo& expected,
                                      TProperty& result, std::string* rawCopy) {
  std::unique_ptr<TBacDataItem> item = Inbound.Pop();
  if (!item) return -1;
  if (item->Size() <= 4) return -1;
  const TBacBytes frame(item->Data(), static_cast<size_t>(item->Size()));
  if (rawCopy) rawCopy->assign(reinterpret_cast<const char*>(frame.data()), frame.size());
  return HandleFrame(frame, *item, expectedInvokeId, expected, nullptr, result);
}

int32_t TBACnetStack::ProcessReceived(const TReplyMatcher& match, TProperty& result, std::string* rawCopy) {
  std::unique_ptr<TBacDataItem> item = Inbound.Pop();
  if (!item) return -1;
  if (item->Size() <= 4) return -1;
  const TBacBytes frame(item->Data(), static_cast<size_t>(item->Size()));
  if (rawCopy) rawCopy->assign(reinterpret_cast<const char*>(frame.data()), frame.size());
  static const TDeviceConnInfo none;
  return HandleFrame(frame, *item, 0, none, &match, result);
}

// An unconfirmed request: an I-Am registers its device when the owner wants
// it; anything else is -1.
int32_t TBACnetStack::HandleIAm(TBacBytes frame, int32_t apdu, TBacDataItem& item, const TNPDU& npdu) {
  TAPDU iam;
  if (iam.DecodeIAm(frame, apdu) == 0) return -1;
  item.Port = LastWhoIsPort.load(std::memory_order_relaxed);
  TDeviceConnInfo source;
  source.EndPoint = item.EndPoint();
  source.Instance = iam.DeviceInstance;
  source.MaxApdu = iam.MaxApduAccepted;
  const TDeviceWanted wanted = OnDeviceWanted ? OnDeviceWanted(*this, source) : TDeviceWanted::ByPattern;
  // A device nothing can poll is not kept: any host on the network may
  // announce ever new ones.
  if (wanted == TDeviceWanted::No) return kPduUnconfirmedRequest;
  TDeviceConnInfo added;
  if (RegisterDevice(source, iam.DeviceInstance, &npdu, &added, wanted == TDeviceWanted::ByName) && OnDeviceFound)
    OnDeviceFound(*this, added);
  return kPduUnconfirmedRequest;
}

// The awaited Complex-ACK, when it is a ReadPropertyMultiple-ACK, to the
// owner's handler; the holder then reads it as any other Complex-ACK.
void TBACnetStack::HandOverMultipleAck(TBacBytes frame, int32_t apdu) {
  const auto at = static_cast<size_t>(apdu);
  if (OnReadPropertyMultipleAck && frame.size() - at >= 3 && frame[at] == kPduComplexAck &&
      frame[at + 2] == kServiceReadPropertyMultiple)
    OnReadPropertyMultipleAck(*this, TRpmAck{frame, apdu});
}

// Whether the APDU at apdu goes to the COV notification reader: an
// unconfirmed COV notification, or any confirmed request (a confirmed
// notification is the only one taken; the reader refuses the others).
static bool IsCovNotification(TBacBytes frame, int32_t apdu) {
  const auto at = static_cast<size_t>(apdu);
  const uint8_t first = frame[at];
  if ((first & 0xF0) == kPduConfirmedRequest) return true;
  return first == kPduUnconfirmedRequest && frame.size() - at >= 2 &&
         frame[at + 1] == kServiceUnconfirmedCovNotification;
}

int32_t TBACnetStack::HandleFrame(TBacBytes frame, TBacDataItem& item, uint8_t expectedInvokeId,
                                  const TDeviceConnInfo& expected, const TReplyMatcher* match,
                                  TProperty& result) {
  // The broadcast manager's answer to a registration: no NPDU follows.
  if (uint16_t code = 0; DecodeBvlcResult(frame, code)) {
    result.BvlcResult = code;
    result.BvlcSource = item.Address;
    return kReceivedBvlcResult;
  }
  TNPDU npdu;
  const int32_t apdu = DecodeHeader(frame, item, npdu);
  if (apdu < 0) return -1;
  const uint8_t type = frame[static_cast<size_t>(apdu)] & 0xF0;
  if (IsCovNotification(frame, apdu)) return HandleCovNotification(frame, apdu, item, npdu);
  if (type == kPduUnconfirmedRequest) return HandleIAm(frame, apdu, item, npdu);
  if (!IsAwaitedAnswer(frame, apdu, type, item, npdu, expectedInvokeId, expected, match)) return -1;
  if (type == kPduComplexAck) HandOverMultipleAck(frame, apdu);
  if (!DecodeAnswer(frame, apdu, type, result)) return -1;
  result.PduType = type;
  return type;
}

int32_t TBACnetStack::HandleCovNotification(TBacBytes frame, int32_t apdu, const TBacDataItem& item,
                                            const TNPDU& npdu) {
  TCovNotification n;
  n.From.EndPoint = item.EndPoint();
  if ((npdu.Control & 0x08) != 0) {  // behind a router: answers go back through it
    n.From.Network = npdu.SNet;
    n.From.SetStationAddress(npdu.SAdr.data(), npdu.SLen);
  }
  if (DecodeCovNotification(frame, apdu, n) != TCovStatus::Read) return -1;
  n.From.Instance = n.DeviceInstance;
  if (OnCovNotification) OnCovNotification(*this, n);
  return n.Confirmed ? kPduConfirmedRequest : kPduUnconfirmedRequest;
}

TDevice* TBACnetStack::FindDevice(const TDeviceConnInfo& conn, uint32_t instance) {
  TDeviceReadLock lock(Data.Devices);
  return Data.Devices.Find(conn.EndPoint, instance);
}

TDevice* TBACnetStack::RegisterDevice(const TDeviceConnInfo& conn, uint32_t instance, const TNPDU* npdu,
                                      TDeviceConnInfo* outConn, bool named) {
  TDeviceList& table = Data.Devices;
  // Known devices and a full table cost one look-up, nothing is made for
  // them.
  bool full = false;
  {
    TDeviceReadLock lock(table);
    if (table.Find(conn.EndPoint, instance)) return nullptr;
    full = !named && lock.Items().size() >= kMaxDevices;
  }
  if (!full) {
    auto device = std::make_unique<TDevice>();
    device->ConnInfo.EndPoint = conn.EndPoint;
    device->ConnInfo.Instance = instance;
    device->ConnInfo.MaxApdu = conn.MaxApdu;
    if (npdu) {
      device->ConnInfo.SetStationAddress(npdu->SAdr.data(), npdu->SLen);
      device->ConnInfo.Network = npdu->SNet;
      device->ConnInfo.Station = npdu->SAdrValue;
    }
    TDeviceWriteLock lock(table);
    // Another thread may have added the same device, or filled the table,
    // between the two locks.
    if (table.Find(conn.EndPoint, instance)) return nullptr;
    full = !named && lock.Items().size() >= kMaxDevices;
    if (!full) {
      table.Append(device.get());
      if (outConn) *outConn = device->ConnInfo;
      return device.release();
    }
  }
  if (!table.FullReported.exchange(true) && OnTableFull) OnTableFull(*this);
  return nullptr;
}

}  // namespace bacnet
