#include "bacnet/bacnet_pdu.h"

#include <algorithm>
#include <array>

#include "bacnet/bacnet_enums.h"

namespace bacnet {
namespace {

bool Has(TBacBytes frame, int32_t pos, int32_t count) {
  return pos >= 0 && count >= 0 && static_cast<uint64_t>(pos) + static_cast<uint64_t>(count) <= frame.size();
}

uint32_t AddressValue(const TBacByteArray& adr) {
  if (adr.size() != 1 && adr.size() != 2 && adr.size() != 4) return 0;
  uint32_t v = 0;
  for (uint8_t o : adr) v = (v << 8) | o;
  return v;
}

// Reads net, length and address octets; false when they do not fit.
bool ReadAddress(TBacBytes frame, int32_t& pos, uint16_t& net, uint8_t& len, TBacByteArray& adr) {
  if (!Has(frame, pos, 3)) return false;
  net = ReadWord(frame, pos);
  len = ReadOctet(frame, pos);
  if (!Has(frame, pos, len)) return false;
  adr.assign(frame.begin() + pos, frame.begin() + pos + len);
  pos += len;
  return true;
}

}  // namespace

TBvll DecodeBvll(TBacBytes frame) {
  TBvll b;
  if (frame.size() > 1 && frame[1] == kBvlcForwardedNpdu) {
    if (frame.size() <= 10) return b;
    b.Forwarded = true;
    b.OriginAddress = std::to_string(frame[4]) + '.' + std::to_string(frame[5]) + '.' +
                      std::to_string(frame[6]) + '.' + std::to_string(frame[7]);
    b.OriginPort = static_cast<uint16_t>((frame[8] << 8) | frame[9]);
    b.NpduPos = 10;
    return b;
  }
  if (frame.size() > 4) b.NpduPos = 4;
  return b;
}

void TNPDU::Clear() {
  Control = 0;
  DNet = 0;
  DLen = 0;
  DAdr.clear();
  SNet = 0;
  SLen = 0;
  SAdr.clear();
  HopCount = 0;
  DAdrValue = 0;
  SAdrValue = 0;
}

int32_t TNPDU::Decode(TBacBytes frame, int32_t pos) {
  Clear();
  if (!Has(frame, pos, 2) || frame[static_cast<size_t>(pos)] != 1) return 0;
  ++pos;
  Control = ReadOctet(frame, pos);
  if (Control & 0x20) {
    if (!ReadAddress(frame, pos, DNet, DLen, DAdr)) return 0;
    DAdrValue = AddressValue(DAdr);
  }
  if (Control & 0x08) {
    if (!ReadAddress(frame, pos, SNet, SLen, SAdr)) return 0;
    SAdrValue = AddressValue(SAdr);
  }
  if (Control & 0x20) {
    if (!Has(frame, pos, 1)) return 0;
    HopCount = ReadOctet(frame, pos);
  }
  return pos;
}

int32_t TAPDU::DecodeIAm(TBacBytes frame, int32_t pos) {
  DeviceInstance = 0;
  MaxApduAccepted = 0;
  PduType = Has(frame, pos, 1) ? frame[static_cast<size_t>(pos)] : 0;
  if (!Has(frame, pos, 7)) return 0;
  const uint8_t* p = frame.data() + pos;
  if (p[0] != kPduUnconfirmedRequest || p[1] != kServiceIAm || TBACnetTag::GetTagNumber(p[2]) != 12)
    return 0;
  DeviceInstance = (uint32_t{p[4] & 0x3Fu} << 16) | (uint32_t{p[5]} << 8) | p[6];
  // Unsigned of one to four octets; larger numbers than 16 bits hold are
  // kept as the most a frame can carry.
  MaxApduAccepted = 0;
  if (Has(frame, pos, 8) && TBACnetTag::GetTagNumber(p[7]) == kTagUnsigned) {
    const uint32_t width = p[7] & 0x07u;
    if (width >= 1 && width <= 4 && Has(frame, pos + 8, static_cast<int32_t>(width))) {
      int32_t at = pos + 8;
      const uint32_t v = DecodeUnsigned(frame, at, width);
      MaxApduAccepted = static_cast<uint16_t>(v > 0xFFFF ? 0xFFFF : v);
    }
  }
  return 5;
}

TLocateResult TAPDU::LocateReadPropertyValue(TBacBytes frame, int32_t pos, int32_t& valuePos) {
  valuePos = 0;
  if (!Has(frame, pos, 1) || frame[static_cast<size_t>(pos)] != kPduComplexAck)
    return TLocateResult::NotReadProperty;
  if (!Has(frame, pos, 3)) return TLocateResult::Truncated;
  if (frame[static_cast<size_t>(pos) + 2] != kServiceReadProperty) return TLocateResult::NotReadProperty;
  // Past the object identifier; the property identifier's tag must be there.
  int32_t p = pos + 8;
  if (!Has(frame, p, 1)) return TLocateResult::Truncated;
  const uint8_t prop = frame[static_cast<size_t>(p)];
  p += prop == 0x19 ? 2 : prop == 0x1A ? 3 : 0;
  // The array index tag, if any, then the opening tag.
  if (!Has(frame, p, 1)) return TLocateResult::Truncated;
  const uint8_t index = frame[static_cast<size_t>(p)];
  p += index == 0x29 ? 2 : index == 0x2A ? 3 : 0;
  if (!Has(frame, p, 1)) return TLocateResult::Truncated;
  valuePos = p + 1;
  return TLocateResult::Located;
}

int32_t WriteUnicastHeader(std::span<uint8_t> out, const TDeviceConnInfo& conn, bool expectingReply,
                           size_t apduLength) {
  std::array<uint8_t, kMaxStationAddress> station{};
  const uint8_t n = conn.AddressLength == 0 ? 0 : StationOctets(conn, station);
  if (conn.AddressLength != 0 && n == 0) return 0;
  const size_t header = n == 0 ? 6 : 10u + n;
  if (out.size() < header + apduLength) return 0;
  uint8_t* f = out.data();
  f[0] = kBvlcType;
  f[1] = kBvlcOriginalUnicast;
  f[2] = 0;
  f[4] = 0x01;  // NPDU version
  f[5] = expectingReply ? 0x04 : 0x00;
  if (n != 0) {
    f[5] |= 0x20;  // destination present
    f[6] = static_cast<uint8_t>(conn.Network >> 8);
    f[7] = static_cast<uint8_t>(conn.Network);
    f[8] = n;
    std::copy(station.begin(), station.begin() + n, f + 9);
    f[9 + n] = 0xFF;  // hop count
  }
  return static_cast<int32_t>(header);
}

int32_t WriteConfirmedRequestHead(std::span<uint8_t> out, int32_t pos, uint8_t invokeId, uint8_t service) {
  uint8_t* f = out.data() + pos;
  f[0] = kPduConfirmedRequest;
  f[1] = 0x05;  // no segments, up to 1476 octets accepted
  f[2] = invokeId;
  f[3] = service;
  return pos + 4;
}

}  // namespace bacnet
