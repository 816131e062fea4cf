// What one property of a simulated object reads as: its values, or the
// error class and code a device answers with.
#pragma once

#include <cstdint>
#include <vector>

#include "building.h"
#include "codec.h"

namespace bacsim {

// What a ReadProperty reads: values, or an error class and code.
struct ReadResult {
  std::vector<Value> values;
  bool error = false;
  uint8_t errorClass = 0, errorCode = 0;
  void Fail(uint8_t cls, uint8_t code) {
    error = true;
    errorClass = cls;
    errorCode = code;
  }
};

// A property of the device object; index when the request carries an array index.
void ReadDeviceProperty(const SimDevice& d, uint32_t property, bool hasIndex, uint64_t index, ReadResult& r);
// A property of one of the device's objects at seconds after start.
void ReadObjectProperty(const SimObject& o, uint32_t property, bool hasIndex, double seconds, ReadResult& r);

}  // namespace bacsim
