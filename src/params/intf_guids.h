// Interface identities of the parameter-list interfaces.
#pragma once

#include <cstring>

#include "bacnetip/plugin_abi.h"

namespace kel {

inline constexpr uint32_t KEL_E_POINTER = 0x80004003u;

inline constexpr kel_guid kIidItemA = KEL_IID_ITEM_A;
inline constexpr kel_guid kIidItemW = KEL_IID_ITEM_W;
inline constexpr kel_guid kIidListA = KEL_IID_LIST_A;
inline constexpr kel_guid kIidListW = KEL_IID_LIST_W;

inline bool SameGuid(const kel_guid& a, const kel_guid& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace kel
