// The module's options: the values the options form persists, read and
// written through the persistence map of the module's Properties holder.
#pragma once

#include "runtime/settings/proxy_code_object.h"

namespace bacnet_module {

class TDataSourceCfg : public kel::TProxyCodeObject {
 public:
  using kel::TProxyCodeObject::TProxyCodeObject;
  static const kel::TClassInfo& StaticClass();
  const kel::TClassInfo& ClassInfo() const override { return StaticClass(); }
};

// The persistence map of the options (the lines of the Properties holder).
extern const char* const kOptionsPersistenceMap[19];

}  // namespace bacnet_module
