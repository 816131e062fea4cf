// A counted reference to an IkelParamsListA.  Every helper goes through the
// function table only, so the list may be a host's own implementation.
// Helpers never throw: a failed call gives an empty result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bacnetip/plugin_abi.h"
#include "runtime/variant.h"

namespace kel {

class TkelParamsList;

class ParamsRef {
 public:
  ParamsRef() = default;
  // Takes a new reference to p (AddRef) unless adopt is set, in which case
  // the reference the caller holds is taken over.
  explicit ParamsRef(IkelParamsListA* p, bool adopt = false);
  ParamsRef(const ParamsRef& o);
  ParamsRef(ParamsRef&& o) noexcept;
  ParamsRef& operator=(ParamsRef o) noexcept;
  ~ParamsRef();

  IkelParamsListA* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void reset();
  // Gives up the reference without releasing it.
  IkelParamsListA* detach();

  int32_t Count() const;
  int32_t IndexOf(std::string_view name, int32_t from = 0, int32_t to = -1) const;
  // The value of the first item of that name; empty when missing or failed.
  Variant GetValue(std::string_view name) const;
  // True when an item was set (or added).
  bool SetValue(std::string_view name, const Variant& value, bool addIfMissing) const;
  bool Add(std::string_view name, const Variant& value) const;
  void AddNewRow() const;
  void Clear() const;

  // Item access by index; empty results for an index outside the list.
  std::string ItemName(int32_t index) const;
  std::string ItemKey(int32_t index) const;
  Variant ItemValue(int32_t index) const;
  int32_t ItemDataType(int32_t index) const;
  uint8_t ItemState(int32_t index) const;
  bool ItemIsNewRow(int32_t index) const;

 private:
  IkelParamsListA* p_ = nullptr;
};

// Copies items From..To of source into dest through the interfaces: name and
// value through Add, then key, data type and state.  To < 0 means the last
// item.  Nothing happens when either list is null.  Throws EIntfCallFailed
// when a call answers with a failure status.
void CopyParamsItems(IkelParamsListA* source, IkelParamsListA* dest, int32_t from, int32_t to);
// The same from a list of ours, read directly (no item wrappers made), into
// dest through its interface.
void CopyParamsItems(const TkelParamsList& source, IkelParamsListA* dest);

}  // namespace kel
