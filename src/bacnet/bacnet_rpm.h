// ReadPropertyMultiple for present values: the request builder, how many
// items one request may carry for a device, and the reader of the ACK.
// Stateless; nothing here allocates beyond what a decoded value needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "bacnet/bacnet_endpoint.h"
#include "bacnet/bacnet_property.h"
#include "bacnet/bacnet_utils.h"
#include "runtime/variant.h"

namespace bacnet {

// One object whose present value a ReadPropertyMultiple asks for.
struct TRpmItem {
  uint16_t ObjectType = 0;
  uint32_t Instance = 0;
};

// Maximum APDU length assumed for a device whose I-Am was not seen.
constexpr uint32_t kDefaultMaxApdu = 480;
// The largest APDU we accept (as written in our requests) and send.
constexpr uint32_t kOwnMaxApdu = 1476;
// The smallest maximum a device may announce.
constexpr uint32_t kMinMaxApdu = 50;
// Octets of one item in the request: object identifier, opening tag 1,
// property identifier 85, closing tag 1.
constexpr uint32_t kRpmRequestItemLength = 9;
// Worst-case octets of one item's result in the ACK: object identifier (5),
// opening and closing tag 1 (2), property identifier 85 (2), and the larger
// of a value under opening and closing tag 4 (2 + a Double's 10) and a
// property error under tags 5 (2 + class and code of up to 3 octets each).
constexpr uint32_t kRpmResultWorstLength = 21;
// Most items one request carries: what fits our own maximum APDU.
constexpr uint32_t kMaxRpmItems = (kOwnMaxApdu - 3) / kRpmResultWorstLength;
// Longest ReadPropertyMultiple frame: routed header (16), APDU header (4)
// and kMaxRpmItems items.
constexpr int32_t kMaxRpmRequestLength = 20 + static_cast<int32_t>(kMaxRpmItems * kRpmRequestItemLength);

// The maximum APDU length used for a device: maxApdu as its I-Am gave it
// (0: none seen, 480), within 50 and our own 1476.
uint32_t EffectiveMaxApdu(uint32_t maxApdu);
// How many items one request may carry for a device with this maximum APDU
// length accepted, so that the request and the largest ACK it can bring fit
// without segmentation: at least 1, at most kMaxRpmItems.
uint32_t RpmItemsPerRequest(uint32_t maxApdu);
// The length of the next request of a group: how many of items, from the
// first on, go into it (successive requests take the following items in
// order).  0 only for no items.
size_t RpmChunkLength(std::span<const TRpmItem> items, uint32_t maxApdu);

// Writes the ReadPropertyMultiple request for the present values of items
// to conn's device into out, with the NPDU of a ReadProperty (routing
// fields for a routed device) and conn's invoke identifier.  Returns its
// length; 0 when items is empty or longer than kMaxRpmItems, when out is too
// small, or when conn's station address cannot be written.
int32_t BuildReadPropertyMultipleFrame(std::span<uint8_t> out, const TDeviceConnInfo& conn,
                                       std::span<const TRpmItem> items);

// No array index in a result.
constexpr uint32_t kNoArrayIndex = 0xFFFFFFFF;

// One result of a ReadPropertyMultiple-ACK: a value or a property error for
// one property of one object.
struct TRpmResult {
  uint16_t ObjectType = 0;
  uint32_t Instance = 0;
  uint32_t PropertyId = 0;
  uint32_t ArrayIndex = kNoArrayIndex;
  bool IsError = false;
  // A property error: class and code (low 8 bits, as an Error PDU's).
  uint8_t ErrorClass = 0;
  uint8_t ErrorCode = 0;
  // A value: its application tag and the value decoded as ReadProperty
  // decodes it.  A constructed value gives its first primitive element; a
  // value that does not decode (an impossible date) gives Tag Null and a
  // null Value, as ReadProperty leaves it.
  uint8_t Tag = kTagNull;
  kel::Variant Value;

  // The result in the holder ReadProperty answers fill: a property error as
  // an Error PDU would give it (so ErrorText reads the same), a value as a
  // ReadProperty-ACK would.
  void ToProperty(TProperty& holder) const;
};

enum class TRpmStatus : uint8_t {
  Ok,
  NotRpmAck,       // not an unsegmented ReadPropertyMultiple-ACK
  Truncated,       // the ACK ends inside a result or a value
  TooManyResults,  // more results than the caller asked for
  BadTag,          // a tag where the ACK's layout has none of its kind
};

// Calls a callable of the caller's without owning or copying it.
class TRpmResultSink {
 public:
  template <class F>
  TRpmResultSink(F& f) : object_(&f), call_([](void* o, const TRpmResult& r) { (*static_cast<F*>(o))(r); }) {}
  void operator()(const TRpmResult& r) const { call_(object_, r); }

 private:
  void* object_;
  void (*call_)(void*, const TRpmResult&);
};

// Reads the ReadPropertyMultiple-ACK whose APDU starts at pos.  The whole
// ACK is checked first; only when it is sound are its results reported to
// sink, in the ACK's order, and count (when given) set to their number.
// maxResults is how many the request asked for.  Results that come out of
// the request's order, or fewer than asked, are reported as they are: the
// caller matches them to its items by object.
TRpmStatus DecodeReadPropertyMultipleAck(TBacBytes frame, int32_t pos, size_t maxResults, TRpmResultSink sink,
                                         size_t* count = nullptr);

}  // namespace bacnet
