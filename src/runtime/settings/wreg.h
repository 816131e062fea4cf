// TWreg: saves named values of an object to the registry or an INI file, and
// loads them back, following a persistence map; also deletes stored values
// and lists stored keys.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/component/component.h"
#include "runtime/component/string_list.h"
#include "runtime/settings/persistence_map.h"
#include "runtime/settings/wreg_values.h"
#include "runtime/variant.h"

namespace kel {

class TWregStore;

enum class TRegistryRoot : uint8_t {
  rrHKEY_CLASSES_ROOT,
  rrHKEY_CURRENT_USER,
  rrHKEY_LOCAL_MACHINE,
  rrHKEY_USERS,
  rrHKEY_CURRENT_CONFIG,
  rrNone
};

// The kind of a mapped value.
enum class TWregKind { None, Integer, Int64, Float, Char, WChar, Enumeration, Text, WText, Variant, Object };

// What the map lines name values of: a component (the proxy object or any
// other component tree) or values reached by name (a parameter list).  Both
// null: nothing resolves.
struct TWregRoot {
  TComponent* component = nullptr;
  TWregValues* values = nullptr;
};

// Marks the substitute objects whose own published properties carry the
// values ("spMinInt.Value" names the property spMinInt_Value).
class TProxyCodeCustomObject : public TComponent {
 public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
};

class TWreg : public TComponent {
 public:
  explicit TWreg(TComponent* owner = nullptr);
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  TRegistryRoot RegistryRoot = TRegistryRoot::rrHKEY_LOCAL_MACHINE;
  TRegistryRoot SecondRegistryRoot = TRegistryRoot::rrHKEY_CURRENT_USER;
  std::string RegistryPath = "\\Software\\Company name\\App name";
  std::string INIFile;
  std::string INIFileSectionPrefix;
  TStrings Components;

  // Values of virtual items (lines the events keep but nothing resolves).
  std::function<void(TWreg& sender, const std::string& name, int32_t index, const Variant& value)> OnSetValue;
  std::function<void(TWreg& sender, const std::string& name, int32_t index, Variant& value)> OnGetValue;
  std::function<void(TWreg& sender, const std::string& name, int32_t index, bool& requireProcessing,
                     bool& isVirtual, TWregKind& kind)>
      OnBeforeProcessItem;

  bool Load(const TWregRoot& root);
  // With a replacement map, that map is used for this call only.
  bool Save(const TWregRoot& root, const TStrings* replacementMap = nullptr);
  bool Delete(const TStrings& map);
  // The list is the map for the call and receives the names.
  bool ListKeys(TStrings& list);
  bool ListValues(TStrings& list);

  bool Busy() const { return busy_; }

 private:
  bool Run(TWregOperation op, const TWregRoot& root, const TStrings* map, TStrings* result);
  std::unique_ptr<TWregStore> OpenStore(TWregOperation op);
  bool busy_ = false;
};

}  // namespace kel
