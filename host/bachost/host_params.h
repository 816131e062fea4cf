// The host's own parameter list: an independent implementation of the
// IkelParamsListA interface, as a third-party host would write it.  The
// module sees it only through the interface table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bacnetip/plugin_abi.h"

namespace host {

// A value the host keeps: a copy of the variant with its own strings.
struct HostValue {
  uint16_t vt = KEL_VT_EMPTY;
  int64_t i = 0;
  double d = 0;
  std::u16string text;  // for KEL_VT_BSTR

  static HostValue FromVariant(const kel_variant* v);
  void ToVariant(kel_variant* out) const;
  std::string ToText() const;  // UTF-8 text form for printing
  int64_t ToInt() const;
};

struct HostItem {
  std::string name;
  std::string key;
  int32_t dataType = 0;
  uint8_t state = 0;
  HostValue value;
};

class HostParamsList {
 public:
  // A new list with one reference held by the caller.
  static HostParamsList* Create();

  IkelParamsListA* Intf() { return &intf_; }
  uint32_t AddRef();
  uint32_t Release();

  // Host-side convenience.
  void Set(const std::string& name, const HostValue& v);
  void SetText(const std::string& name, const std::string& utf8);
  void SetInt(const std::string& name, int32_t v);
  const HostItem* Find(const std::string& name) const;
  const std::vector<std::shared_ptr<HostItem>>& Items() const { return items_; }
  void ClearItems() { items_.clear(); }

 private:
  HostParamsList();
  friend struct ListMethods;
  IkelParamsListA intf_;  // first member: the object's table pointer
  int32_t refs_ = 1;
  int32_t tag_ = 0;
  std::vector<std::shared_ptr<HostItem>> items_;
  int32_t IndexOf(const char* name, int32_t from, int32_t to) const;
};

std::u16string Utf8To16(const std::string& s);
std::string Utf16To8(const std::u16string& s);

}  // namespace host
