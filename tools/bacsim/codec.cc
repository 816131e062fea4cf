#include "codec.h"

#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "names.h"

namespace bacsim {

Value Value::Bool(bool b) {
  Value v;
  v.tag = kBoolean;
  v.boolean = b;
  return v;
}
Value Value::Unsigned(uint64_t x) {
  Value v;
  v.tag = kUnsigned;
  v.u = x;
  return v;
}
Value Value::Signed(int64_t x) {
  Value v;
  v.tag = kSigned;
  v.i = x;
  return v;
}
Value Value::Real(float x) {
  Value v;
  v.tag = kReal;
  v.real = x;
  return v;
}
Value Value::Double(double x) {
  Value v;
  v.tag = kDouble;
  v.dbl = x;
  return v;
}
Value Value::Enumerated(uint64_t x) {
  Value v;
  v.tag = kEnumerated;
  v.u = x;
  return v;
}
Value Value::CharString(std::string_view s) {
  Value v;
  v.tag = kCharString;
  v.text = s;
  return v;
}
Value Value::OctetString(std::string_view s) {
  Value v;
  v.tag = kOctetString;
  v.text = s;
  return v;
}
Value Value::BitString(std::vector<bool> b) {
  Value v;
  v.tag = kBitString;
  v.bits = std::move(b);
  return v;
}
Value Value::Oid(uint16_t type, uint32_t instance) {
  Value v;
  v.tag = kObjectId;
  v.oid = {type, instance};
  return v;
}

size_t UnsignedLength(uint64_t v) {
  size_t n = 1;
  while (n < 8 && (v >> (8 * n)) != 0) ++n;
  return n;
}

size_t SignedLength(int64_t v) {
  // The fewest octets whose sign-extended reading gives v back.
  for (size_t n = 1; n < 8; ++n) {
    const int64_t lo = -(int64_t{1} << (8 * n - 1));
    const int64_t hi = (int64_t{1} << (8 * n - 1)) - 1;
    if (v >= lo && v <= hi) return n;
  }
  return 8;
}

namespace {

void PutBigEndian(Bytes& out, uint64_t v, size_t n) {
  for (size_t i = n; i-- > 0;) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutInitialOctet(Bytes& out, uint8_t number, uint8_t low) {
  if (number < 15) {
    out.push_back(static_cast<uint8_t>((number << 4) | low));
  } else {
    out.push_back(static_cast<uint8_t>(0xF0 | low));
    out.push_back(number);
  }
}

}  // namespace

void EncodeTag(Bytes& out, uint8_t number, bool context, uint32_t lvt) {
  const uint8_t cls = context ? 0x08 : 0x00;
  if (lvt <= 4) {
    PutInitialOctet(out, number, static_cast<uint8_t>(cls | lvt));
    return;
  }
  PutInitialOctet(out, number, static_cast<uint8_t>(cls | 5));
  if (lvt <= 253) {
    out.push_back(static_cast<uint8_t>(lvt));
  } else if (lvt <= 0xFFFF) {
    out.push_back(254);
    PutBigEndian(out, lvt, 2);
  } else {
    out.push_back(255);
    PutBigEndian(out, lvt, 4);
  }
}

void EncodeOpening(Bytes& out, uint8_t number) { PutInitialOctet(out, number, 0x0E); }
void EncodeClosing(Bytes& out, uint8_t number) { PutInitialOctet(out, number, 0x0F); }

void EncodeValue(Bytes& out, const Value& v) {
  switch (v.tag) {
    case kNull:
      EncodeTag(out, kNull, false, 0);
      break;
    case kBoolean:
      EncodeTag(out, kBoolean, false, v.boolean ? 1 : 0);
      break;
    case kUnsigned:
    case kEnumerated: {
      const size_t n = UnsignedLength(v.u);
      EncodeTag(out, v.tag, false, static_cast<uint32_t>(n));
      PutBigEndian(out, v.u, n);
      break;
    }
    case kSigned: {
      const size_t n = SignedLength(v.i);
      EncodeTag(out, kSigned, false, static_cast<uint32_t>(n));
      PutBigEndian(out, static_cast<uint64_t>(v.i), n);
      break;
    }
    case kReal:
      EncodeTag(out, kReal, false, 4);
      PutBigEndian(out, std::bit_cast<uint32_t>(v.real), 4);
      break;
    case kDouble:
      EncodeTag(out, kDouble, false, 8);
      PutBigEndian(out, std::bit_cast<uint64_t>(v.dbl), 8);
      break;
    case kOctetString:
      EncodeTag(out, kOctetString, false, static_cast<uint32_t>(v.text.size()));
      out.insert(out.end(), v.text.begin(), v.text.end());
      break;
    case kCharString:
      EncodeTag(out, kCharString, false, static_cast<uint32_t>(v.text.size() + 1));
      out.push_back(v.charset);
      out.insert(out.end(), v.text.begin(), v.text.end());
      break;
    case kBitString: {
      const size_t octets = (v.bits.size() + 7) / 8;
      EncodeTag(out, kBitString, false, static_cast<uint32_t>(octets + 1));
      out.push_back(static_cast<uint8_t>(octets * 8 - v.bits.size()));
      for (size_t o = 0; o < octets; ++o) {
        uint8_t b = 0;
        for (size_t k = 0; k < 8; ++k) {
          const size_t i = o * 8 + k;
          if (i < v.bits.size() && v.bits[i]) b |= static_cast<uint8_t>(0x80 >> k);
        }
        out.push_back(b);
      }
      break;
    }
    case kDate:
    case kTime:
      EncodeTag(out, v.tag, false, 4);
      out.insert(out.end(), v.dt.begin(), v.dt.end());
      break;
    case kObjectId:
      EncodeTag(out, kObjectId, false, 4);
      PutBigEndian(out, v.oid.Packed(), 4);
      break;
  }
}

void EncodeContextUnsigned(Bytes& out, uint8_t number, uint64_t v) {
  const size_t n = UnsignedLength(v);
  EncodeTag(out, number, true, static_cast<uint32_t>(n));
  PutBigEndian(out, v, n);
}

void EncodeContextObjectId(Bytes& out, uint8_t number, ObjectId oid) {
  EncodeTag(out, number, true, 4);
  PutBigEndian(out, oid.Packed(), 4);
}

bool DecodeUnsignedContent(const uint8_t* p, size_t n, uint64_t& v) {
  if (n < 1 || n > 8) return false;
  v = 0;
  for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
  return true;
}

bool DecodeSignedContent(const uint8_t* p, size_t n, int64_t& v) {
  uint64_t u = 0;
  if (!DecodeUnsignedContent(p, n, u)) return false;
  if (n < 8 && (p[0] & 0x80)) u |= ~uint64_t{0} << (8 * n);
  v = static_cast<int64_t>(u);
  return true;
}

bool Reader::ReadOctet(uint8_t& v) {
  if (Remaining() < 1) return false;
  v = data_[pos_++];
  return true;
}

bool Reader::ReadWord(uint16_t& v) {
  if (Remaining() < 2) return false;
  v = static_cast<uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
  pos_ += 2;
  return true;
}

bool Reader::ReadOctets(size_t n, Bytes& out) {
  if (Remaining() < n) return false;
  out.assign(data_ + pos_, data_ + pos_ + n);
  pos_ += n;
  return true;
}

bool Reader::PeekTag(Tag& t) const {
  size_t p = pos_;
  auto take = [&](uint8_t& o) {
    if (p >= size_) return false;
    o = data_[p++];
    return true;
  };
  uint8_t b0 = 0;
  if (!take(b0)) return false;
  Tag r;
  r.number = b0 >> 4;
  if (r.number == 15 && !take(r.number)) return false;
  r.context = (b0 & 0x08) != 0;
  const uint8_t low = b0 & 0x07;
  if (low == 6 || low == 7) {
    if (!r.context) return false;  // only context tags open and close
    r.kind = low == 6 ? Tag::kOpening : Tag::kClosing;
  } else if (low == 5) {
    uint8_t e = 0;
    if (!take(e)) return false;
    if (e <= 253) {
      r.lvt = e;
    } else {
      const size_t n = e == 254 ? 2 : 4;
      if (size_ - p < n) return false;
      uint64_t len = 0;
      DecodeUnsignedContent(data_ + p, n, len);
      p += n;
      r.lvt = static_cast<uint32_t>(len);
    }
  } else {
    r.lvt = low;
  }
  if (!r.context && r.number == kBoolean && r.lvt > 1) return false;
  r.header = p - pos_;
  if (r.ContentLength() > size_ - p) return false;
  t = r;
  return true;
}

bool Reader::ReadTag(Tag& t) {
  if (!PeekTag(t)) return false;
  pos_ += t.header;
  return true;
}

bool Reader::NextIsContext(uint8_t number) const {
  Tag t;
  return PeekTag(t) && t.context && t.number == number;
}

bool Reader::ReadValue(Value& v) {
  Tag t;
  if (!PeekTag(t) || t.context || t.kind != Tag::kPrimitive) return false;
  const uint8_t* c = data_ + pos_ + t.header;
  const size_t n = t.ContentLength();
  Value r;
  r.tag = static_cast<AppTag>(t.number);
  switch (t.number) {
    case kNull:
      if (t.lvt != 0) return false;
      break;
    case kBoolean:
      r.boolean = t.lvt == 1;
      break;
    case kUnsigned:
    case kEnumerated:
      if (!DecodeUnsignedContent(c, n, r.u)) return false;
      break;
    case kSigned:
      if (!DecodeSignedContent(c, n, r.i)) return false;
      break;
    case kReal: {
      uint64_t bits = 0;
      if (n != 4 || !DecodeUnsignedContent(c, 4, bits)) return false;
      r.real = std::bit_cast<float>(static_cast<uint32_t>(bits));
      break;
    }
    case kDouble: {
      uint64_t bits = 0;
      if (n != 8 || !DecodeUnsignedContent(c, 8, bits)) return false;
      r.dbl = std::bit_cast<double>(bits);
      break;
    }
    case kOctetString:
      r.text.assign(reinterpret_cast<const char*>(c), n);
      break;
    case kCharString:
      if (n < 1) return false;
      r.charset = c[0];
      r.text.assign(reinterpret_cast<const char*>(c + 1), n - 1);
      break;
    case kBitString: {
      if (n < 1 || c[0] > 7 || (n == 1 && c[0] != 0)) return false;
      const size_t count = (n - 1) * 8 - c[0];
      r.bits.reserve(count);
      for (size_t i = 0; i < count; ++i) r.bits.push_back((c[1 + i / 8] & (0x80 >> (i % 8))) != 0);
      break;
    }
    case kDate:
    case kTime:
      if (n != 4) return false;
      std::memcpy(r.dt.data(), c, 4);
      break;
    case kObjectId: {
      uint64_t packed = 0;
      if (n != 4 || !DecodeUnsignedContent(c, 4, packed)) return false;
      r.oid = ObjectId::FromPacked(static_cast<uint32_t>(packed));
      break;
    }
    default:
      return false;
  }
  pos_ += t.header + n;
  v = std::move(r);
  return true;
}

bool Reader::ReadContextUnsigned(uint8_t number, uint64_t& v) {
  Tag t;
  if (!PeekTag(t) || !t.context || t.number != number || t.kind != Tag::kPrimitive) return false;
  if (!DecodeUnsignedContent(data_ + pos_ + t.header, t.lvt, v)) return false;
  pos_ += t.header + t.lvt;
  return true;
}

bool Reader::ReadContextObjectId(uint8_t number, ObjectId& oid) {
  Tag t;
  if (!PeekTag(t) || !t.context || t.number != number || t.kind != Tag::kPrimitive || t.lvt != 4) return false;
  uint64_t packed = 0;
  DecodeUnsignedContent(data_ + pos_ + t.header, 4, packed);
  oid = ObjectId::FromPacked(static_cast<uint32_t>(packed));
  pos_ += t.header + 4;
  return true;
}

namespace {

std::string Quoted(const std::string& s) {
  std::string r = "\"";
  for (unsigned char ch : s) {
    if (ch == '"' || ch == '\\') {
      r += '\\';
      r += static_cast<char>(ch);
    } else if (ch < 0x20 || ch == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", ch);
      r += buf;
    } else {
      r += static_cast<char>(ch);
    }
  }
  return r + "\"";
}

template <typename F>
std::string Shortest(F x) {
  char buf[40];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, x);
  return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

}  // namespace

std::string Describe(const Value& v) {
  switch (v.tag) {
    case kNull: return "null";
    case kBoolean: return v.boolean ? "bool true" : "bool false";
    case kUnsigned: return "unsigned " + std::to_string(v.u);
    case kSigned: return "signed " + std::to_string(v.i);
    case kReal: return "real " + Shortest(v.real);
    case kDouble: return "double " + Shortest(v.dbl);
    case kOctetString: {
      std::string r = "octets ";
      char buf[4];
      for (unsigned char ch : v.text) {
        std::snprintf(buf, sizeof buf, "%02x", ch);
        r += buf;
      }
      return r;
    }
    case kCharString: return "char " + Quoted(v.text);
    case kBitString: {
      std::string r = "bits ";
      for (bool b : v.bits) r += b ? '1' : '0';
      return r;
    }
    case kEnumerated: return "enum " + std::to_string(v.u);
    case kDate: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "date %d-%02u-%02u", 1900 + v.dt[0], v.dt[1], v.dt[2]);
      return buf;
    }
    case kTime: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "time %02u:%02u:%02u.%02u", v.dt[0], v.dt[1], v.dt[2], v.dt[3]);
      return buf;
    }
    case kObjectId: return "oid " + ObjectTypeShort(v.oid.type) + ":" + std::to_string(v.oid.instance);
  }
  return "?";
}

}  // namespace bacsim
