// Reading what the host's pointers point at without ever faulting: a raw
// list object, or a variable holding a list interface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bacnetip/plugin_abi.h"

namespace kel {

class TkelParamsList;

struct TListPointer {
  TkelParamsList* raw = nullptr;     // a list object (its signature is there)
  IkelParamsListA* intf = nullptr;   // the interface held in the variable
};

// Tells a raw list from an interface variable.  Both fields are null when p
// is null, cannot be read, or holds a null or unreadable interface.
TListPointer ClassifyListPointer(const void* p);
// How many bytes at p the classification looks at first.
inline constexpr size_t kListHeadSpan = 2 * sizeof(void*) + 8 + sizeof(uint32_t);
// The same with those bytes read already (head: kListHeadSpan bytes).
TListPointer ClassifyListHead(const void* p, const uint8_t* head);

// The interface held in the variable at p, when the variable, the object's
// table pointer and the table's first slots can be read; else null.
IkelParamsListA* ReadInterfaceVariable(const void* p);

}  // namespace kel
