// The result holder of one received frame: error information or a value.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/variant.h"

namespace bacnet {

class TProperty {
 public:
  TProperty() { Clear(); }
  // Error class device, code other, tag Null; the value is kept.
  void Clear();
  // "Class, Code text"; either part alone when the other has no text.  For
  // a Reject or an Abort the code is the reason, shown with its own text.
  std::string ErrorText() const;

  uint8_t ErrorClass = 0;
  uint8_t ErrorCode = 0;
  uint16_t Tag = 0;
  kel::Variant Value;
  // The PDU type that filled the holder (0x50 Error, 0x60 Reject, 0x70 Abort,
  // ...); 0 when none did.
  uint8_t PduType = 0;
  // The code of a BVLC-Result, when the frame was one.
  uint16_t BvlcResult = 0;
  std::string BvlcSource;  // and the address it came from
};

}  // namespace bacnet
