// ReadPropertyMultiple as the simulated devices serve it: the request's
// object and property lists, and the ACK with a value or a property error
// for each property asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "codec.h"
#include "property_read.h"

namespace bacsim {

// A parse that found nothing to reject.
constexpr uint8_t kNoRejectReason = 0xFF;

struct PropertyRef {
  uint32_t property = 0;
  bool hasIndex = false;
  uint64_t index = 0;
};

// One object of the request and the properties asked of it.
struct ReadAccessSpec {
  ObjectId oid;
  std::vector<PropertyRef> properties;
};

// Reads the request's list (after the service choice) into specs; returns
// kNoRejectReason, or the reject reason for a request that cannot be read.
uint8_t ParseReadPropertyMultiple(const uint8_t* data, size_t size, std::vector<ReadAccessSpec>& specs);

// What one property of one object reads as; answered is the object the
// device answers for (its own instance for the wildcard device instance).
using ReadOne = std::function<ReadResult(const ObjectId& oid, const PropertyRef& ref, ObjectId& answered)>;

// The ACK APDU for specs: every property's values, or its error class and
// code; errors counts the property errors.
Bytes ReadPropertyMultipleAck(uint8_t invoke, const std::vector<ReadAccessSpec>& specs, const ReadOne& read,
                              size_t& errors);

}  // namespace bacsim
