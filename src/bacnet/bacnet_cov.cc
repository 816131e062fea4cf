#include "bacnet/bacnet_cov.h"

#include <algorithm>
#include <array>

#include "bacnet/bacnet_enums.h"

namespace bacnet {
namespace {

// Context tag `tag` with value in as few octets as it needs.
int32_t EncodeContextUnsigned(uint8_t* f, int32_t pos, uint8_t tag, uint32_t value) {
  const uint8_t n = value > 0xFFFFFF ? 4 : value > 0xFFFF ? 3 : value > 0xFF ? 2 : 1;
  f[pos++] = static_cast<uint8_t>((tag << 4) | 0x08 | n);
  for (uint8_t i = n; i-- > 0;) f[pos++] = static_cast<uint8_t>(value >> (8 * i));
  return pos;
}

enum class TTagKind { Primitive, Opening, Closing };

// Whether the octet at pos starts a context tag of that number and kind.
bool AtContext(TBacBytes frame, int32_t pos, uint8_t tag, TTagKind kind) {
  if (pos < 0 || static_cast<size_t>(pos) >= frame.size()) return false;
  const uint8_t o = frame[static_cast<size_t>(pos)];
  if ((o & 0x08) == 0 || (o >> 4) != tag) return false;
  const uint8_t low = o & 0x07;
  switch (kind) {
    case TTagKind::Opening: return low == 6;
    case TTagKind::Closing: return low == 7;
    default: return low <= 5;
  }
}

// Reads the unsigned number (1 to 4 octets) under context tag `tag`.
bool ReadContextUnsigned(TBacBytes frame, int32_t& pos, uint8_t tag, uint32_t& value) {
  if (!AtContext(frame, pos, tag, TTagKind::Primitive)) return false;
  const TTagHeader h = DecodeTagHeader(frame, pos);
  if (h.Length == 0 || h.Lvt < 1 || h.Lvt > 4 || h.Lvt > frame.size() - static_cast<size_t>(pos)) return false;
  value = DecodeUnsigned(frame, pos, h.Lvt);
  return true;
}

bool ReadContextObject(TBacBytes frame, int32_t& pos, uint8_t tag, uint16_t& type, uint32_t& instance) {
  const int32_t start = pos;
  uint32_t id = 0;
  if (!ReadContextUnsigned(frame, pos, tag, id) || pos - start != 5) return false;
  type = static_cast<uint16_t>(id >> kObjectTypeShift);
  instance = id & kInstanceMask;
  return true;
}

// Passes over everything up to and including the closing context tag
// `tag` that matches the opening one already read, nested tags and all.
bool SkipToClosing(TBacBytes frame, int32_t& pos, uint8_t tag) {
  int32_t depth = 0;
  while (static_cast<size_t>(pos) < frame.size()) {
    const uint8_t o = frame[static_cast<size_t>(pos)];
    const bool context = (o & 0x08) != 0;
    const uint8_t low = o & 0x07;
    const TTagHeader h = DecodeTagHeader(frame, pos);
    if (h.Length == 0) return false;
    if (context && low == 6) {
      ++depth;
    } else if (context && low == 7) {
      if (depth == 0) return h.TagNumber == tag;
      --depth;
    } else if (!context && h.TagNumber == kTagBoolean) {
      // The value is in the header.
    } else {
      if (h.Lvt > frame.size() - static_cast<size_t>(pos)) return false;
      pos += static_cast<int32_t>(h.Lvt);
    }
  }
  return false;
}

// One BACnetPropertyValue of the list: property, optional array index, the
// value under tag 2, optional priority.
bool ReadPropertyValue(TBacBytes frame, int32_t& pos, TCovNotification& out) {
  uint32_t property = 0, ignored = 0;
  if (!ReadContextUnsigned(frame, pos, 0, property)) return false;
  const bool indexed = AtContext(frame, pos, 1, TTagKind::Primitive);
  if (indexed && !ReadContextUnsigned(frame, pos, 1, ignored)) return false;
  if (!AtContext(frame, pos, 2, TTagKind::Opening)) return false;
  ++pos;
  const int32_t valuePos = pos;
  if (!SkipToClosing(frame, pos, 2)) return false;
  // The value's octets end before the closing tag: the decoder may not read
  // past it.
  const TBacBytes value = frame.first(static_cast<size_t>(pos - 1));
  const bool application = (frame[static_cast<size_t>(valuePos)] & 0x08) == 0;
  int32_t at = valuePos;
  if (!indexed && application && property == kPropPresentValue) {
    uint8_t tag = 0;
    kel::Variant v;
    if (DecodeApplicationValue(value, at, v, &tag)) {
      out.HasPresentValue = true;
      out.PresentValueTag = tag;
      out.PresentValue = std::move(v);
    }
  } else if (!indexed && application && property == kPropStatusFlags) {
    uint8_t tag = 0;
    kel::Variant v;
    if (DecodeApplicationValue(value, at, v, &tag) && tag == kTagBitString) {
      out.HasStatusFlags = true;
      out.StatusFlags = std::move(v);
    }
  } else {
    ++out.OtherValues;
  }
  if (AtContext(frame, pos, 3, TTagKind::Primitive) && !ReadContextUnsigned(frame, pos, 3, ignored)) return false;
  return true;
}

}  // namespace

int32_t BuildSubscribeCovFrame(std::span<uint8_t> out, const TDeviceConnInfo& conn, const TCovSubscription& sub) {
  const int32_t apdu = WriteUnicastHeader(out, conn, true, static_cast<size_t>(kMaxSubscribeCovLength - 16));
  if (apdu == 0) return 0;
  uint8_t* f = out.data();
  int32_t pos = apdu;
  pos = WriteConfirmedRequestHead(out, pos, conn.InvokeId, kServiceSubscribeCov);
  pos = EncodeContextUnsigned(f, pos, 0, sub.ProcessId);
  pos = EncodeObjectIdentifier(out, pos, sub.ObjectType, sub.Instance);
  f[pos - 5] = 0x1C;  // the monitored object goes under context tag 1
  if (!sub.Cancel) {
    f[pos++] = 0x29;  // context 2, one octet: issue confirmed notifications
    f[pos++] = sub.Confirmed ? 1 : 0;
    pos = EncodeContextUnsigned(f, pos, 3, sub.Lifetime);
  }
  f[3] = static_cast<uint8_t>(pos);
  return pos;
}

int32_t BuildSimpleAckFrame(std::span<uint8_t> out, const TDeviceConnInfo& conn, uint8_t invokeId,
                            uint8_t serviceChoice) {
  const int32_t apdu = WriteUnicastHeader(out, conn, false, 3);
  if (apdu == 0) return 0;
  uint8_t* f = out.data();
  int32_t pos = apdu;
  f[pos++] = kPduSimpleAck;
  f[pos++] = invokeId;
  f[pos++] = serviceChoice;
  f[3] = static_cast<uint8_t>(pos);
  return pos;
}

TCovStatus DecodeCovNotification(TBacBytes frame, int32_t apduPos, TCovNotification& out) {
  const TDeviceConnInfo from = out.From;
  out = TCovNotification{};
  out.From = from;
  if (apduPos < 0 || static_cast<size_t>(apduPos) + 2 > frame.size()) return TCovStatus::NotCovNotification;
  const uint8_t* p = frame.data() + apduPos;
  int32_t pos = 0;
  if (p[0] == kPduUnconfirmedRequest && p[1] == kServiceUnconfirmedCovNotification) {
    pos = apduPos + 2;
  } else if ((p[0] & 0xF0) == kPduConfirmedRequest) {
    // A segmented request carries two more octets; we take none.
    if ((p[0] & 0x08) != 0 || static_cast<size_t>(apduPos) + 4 > frame.size() ||
        p[3] != kServiceConfirmedCovNotification)
      return TCovStatus::NotCovNotification;
    out.Confirmed = true;
    out.InvokeId = p[2];
    pos = apduPos + 4;
  } else {
    return TCovStatus::NotCovNotification;
  }
  uint16_t deviceType = 0;
  if (!ReadContextUnsigned(frame, pos, 0, out.ProcessId) ||
      !ReadContextObject(frame, pos, 1, deviceType, out.DeviceInstance) || deviceType != kObjectDevice ||
      !ReadContextObject(frame, pos, 2, out.ObjectType, out.Instance) ||
      !ReadContextUnsigned(frame, pos, 3, out.TimeRemaining) || !AtContext(frame, pos, 4, TTagKind::Opening))
    return TCovStatus::Malformed;
  ++pos;
  while (!AtContext(frame, pos, 4, TTagKind::Closing))
    if (!ReadPropertyValue(frame, pos, out)) return TCovStatus::Malformed;
  return TCovStatus::Read;
}

}  // namespace bacnet
