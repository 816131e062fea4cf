#include "params/raw_list_check.h"

#include <cstdint>

#include "params/params_list.h"
#include "platform/port.h"

namespace kel {

bool IsRawParamsList(const void* p) {
  if (!p) return false;
  uint32_t signature = 0;
  // Address arithmetic on integers: p may be any value, even one that wraps.
  const uintptr_t at = reinterpret_cast<uintptr_t>(p) + kParamsListSignatureOffset;
  if (at < reinterpret_cast<uintptr_t>(p)) return false;
  if (!port::SafeRead(reinterpret_cast<const void*>(at), &signature, sizeof signature))
    return false;
  return signature == kParamsListSignature;
}

}  // namespace kel
