// Network and application layer headers of received frames, the BACnet/IP
// envelope around them, and the headers of a frame sent to one device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "bacnet/bacnet_endpoint.h"
#include "bacnet/bacnet_utils.h"

namespace bacnet {

// BVLC function codes.
constexpr uint8_t kBvlcType = 0x81;
constexpr uint8_t kBvlcForwardedNpdu = 0x04;
constexpr uint8_t kBvlcOriginalUnicast = 0x0A;
constexpr uint8_t kBvlcOriginalBroadcast = 0x0B;

// Where the NPDU of a received frame starts and, for a frame relayed by a
// broadcast management device, the original sender.
struct TBvll {
  int32_t NpduPos = 0;  // 0: too short to hold an NPDU
  bool Forwarded = false;
  std::string OriginAddress;  // dotted text, only when Forwarded
  uint16_t OriginPort = 0;
};

// Reads the four-octet envelope; a Forwarded-NPDU carries six more octets
// with the original source address and port.
TBvll DecodeBvll(TBacBytes frame);

// Writes the envelope (Original-Unicast-NPDU) and the network header of a
// frame to conn's device, routed (DNET, DADR, hop count 255) when conn has a
// station address; returns where the APDU starts.  0 when out cannot hold
// apduLength octets after the headers or the station cannot be addressed.
// The envelope's length is the caller's to write.
int32_t WriteUnicastHeader(std::span<uint8_t> out, const TDeviceConnInfo& conn, bool expectingReply,
                           size_t apduLength);
// Writes the fixed octets of a confirmed request (not segmented, up to 1476
// octets accepted in the answer) at pos, room for them checked by the
// caller; returns the position after them.
int32_t WriteConfirmedRequestHead(std::span<uint8_t> out, int32_t pos, uint8_t invokeId, uint8_t service);

class TNPDU {
 public:
  TNPDU() = default;
  void Clear();
  // Decodes the NPDU at pos; returns the APDU position, or 0 when the
  // version is not 1 or the header does not fit the frame.
  int32_t Decode(TBacBytes frame, int32_t pos);

  uint8_t Control = 0;
  uint16_t DNet = 0;
  uint8_t DLen = 0;
  TBacByteArray DAdr;
  uint16_t SNet = 0;
  uint8_t SLen = 0;
  TBacByteArray SAdr;
  uint8_t HopCount = 0;
  uint32_t DAdrValue = 0;
  uint32_t SAdrValue = 0;
};

enum class TLocateResult {
  Located,         // value position found
  NotReadProperty, // not an unsegmented ReadProperty-ACK
  Truncated,       // the frame ends inside the fixed part of the ACK
};

class TAPDU {
 public:
  // Returns 5 and sets DeviceInstance when the APDU at pos is an I-Am (the
  // fixed octets up to the instance must be present), else 0.  The maximum
  // APDU length accepted that follows is read into MaxApduAccepted when it
  // is there as an Unsigned (else 0).
  int32_t DecodeIAm(TBacBytes frame, int32_t pos);
  // Finds the first value octet of a ReadProperty-ACK at pos.
  static TLocateResult LocateReadPropertyValue(TBacBytes frame, int32_t pos, int32_t& valuePos);

  uint8_t PduType = 0;
  uint32_t DeviceInstance = 0;
  uint16_t MaxApduAccepted = 0;
};

}  // namespace bacnet
