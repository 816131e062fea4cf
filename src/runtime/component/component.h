// The component model: a component has a name, a tag, an owner that frees it and
// the components it owns, and a table of named published properties per class
// that code can list, read and write by name.  Each class states its table
// explicitly (see the *Prop helpers below); there is no general reflection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "runtime/component/string_list.h"
#include "runtime/variant.h"

namespace kel {

class TComponent;

enum class TPropKind { Text, Integer, Boolean, Float, Enum, Strings, Component };

// One published property.  Only the accessors of its kind are set.
struct TPropInfo {
  const char* name = "";
  TPropKind kind = TPropKind::Text;
  std::string (*getText)(const TComponent&) = nullptr;
  void (*setText)(TComponent&, const std::string&) = nullptr;
  int64_t (*getInt)(const TComponent&) = nullptr;  // Integer, Boolean (0/1), Enum (ordinal)
  void (*setInt)(TComponent&, int64_t) = nullptr;
  double (*getFloat)(const TComponent&) = nullptr;
  void (*setFloat)(TComponent&, double) = nullptr;
  TStrings* (*strings)(TComponent&) = nullptr;
  TComponent* (*getRef)(const TComponent&) = nullptr;
  void (*setRef)(TComponent&, TComponent*) = nullptr;
  const char* const* enumNames = nullptr;  // Enum: identifier of each ordinal
  size_t enumCount = 0;
};

struct TClassInfo {
  const char* name;
  const TClassInfo* parent;
  const TPropInfo* props;
  size_t count;
};

// Texts a translator replaced, kept so that a later translation into another
// language starts from the original: property name -> (original, translated).
using TTranslationMemo = std::unordered_map<std::string, std::pair<std::string, std::string>>;

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  // Frees the owned components (the whole tree, without recursion).
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  static const TClassInfo& StaticClass();
  virtual const TClassInfo& ClassInfo() const { return StaticClass(); }
  bool InheritsFrom(const TClassInfo& cls) const;

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  int64_t Tag() const { return tag_; }
  void SetTag(int64_t tag) { tag_ = tag; }

  TComponent* Owner() const { return owner_; }
  size_t ComponentCount() const { return components_.size(); }
  TComponent* Components(size_t i) const { return components_[i]; }
  // The owned component of that name (ASCII case ignored), null when none.
  TComponent* FindComponent(std::string_view name) const;
  // Takes ownership (removing it from its previous owner).
  void InsertComponent(TComponent* c);
  // Gives up ownership without freeing.
  void RemoveComponent(TComponent* c);
  // Changes with every component taken or given up: an owner's index of its
  // components is good for as long as this stays the same.
  uint64_t ComponentsVersion() const { return componentsVersion_; }

  // Published properties, the class's own after its ancestors'.
  const TPropInfo* FindProperty(std::string_view name) const;  // ASCII case ignored
  std::vector<const TPropInfo*> Properties() const;

  TTranslationMemo& TranslationTexts() { return memo_; }

 private:
  std::string name_;
  int64_t tag_ = 0;
  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  uint64_t componentsVersion_ = 0;
  TTranslationMemo memo_;
};

// Generic access by property.  Get gives Empty for a null reference; Strings
// read as their whole text, references as the component's name, enumerations
// as their identifier.  Set gives false when the value does not convert.
Variant GetPropValue(const TComponent& c, const TPropInfo& p);
bool SetPropValue(TComponent& c, const TPropInfo& p, const Variant& v);

// ---- Helpers that build property-table entries from data members ----------

template <class>
struct TMemberOf;
template <class C, class T>
struct TMemberOf<T C::*> {
  using Class = C;
  using Type = T;
};

template <auto M>
constexpr TPropInfo TextProp(const char* name) {
  using C = typename TMemberOf<decltype(M)>::Class;
  TPropInfo p;
  p.name = name;
  p.kind = TPropKind::Text;
  p.getText = [](const TComponent& c) -> std::string { return static_cast<const C&>(c).*M; };
  p.setText = [](TComponent& c, const std::string& v) { static_cast<C&>(c).*M = v; };
  return p;
}

template <auto M>
constexpr TPropInfo IntProp(const char* name) {
  using C = typename TMemberOf<decltype(M)>::Class;
  using T = typename TMemberOf<decltype(M)>::Type;
  TPropInfo p;
  p.name = name;
  p.kind = TPropKind::Integer;
  p.getInt = [](const TComponent& c) -> int64_t { return static_cast<int64_t>(static_cast<const C&>(c).*M); };
  p.setInt = [](TComponent& c, int64_t v) { static_cast<C&>(c).*M = static_cast<T>(v); };
  return p;
}

template <auto M>
constexpr TPropInfo BoolProp(const char* name) {
  using C = typename TMemberOf<decltype(M)>::Class;
  TPropInfo p;
  p.name = name;
  p.kind = TPropKind::Boolean;
  p.getInt = [](const TComponent& c) -> int64_t { return (static_cast<const C&>(c).*M) ? 1 : 0; };
  p.setInt = [](TComponent& c, int64_t v) { static_cast<C&>(c).*M = v != 0; };
  return p;
}

template <auto M>
constexpr TPropInfo FloatProp(const char* name) {
  using C = typename TMemberOf<decltype(M)>::Class;
  TPropInfo p;
  p.name = name;
  p.kind = TPropKind::Float;
  p.getFloat = [](const TComponent& c) -> double { return static_cast<const C&>(c).*M; };
  p.setFloat = [](TComponent& c, double v) { static_cast<C&>(c).*M = v; };
  return p;
}

template <auto M>
constexpr TPropInfo StringsProp(const char* name) {
  using C = typename TMemberOf<decltype(M)>::Class;
  TPropInfo p;
  p.name = name;
  p.kind = TPropKind::Strings;
  p.strings = [](TComponent& c) -> TStrings* { return &(static_cast<C&>(c).*M); };
  return p;
}

template <auto M>
constexpr TPropInfo RefProp(const char* name) {
  using C = typename TMemberOf<decltype(M)>::Class;
  using T = typename TMemberOf<decltype(M)>::Type;  // a pointer to a TComponent class
  TPropInfo p;
  p.name = name;
  p.kind = TPropKind::Component;
  p.getRef = [](const TComponent& c) -> TComponent* { return static_cast<const C&>(c).*M; };
  p.setRef = [](TComponent& c, TComponent* v) { static_cast<C&>(c).*M = dynamic_cast<T>(v); };
  return p;
}

template <auto M, size_t N>
constexpr TPropInfo EnumProp(const char* name, const char* const (&names)[N]) {
  using C = typename TMemberOf<decltype(M)>::Class;
  using T = typename TMemberOf<decltype(M)>::Type;
  TPropInfo p;
  p.name = name;
  p.kind = TPropKind::Enum;
  p.enumNames = names;
  p.enumCount = N;
  p.getInt = [](const TComponent& c) -> int64_t { return static_cast<int64_t>(static_cast<const C&>(c).*M); };
  p.setInt = [](TComponent& c, int64_t v) {
    if (v >= 0 && v < static_cast<int64_t>(N)) static_cast<C&>(c).*M = static_cast<T>(v);
  };
  return p;
}

}  // namespace kel
