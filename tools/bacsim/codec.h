// bacsim's own BACnet tag coding (ASHRAE 135 clause 20.2): application and
// context tags, primitive values and the decoded form of a value. Every
// decoder takes the octets it may read and never reads past them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bacsim {

using Bytes = std::vector<uint8_t>;

// Application tag numbers.
enum AppTag : uint8_t {
  kNull = 0,
  kBoolean = 1,
  kUnsigned = 2,
  kSigned = 3,
  kReal = 4,
  kDouble = 5,
  kOctetString = 6,
  kCharString = 7,
  kBitString = 8,
  kEnumerated = 9,
  kDate = 10,
  kTime = 11,
  kObjectId = 12,
};

struct ObjectId {
  uint16_t type = 0;      // 10 bits on the wire
  uint32_t instance = 0;  // 22 bits on the wire
  uint32_t Packed() const { return (static_cast<uint32_t>(type & 0x3FF) << 22) | (instance & 0x3FFFFF); }
  static ObjectId FromPacked(uint32_t v) { return {static_cast<uint16_t>(v >> 22), v & 0x3FFFFF}; }
  bool operator==(const ObjectId&) const = default;
};

// One primitive value as it travels under an application tag.
struct Value {
  AppTag tag = kNull;
  bool boolean = false;
  uint64_t u = 0;          // Unsigned, Enumerated
  int64_t i = 0;           // Signed
  float real = 0;          // Real
  double dbl = 0;          // Double
  std::string text;        // Octet String (raw octets), Character String (UTF-8)
  uint8_t charset = 0;     // Character String character set (0: UTF-8)
  std::vector<bool> bits;  // Bit String
  std::array<uint8_t, 4> dt{};  // Date (year-1900, month, day, weekday) or Time (h, m, s, hundredths)
  ObjectId oid;

  static Value Null() { return {}; }
  static Value Bool(bool b);
  static Value Unsigned(uint64_t v);
  static Value Signed(int64_t v);
  static Value Real(float v);
  static Value Double(double v);
  static Value Enumerated(uint64_t v);
  static Value CharString(std::string_view s);
  static Value OctetString(std::string_view s);
  static Value BitString(std::vector<bool> b);
  static Value Oid(uint16_t type, uint32_t instance);
};

// Octets needed for an unsigned / two's-complement signed number (1 to 8).
size_t UnsignedLength(uint64_t v);
size_t SignedLength(int64_t v);

// Encoders append to the frame.
void EncodeTag(Bytes& out, uint8_t number, bool context, uint32_t lvt);
void EncodeOpening(Bytes& out, uint8_t number);
void EncodeClosing(Bytes& out, uint8_t number);
void EncodeValue(Bytes& out, const Value& v);  // under its application tag
void EncodeContextUnsigned(Bytes& out, uint8_t number, uint64_t v);
void EncodeContextObjectId(Bytes& out, uint8_t number, ObjectId oid);

// A decoded tag header.
struct Tag {
  enum Kind : uint8_t { kPrimitive, kOpening, kClosing };
  uint8_t number = 0;
  bool context = false;
  Kind kind = kPrimitive;
  uint32_t lvt = 0;  // content length; for an application Boolean the value itself
  size_t header = 0; // octets of the header
  // Content octets that follow the header.
  uint32_t ContentLength() const {
    return (kind != kPrimitive || (!context && number == kBoolean)) ? 0 : lvt;
  }
};

// Bounds-checked reading of a frame.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit Reader(const Bytes& b) : Reader(b.data(), b.size()) {}

  size_t Pos() const { return pos_; }
  size_t Remaining() const { return size_ - pos_; }
  bool AtEnd() const { return pos_ == size_; }
  const uint8_t* Here() const { return data_ + pos_; }
  void Skip(size_t n) { pos_ += n <= Remaining() ? n : Remaining(); }

  bool ReadOctet(uint8_t& v);
  bool ReadWord(uint16_t& v);
  bool ReadOctets(size_t n, Bytes& out);

  // Reads a tag header; fails (position unchanged) when the header or its
  // content does not fit the octets left.
  bool PeekTag(Tag& t) const;
  bool ReadTag(Tag& t);
  // Reads the header and content of a value under an application tag.
  bool ReadValue(Value& v);
  // Reads a context-tagged unsigned (1 to 8 octets) with the given tag number.
  bool ReadContextUnsigned(uint8_t number, uint64_t& v);
  // Reads a context-tagged object identifier with the given tag number.
  bool ReadContextObjectId(uint8_t number, ObjectId& oid);
  // True when the next octets are a tag header with this context number.
  bool NextIsContext(uint8_t number) const;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Content decoders (the octets after a tag header).
bool DecodeUnsignedContent(const uint8_t* p, size_t n, uint64_t& v);  // n 1..8
bool DecodeSignedContent(const uint8_t* p, size_t n, int64_t& v);     // n 1..8

// Text for the request log: "real 21.5", "enum 1", "char \"AHU 1\"".
std::string Describe(const Value& v);

}  // namespace bacsim
