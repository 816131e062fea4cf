#include "bacnet/bacnet_utils.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace bacnet {
namespace {

// Octets left from pos to the end of the frame (0 when pos is outside it).
int64_t Remaining(TBacBytes frame, int32_t pos) {
  if (pos < 0 || static_cast<uint64_t>(pos) >= frame.size()) return 0;
  return static_cast<int64_t>(frame.size()) - pos;
}

// pos + n without overflowing.
void Advance(int32_t& pos, int64_t n) {
  const int64_t p = static_cast<int64_t>(pos) + n;
  pos = static_cast<int32_t>(std::clamp<int64_t>(p, INT32_MIN, INT32_MAX));
}

uint8_t At(TBacBytes frame, int64_t i) {
  return (i >= 0 && static_cast<uint64_t>(i) < frame.size()) ? frame[static_cast<size_t>(i)] : 0;
}

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;  // days since 1970-01-01
}

bool IsLeap(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

uint8_t ReadOctet(TBacBytes frame, int32_t& pos) {
  const uint8_t v = At(frame, pos);
  Advance(pos, 1);
  return v;
}

uint16_t ReadWord(TBacBytes frame, int32_t& pos) {
  const uint16_t v = static_cast<uint16_t>((At(frame, pos) << 8) | At(frame, int64_t{pos} + 1));
  Advance(pos, 2);
  return v;
}

uint32_t ReadLongWord(TBacBytes frame, int32_t& pos) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | At(frame, int64_t{pos} + i);
  Advance(pos, 4);
  return v;
}

uint32_t DecodeUnsigned(TBacBytes frame, int32_t& pos, uint32_t length) {
  uint32_t v = 0;
  if (length >= 1 && length <= 4)
    for (uint32_t i = 0; i < length; ++i) v = (v << 8) | At(frame, int64_t{pos} + i);
  Advance(pos, length);
  return v;
}

int32_t DecodeSigned(TBacBytes frame, int32_t& pos, uint32_t length) {
  const bool negative = length >= 1 && length <= 4 && (At(frame, pos) & 0x80) != 0;
  uint32_t v = DecodeUnsigned(frame, pos, length);
  if (negative && length < 4) v |= ~0u << (8 * length);
  return static_cast<int32_t>(v);
}

bool CopyOctets(TBacBytes frame, int32_t& pos, int32_t count, bool reverse, TBacByteArray& out) {
  const bool ok = count > 0 && Remaining(frame, pos) >= count;
  if (ok) {
    out.assign(frame.begin() + pos, frame.begin() + pos + count);
    if (reverse) std::reverse(out.begin(), out.end());
  } else {
    out.clear();
  }
  Advance(pos, count);
  return ok;
}

void ReverseOctets(TBacByteArray& octets, int32_t count) {
  if (count <= 1) return;
  const size_t n = std::min(static_cast<size_t>(count), octets.size());
  std::reverse(octets.begin(), octets.begin() + static_cast<std::ptrdiff_t>(n));
}

std::string OctetToBits(uint8_t octet) {
  std::string s(8, '0');
  for (int i = 0; i < 8; ++i)
    if (octet & (0x80 >> i)) s[static_cast<size_t>(i)] = '1';
  return s;
}

TTagHeader DecodeTagHeader(TBacBytes frame, int32_t& pos) {
  TTagHeader h;
  int64_t remaining = Remaining(frame, pos);
  if (remaining < 1) return h;
  const uint8_t initial = ReadOctet(frame, pos);
  int32_t length = 1;
  h.TagNumber = TBACnetTag::GetTagNumber(initial);
  if (h.TagNumber == 15 && remaining >= 2) {
    h.TagNumber = ReadOctet(frame, pos);
    length = 2;
  }
  remaining -= length;
  const uint8_t lvt = initial & 0x07;
  if (lvt == 5) {
    if (remaining < 1) return h;
    const uint8_t ext = ReadOctet(frame, pos);
    ++length;
    --remaining;
    if (ext == 255) {
      if (remaining < 4) return h;
      h.Lvt = ReadLongWord(frame, pos);
      length += 4;
    } else if (ext == 254) {
      if (remaining < 2) return h;
      h.Lvt = ReadWord(frame, pos);
      length += 2;
    } else {
      h.Lvt = ext;
    }
  } else if (lvt == 6 || lvt == 7) {
    h.Lvt = 0;
  } else {
    h.Lvt = lvt;
  }
  h.Length = length;
  return h;
}

