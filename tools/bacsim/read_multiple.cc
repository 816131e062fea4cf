#include "read_multiple.h"

#include "names.h"

namespace bacsim {

namespace {

constexpr uint64_t kLargestProperty = 4194303;
constexpr uint64_t kLargestIndex = 0xFFFFFFFFu;

// A missing part is a missing parameter, anything else in its place a bad tag.
uint8_t Missing(const Reader& r) { return r.AtEnd() ? reject::kMissingRequiredParameter : reject::kInvalidTag; }

bool Bracket(Reader& r, uint8_t number, Tag::Kind kind) {
  Tag t;
  if (!r.PeekTag(t) || !t.context || t.number != number || t.kind != kind) return false;
  return r.ReadTag(t);
}

}  // namespace

uint8_t ParseReadPropertyMultiple(const uint8_t* data, size_t size, std::vector<ReadAccessSpec>& specs) {
  specs.clear();
  Reader r(data, size);
  if (r.AtEnd()) return reject::kMissingRequiredParameter;
  while (!r.AtEnd()) {
    ReadAccessSpec spec;
    if (!r.ReadContextObjectId(0, spec.oid)) return Missing(r);
    if (!Bracket(r, 1, Tag::kOpening)) return Missing(r);
    while (!Bracket(r, 1, Tag::kClosing)) {
      PropertyRef ref;
      uint64_t property = 0;
      if (!r.ReadContextUnsigned(0, property)) return Missing(r);
      Tag next;
      if (r.PeekTag(next) && next.context && next.number == 1 && next.kind == Tag::kPrimitive) {
        if (!r.ReadContextUnsigned(1, ref.index)) return reject::kInvalidTag;
        ref.hasIndex = true;
      }
      if (property > kLargestProperty || ref.index > kLargestIndex) return reject::kParameterOutOfRange;
      ref.property = static_cast<uint32_t>(property);
      spec.properties.push_back(ref);
    }
    if (spec.properties.empty()) return reject::kMissingRequiredParameter;
    specs.push_back(std::move(spec));
  }
  return kNoRejectReason;
}

Bytes ReadPropertyMultipleAck(uint8_t invoke, const std::vector<ReadAccessSpec>& specs, const ReadOne& read,
                              size_t& errors) {
  errors = 0;
  Bytes apdu = {0x30, invoke, service::kReadPropertyMultiple};
  for (const ReadAccessSpec& spec : specs) {
    std::vector<ReadResult> results;
    ObjectId answered = spec.oid;
    for (const PropertyRef& ref : spec.properties) results.push_back(read(spec.oid, ref, answered));
    EncodeContextObjectId(apdu, 0, answered);
    EncodeOpening(apdu, 1);
    for (size_t i = 0; i < results.size(); ++i) {
      const PropertyRef& ref = spec.properties[i];
      EncodeContextUnsigned(apdu, 2, ref.property);
      if (ref.hasIndex) EncodeContextUnsigned(apdu, 3, ref.index);
      if (results[i].error) {
        ++errors;
        EncodeOpening(apdu, 5);
        EncodeValue(apdu, Value::Enumerated(results[i].errorClass));
        EncodeValue(apdu, Value::Enumerated(results[i].errorCode));
        EncodeClosing(apdu, 5);
      } else {
        EncodeOpening(apdu, 4);
        for (const Value& v : results[i].values) EncodeValue(apdu, v);
        EncodeClosing(apdu, 4);
      }
    }
    EncodeClosing(apdu, 1);
  }
  return apdu;
}

}  // namespace bacsim
