// Tag headers and application values at every position of arbitrary input.
#include <cstddef>
#include <cstdint>

#include "bacnet/bacnet_utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bacnet::TBacBytes frame(data, size);
  for (int32_t start = 0; start <= static_cast<int32_t>(size) && start < 64; ++start) {
    int32_t pos = start;
    (void)bacnet::DecodeTagHeader(frame, pos);
    pos = start;
    // Walk a sequence of values as a decoder of a list would.
    for (int i = 0; i < 16 && pos < static_cast<int32_t>(size); ++i) {
      kel::Variant v;
      uint8_t tag = 0;
      uint32_t lvt = 0;
      const int32_t before = pos;
      const bool ok = bacnet::DecodeApplicationValue(frame, pos, v, &tag, &lvt);
      if (!ok && !v.IsNull()) __builtin_trap();
      // Bit strings render eight characters per octet; nothing grows more.
      if (v.Type() == kel::VarType::String && v.RawString().size() > 8 * size) __builtin_trap();
      if (pos <= before) break;
    }
  }
  return 0;
}
