// The list interfaces IkelParamsListA and IkelParamsListW over one list.
//
// Two ways of handing a wrapper out:
//  - as a counted reference (NewRefA, or IntfA()/IntfW() plus AddRef): the
//    wrapper frees itself on the last Release;
//  - through AsIntf(): the wrapper holds a counted reference to itself and is
//    never freed by Release; its creator deletes it after the host call.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "bacnetip/plugin_abi.h"
#include "params/params_list.h"

namespace kel {

class TkelParamsListWrap {
 public:
  // The interface tables, A first: the wrapper's address is its A interface.
  struct Tables {
    const IkelParamsListAVtbl* a;
    const IkelParamsListWVtbl* w;
  };

  // Makes and owns a new list.
  TkelParamsListWrap();
  // Wraps an existing list; it is freed with the wrapper only when notOwned is false.
  explicit TkelParamsListWrap(TkelParamsList* list, bool notOwned = true);
  ~TkelParamsListWrap();
  TkelParamsListWrap(const TkelParamsListWrap&) = delete;
  TkelParamsListWrap& operator=(const TkelParamsListWrap&) = delete;

  // Interface pointers; no reference is added.
  IkelParamsListA* IntfA() { return reinterpret_cast<IkelParamsListA*>(&tables_.a); }
  IkelParamsListW* IntfW() { return reinterpret_cast<IkelParamsListW*>(&tables_.w); }
  // The address of a counted self-reference, made on the first call.
  IkelParamsListA** AsIntf();
  TkelParamsList* List() const { return list_; }

  uint32_t AddRef();
  uint32_t Release();
  int32_t RefCount() const { return refs_.load(std::memory_order_acquire); }

  // Our own wrapper behind an A or W interface pointer (or a wrapper object
  // pointer); null for anything else.  Safe on any pointer.
  static TkelParamsListWrap* FromInterface(const void* p);
  // A counted reference (count 1) to a new wrapper that does not own list.
  static IkelParamsListA* NewRefA(TkelParamsList* list);
  static IkelParamsListW* NewRefW(TkelParamsList* list);

 private:
  Tables tables_;  // first member
  std::atomic<int32_t> refs_{0};
  IkelParamsListA* self_ = nullptr;
  IkelParamsListA** selfAddr_ = nullptr;
  bool notOwned_;
  TkelParamsList* list_;
};

// Resolves a source list given across the boundary: one of our list wrappers
// or a raw list object.  Null for null or anything unrecognised.
TkelParamsList* ResolveSourceList(void* p);

}  // namespace kel
