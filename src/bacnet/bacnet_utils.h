// Tag and primitive value coding: octet readers, tag headers, application
// values decoded into variants, and the two context-tagged encoders that
// requests carry.  Stateless; every reader is bounds-checked.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "runtime/variant.h"

namespace bacnet {

// A frame or scratch buffer in memory.
using TBacByteArray = std::vector<uint8_t>;
// Read-only view of octets being decoded (a TBacByteArray converts to it).
using TBacBytes = std::span<const uint8_t>;

// Object identifier layout: type in the upper 10 bits, instance below.
constexpr uint32_t kObjectTypeMask = 0x3FF;
constexpr uint32_t kObjectTypeShift = 22;
constexpr uint32_t kInstanceMask = 0x3FFFFF;

// Application tag numbers.
enum ApplicationTag : uint8_t {
  kTagNull = 0,
  kTagBoolean = 1,
  kTagUnsigned = 2,
  kTagSigned = 3,
  kTagReal = 4,
  kTagDouble = 5,
  kTagOctetString = 6,
  kTagCharacterString = 7,
  kTagBitString = 8,
  kTagEnumerated = 9,
  kTagDate = 10,
  kTagTime = 11,
  kTagObjectIdentifier = 12,
};

// Largest content accepted for the two string kinds (one frame's worth).
constexpr uint32_t kMaxOctetString = 1470;
constexpr uint32_t kMaxCharacterString = 1469;

// Single-value readers.  Each advances pos by its width whether or not the
// octets exist; octets beyond the frame read as 0.
uint8_t ReadOctet(TBacBytes frame, int32_t& pos);
uint16_t ReadWord(TBacBytes frame, int32_t& pos);
uint32_t ReadLongWord(TBacBytes frame, int32_t& pos);
// Big-endian number in length octets (1 to 4; any other length gives 0);
// pos advances by length.
uint32_t DecodeUnsigned(TBacBytes frame, int32_t& pos, uint32_t length);
// As DecodeUnsigned, sign-extended from the first octet's top bit.
int32_t DecodeSigned(TBacBytes frame, int32_t& pos, uint32_t length);
// Copies count octets (reversed when asked); true when count is not 0 and the
// octets exist.  pos advances by count in every case.
bool CopyOctets(TBacBytes frame, int32_t& pos, int32_t count, bool reverse, TBacByteArray& out);
void ReverseOctets(TBacByteArray& octets, int32_t count);
// "10100101" for 0xA5.
std::string OctetToBits(uint8_t octet);

class TBACnetTag {
 public:
  static uint8_t GetTagNumber(uint8_t octet) { return static_cast<uint8_t>(octet >> 4); }
};

struct TTagHeader {
  int32_t Length = 0;  // octets taken by the header, 0 when it could not be read
  uint8_t TagNumber = 0;
  uint32_t Lvt = 0;
};

// Reads the tag header at pos; on failure Length is 0 and pos stands after
// the octets already read.
TTagHeader DecodeTagHeader(TBacBytes frame, int32_t& pos);

// Decodes one primitive value at pos.  On failure value is null.  tagNumber
// and lvt (optional) are set once a header that fits the frame was read.
bool DecodeApplicationValue(TBacBytes frame, int32_t& pos, kel::Variant& value,
                            uint8_t* tagNumber = nullptr, uint32_t* lvt = nullptr);

// Encoders write into a buffer and return the position after what they
// wrote; when the buffer is too small nothing is written and pos is returned.
// Context tag 0 with the packed object identifier (5 octets).
int32_t EncodeObjectIdentifier(std::span<uint8_t> frame, int32_t pos, uint16_t objectType,
                               uint32_t instance);
// Context tag 1 with the property identifier (2 or 3 octets; 65535 writes
// nothing).
int32_t EncodePropertyIdentifier(std::span<uint8_t> frame, int32_t pos, uint16_t propertyId);

// count zero octets (none for count <= 0).
TBacByteArray NewByteArray(int32_t count);

// OLE date numbers (days since 30 December 1899) for calendar values; false
// when the fields do not form a valid date or time of day.
bool EncodeOleDate(int32_t year, int32_t month, int32_t day, double& out);
bool EncodeOleTime(int32_t hour, int32_t minute, int32_t second, int32_t millisecond, double& out);

}  // namespace bacnet
