#include "framework/boundary_probe.h"

#include <array>
#include <cstring>

#include "params/params_list.h"
#include "platform/port.h"

namespace kel {

namespace {

// Interface tables that were found readable lately.  A table lives in a
// module's code or data for as long as that module is loaded, so it is not
// probed again on every call (each probe is a system call).
struct TableCache {
  std::array<const void*, 8> tables{};
  size_t next = 0;
  bool Contains(const void* t) const {
    for (const void* k : tables)
      if (k == t) return true;
    return false;
  }
  void Add(const void* t) {
    tables[next] = t;
    next = (next + 1) % tables.size();
  }
};

thread_local TableCache t_tables;

// The object's table pointer, and every slot of a list table readable and
// pointing at code: a readable table of anything else (data that happens to
// follow a readable word) would be called into.
bool InterfaceReadable(const void* intf) {
  const void* table = nullptr;
  if (!port::SafeRead(intf, &table, sizeof table) || !table) return false;
  if (t_tables.Contains(table)) return true;
  const void* slots[sizeof(IkelParamsListAVtbl) / sizeof(void*)];
  if (!port::SafeRead(table, slots, sizeof slots)) return false;
  if (!port::AllExecutable(slots, std::size(slots))) return false;
  t_tables.Add(table);
  return true;
}

}  // namespace

IkelParamsListA* ReadInterfaceVariable(const void* p) {
  IkelParamsListA* intf = nullptr;
  if (!p || !port::SafeRead(p, &intf, sizeof intf) || !intf) return nullptr;
  return InterfaceReadable(intf) ? intf : nullptr;
}

TListPointer ClassifyListHead(const void* p, const uint8_t* head) {
  static_assert(kListHeadSpan == kParamsListSignatureOffset + sizeof(uint32_t));
  TListPointer out;
  uint32_t signature;
  std::memcpy(&signature, head + kParamsListSignatureOffset, sizeof signature);
  if (signature == kParamsListSignature) {
    out.raw = static_cast<TkelParamsList*>(const_cast<void*>(p));
    return out;
  }
  IkelParamsListA* intf;
  std::memcpy(&intf, head, sizeof intf);
  if (intf && InterfaceReadable(intf)) out.intf = intf;
  return out;
}

TListPointer ClassifyListPointer(const void* p) {
  if (!p) return {};
  // One read covers both the first word (an interface pointer) and the place
  // of a list's signature; near the end of readable memory only the first
  // word may be there.
  uint8_t head[kListHeadSpan];
  const uintptr_t at = reinterpret_cast<uintptr_t>(p);
  if (at + kListHeadSpan > at && port::SafeRead(p, head, kListHeadSpan)) return ClassifyListHead(p, head);
  TListPointer out;
  out.intf = ReadInterfaceVariable(p);
  return out;
}

}  // namespace kel