bool DecodeApplicationValue(TBacBytes frame, int32_t& pos, kel::Variant& value, uint8_t* tagNumber,
                            uint32_t* lvt) {
  value.SetNull();
  const TTagHeader h = DecodeTagHeader(frame, pos);
  if (h.Length == 0) return false;
  const int64_t remaining = Remaining(frame, pos);
  if (static_cast<int64_t>(h.Lvt) > remaining) return false;
  if (tagNumber) *tagNumber = h.TagNumber;
  if (lvt) *lvt = h.Lvt;
  // From here the LVT content octets exist: frame[pos, pos + len).
  const int32_t len = static_cast<int32_t>(h.Lvt);
  const uint8_t* content = frame.data() + (remaining > 0 ? pos : 0);

  switch (h.TagNumber) {
    case kTagNull:
      return true;
    case kTagBoolean:
      value.SetBool(h.Lvt == 1);
      return true;
    case kTagUnsigned:
    case kTagEnumerated:
    case kTagObjectIdentifier:
      value.SetUI4(DecodeUnsigned(frame, pos, h.Lvt));
      return true;
    case kTagSigned:
      value.SetI4(DecodeSigned(frame, pos, h.Lvt));
      return true;
    case kTagReal: {
      const uint32_t bits = DecodeUnsigned(frame, pos, h.Lvt);
      value.SetR8(static_cast<double>(std::bit_cast<float>(bits)));
      return true;
    }
    case kTagDouble: {
      Advance(pos, len);
      if (len != 8) return false;
      uint64_t bits = 0;
      for (int i = 0; i < 8; ++i) bits = (bits << 8) | content[i];
      value.SetR8(std::bit_cast<double>(bits));
      return true;
    }
    case kTagOctetString:
      Advance(pos, len);
      if (h.Lvt > kMaxOctetString) return false;
      value = kel::Variant(std::string(reinterpret_cast<const char*>(content), static_cast<size_t>(len)));
      return true;
    case kTagCharacterString: {
      Advance(pos, len);
      if (h.Lvt > kMaxCharacterString) return false;
      // The first octet names the character set; it is not interpreted.
      int32_t end = len > 0 ? 1 : 0;
      while (end < len && content[end] >= 0x20) ++end;
      const int32_t start = len > 0 ? 1 : 0;
      value = kel::Variant(std::string(reinterpret_cast<const char*>(content) + start,
                                       static_cast<size_t>(end - start)));
      return true;
    }
    case kTagBitString: {
      Advance(pos, len);
      std::string bits;
      if (len > 0 && len - 1 <= 15) {
        const size_t unused = content[0] & 0x07;
        bits.reserve(static_cast<size_t>(len - 1) * 8);
        for (int32_t i = 1; i < len; ++i) bits += OctetToBits(content[i]);
        bits.resize(bits.size() > unused ? bits.size() - unused : 0);
      }
      value = kel::Variant(std::move(bits));
      return true;
    }
    case kTagDate: {
      if (len < 4) return false;
      Advance(pos, len);
      double days = 0;
      if (!EncodeOleDate(content[0] + 1900, content[1], content[2], days)) return false;
      value = kel::Variant::FromDate(days);
      return true;
    }
    case kTagTime: {
      if (len < 4) return false;
      Advance(pos, len);
      double days = 0;
      if (!EncodeOleTime(content[0], content[1], content[2], content[3], days)) return false;
      value = kel::Variant::FromDate(days);
      return true;
    }
    default:  // reserved and extended tag numbers
      Advance(pos, len);
      return false;
  }
}

int32_t EncodeObjectIdentifier(std::span<uint8_t> frame, int32_t pos, uint16_t objectType,
                               uint32_t instance) {
  if (pos < 0 || static_cast<uint64_t>(pos) + 5 > frame.size()) return pos;
  const uint32_t id = ((objectType & kObjectTypeMask) << kObjectTypeShift) | (instance & kInstanceMask);
  uint8_t* p = frame.data() + pos;
  p[0] = 0x0C;
  p[1] = static_cast<uint8_t>(id >> 24);
  p[2] = static_cast<uint8_t>(id >> 16);
  p[3] = static_cast<uint8_t>(id >> 8);
  p[4] = static_cast<uint8_t>(id);
  return pos + 5;
}

int32_t EncodePropertyIdentifier(std::span<uint8_t> frame, int32_t pos, uint16_t propertyId) {
  if (propertyId == 0xFFFF) return pos;
  const int32_t width = propertyId <= 0xFF ? 2 : 3;
  if (pos < 0 || static_cast<uint64_t>(pos) + static_cast<uint64_t>(width) > frame.size()) return pos;
  uint8_t* p = frame.data() + pos;
  if (width == 2) {
    p[0] = 0x19;
    p[1] = static_cast<uint8_t>(propertyId);
  } else {
    p[0] = 0x1A;
    p[1] = static_cast<uint8_t>(propertyId >> 8);
    p[2] = static_cast<uint8_t>(propertyId);
  }
  return pos + width;
}

TBacByteArray NewByteArray(int32_t count) {
  return TBacByteArray(count > 0 ? static_cast<size_t>(count) : 0, 0);
}

bool EncodeOleDate(int32_t year, int32_t month, int32_t day, double& out) {
  static constexpr int32_t kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const int32_t last = kDaysInMonth[month - 1] + ((month == 2 && IsLeap(year)) ? 1 : 0);
  if (day > last) return false;
  // 30 December 1899 is day 0 of the OLE calendar.
  out = static_cast<double>(DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30));
  return true;
}

bool EncodeOleTime(int32_t hour, int32_t minute, int32_t second, int32_t millisecond, double& out) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    return false;
  const int64_t ms = ((int64_t{hour} * 60 + minute) * 60 + second) * 1000 + millisecond;
  out = static_cast<double>(ms) / 86400000.0;
  return true;
}

}  // namespace bacnet
