// The item interfaces (IkelParamsListItemA and IkelParamsListItemW, one table)
// over one list item.  The wrapper does not own the item and must not be used
// after the item has left its list; it frees itself on its last Release.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "bacnetip/plugin_abi.h"
#include "params/params_list_item.h"

namespace kel {

struct ItemWrapMethods;

class TkelParamsListItemWrap {
 public:
  // A counted reference (count 1) to a new wrapper over item; null for null.
  static IkelParamsListItemA* NewRef(TkelParamsListItem* item);
  // Our own wrapper behind an item interface pointer, or null.
  static TkelParamsListItemWrap* FromInterface(const void* p);

  IkelParamsListItemA* Intf() { return reinterpret_cast<IkelParamsListItemA*>(&vtbl_); }
  TkelParamsListItem* Item() const { return item_; }
  uint32_t AddRef();
  uint32_t Release();

 private:
  friend struct ItemWrapMethods;
  explicit TkelParamsListItemWrap(TkelParamsListItem* item);
  ~TkelParamsListItemWrap() = default;
  // Refreshes the name, UTF-16 name and key copies from the item's name.
  void CopyName();

  const IkelParamsListItemVtbl* vtbl_;  // first: the object is its interface
  std::atomic<int32_t> refs_{0};
  TkelParamsListItem* item_;
  std::string name_;
  std::u16string nameW_;
  std::string key_;  // UTF-8
};

}  // namespace kel
