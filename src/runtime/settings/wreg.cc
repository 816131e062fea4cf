#include "runtime/settings/wreg.h"

#include <cmath>
#include <memory>
#include <vector>

#include "platform/port.h"
#include "platform/registry.h"
#include "runtime/settings/percent_codec.h"
#include "runtime/settings/wreg_stores.h"

namespace kel {

namespace {

const char* const kRootNames[] = {"rrHKEY_CLASSES_ROOT", "rrHKEY_CURRENT_USER", "rrHKEY_LOCAL_MACHINE",
                                  "rrHKEY_USERS",        "rrHKEY_CURRENT_CONFIG", "rrNone"};

const TPropInfo kWregProps[] = {
    EnumProp<&TWreg::RegistryRoot>("RegistryRoot", kRootNames),
    EnumProp<&TWreg::SecondRegistryRoot>("SecondRegistryRoot", kRootNames),
    TextProp<&TWreg::RegistryPath>("RegistryPath"),
    TextProp<&TWreg::INIFile>("INIFile"),
    TextProp<&TWreg::INIFileSectionPrefix>("INIFileSectionPrefix"),
    StringsProp<&TWreg::Components>("Components"),
};

uint32_t RootKey(TRegistryRoot r) {
  switch (r) {
    case TRegistryRoot::rrHKEY_CLASSES_ROOT: return port::kHKEY_CLASSES_ROOT;
    case TRegistryRoot::rrHKEY_CURRENT_USER: return port::kHKEY_CURRENT_USER;
    case TRegistryRoot::rrHKEY_LOCAL_MACHINE: return port::kHKEY_LOCAL_MACHINE;
    case TRegistryRoot::rrHKEY_USERS: return port::kHKEY_USERS;
    case TRegistryRoot::rrHKEY_CURRENT_CONFIG: return port::kHKEY_CURRENT_CONFIG;
    default: return 0;
  }
}

bool IsIntegerKind(TWregKind k) { return k == TWregKind::Integer || k == TWregKind::Int64; }
bool IsTextKind(TWregKind k) { return k == TWregKind::Char || k == TWregKind::WChar || k == TWregKind::Text || k == TWregKind::WText; }

TWregKind KindOf(const TPropInfo& p) {
  switch (p.kind) {
    case TPropKind::Text: return TWregKind::Text;
    case TPropKind::Integer: return TWregKind::Integer;
    case TPropKind::Boolean:
    case TPropKind::Enum: return TWregKind::Enumeration;
    case TPropKind::Float: return TWregKind::Float;
    case TPropKind::Strings:
    case TPropKind::Component: return TWregKind::Object;
  }
  return TWregKind::None;
}

// A resolved map line: a published property of a component, or a value
// reached by name.
struct TTarget {
  TComponent* component = nullptr;
  const TPropInfo* prop = nullptr;
  TWregValues* values = nullptr;
  std::string entry;
  TWregKind kind = TWregKind::None;
  bool Resolved() const { return kind != TWregKind::None; }
};

std::vector<std::string> SplitDots(const std::string& s) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (true) {
    size_t dot = s.find('.', at);
    parts.push_back(s.substr(at, dot == std::string::npos ? std::string::npos : dot - at));
    if (dot == std::string::npos) break;
    at = dot + 1;
  }
  return parts;
}

TTarget Resolve(const TWregRoot& root, const std::string& path) {
  TTarget t;
  std::string name = PropertyName(path);
  if (root.values) {
    t.values = root.values;
    t.entry = name;
    t.kind = TWregKind::Variant;
    return t;
  }
  TComponent* c = root.component;
  if (!c) return t;
  if (c->InheritsFrom(TProxyCodeCustomObject::StaticClass())) {
    if (const TPropInfo* p = c->FindProperty(name)) {
      t.component = c;
      t.prop = p;
      t.kind = KindOf(*p);
    }
    return t;
  }
  std::vector<std::string> parts = SplitDots(path);
  size_t i = 0;
  if (parts.size() >= 2) {
    c = c->FindComponent(parts[0]);
    if (!c) return t;
    i = 1;
  }
  for (; i < parts.size(); ++i) {
    const TPropInfo* p = c->FindProperty(parts[i]);
    if (!p) return t;
    if (i + 1 == parts.size()) {
      t.component = c;
      t.prop = p;
      t.kind = KindOf(*p);
      return t;
    }
    if (p->kind != TPropKind::Component) return t;
    c = p->getRef(*c);
    if (!c) return t;
  }
  return t;
}

// The path of component names that leads from the top owner to c.
std::string NamePath(const TComponent* c) {
  std::string path;
  for (; c && c->Owner(); c = c->Owner()) path = path.empty() ? c->Name() : c->Name() + "." + path;
  return path;
}

TComponent* FindByNamePath(TComponent* from, const std::string& path) {
  TComponent* top = from;
  while (top && top->Owner()) top = top->Owner();
  TComponent* c = top;
  for (const auto& part : SplitDots(path)) {
    if (!c) return nullptr;
    c = c->FindComponent(part);
  }
  return c;
}

Variant GetTargetValue(const TTarget& t) {
  if (t.values) return t.values->GetWregValue(t.entry);
  const TPropInfo& p = *t.prop;
  if (p.kind == TPropKind::Component) {
    TComponent* ref = p.getRef(*t.component);
    return ref ? Variant(NamePath(ref)) : Variant();
  }
  return GetPropValue(*t.component, p);
}

bool SetTargetValue(const TTarget& t, const Variant& v) {
  if (t.values) {
    t.values->SetWregValue(t.entry, v);
    return true;
  }
  const TPropInfo& p = *t.prop;
  if (p.kind == TPropKind::Component) {
    if (v.IsNull()) {
      if (std::string(p.name).find("Dock") == std::string::npos) p.setRef(*t.component, nullptr);
      return true;
    }
    TComponent* ref = FindByNamePath(t.component, v.ToAnsi());
    if (!ref) return false;
    p.setRef(*t.component, ref);
    return true;
  }
  return SetPropValue(*t.component, p, v);
}

// Reads the stored value of a kind; false when it is not there or unreadable.
bool ReadStored(TWregStore& store, const std::string& name, TWregKind kind, Variant* out) {
  if (!store.Exists(name)) return false;
  if (IsIntegerKind(kind)) {
    int32_t n;
    if (!store.ReadInteger(name, &n)) throw std::runtime_error("not an integer");
    *out = Variant(n);
    return true;
  }
  if (kind == TWregKind::Float) {
    double d;
    if (!store.ReadFloat(name, &d)) throw std::runtime_error("not a float");
    *out = Variant(d);
    return true;
  }
  std::string text;
  if (!store.ReadText(name, &text)) throw std::runtime_error("not a text");
  *out = (kind == TWregKind::Object && text == "[[Null]]") ? Variant::Null() : Variant(text);
  return true;
}

bool WriteStored(TWregStore& store, const std::string& name, TWregKind kind, const Variant& v) {
  if (v.IsEmptyOrNull() || (v.IsText() && v.ToAnsi().empty())) {
    store.DeleteValue(name);
    return true;
  }
  if (IsIntegerKind(kind)) {
    bool ok = true;
    int64_t n = v.ToInt64(&ok);
    if (!ok) return false;
    return store.WriteInteger(name, static_cast<int32_t>(n));
  }
  if (kind == TWregKind::Float) {
    bool ok = true;
    double d = v.ToDouble(&ok);
    if (!ok) return false;
    return store.WriteFloat(name, d);
  }
  return store.WriteText(name, v.ToAnsi());
}

}  // namespace

const TClassInfo& TProxyCodeCustomObject::StaticClass() {
  static const TClassInfo info{"TProxyCodeCustomObject", &TComponent::StaticClass(), nullptr, 0};
  return info;
}

const TClassInfo& TWreg::StaticClass() {
  static const TClassInfo info{"TWreg", &TComponent::StaticClass(), kWregProps, std::size(kWregProps)};
  return info;
}

TWreg::TWreg(TComponent* owner) : TComponent(owner) {}

std::unique_ptr<TWregStore> TWreg::OpenStore(TWregOperation op) {
  if (INIFile == "$CUSTOM$") return std::make_unique<TCustomWregStore>();
  if (!INIFile.empty() && (port::FileExists(INIFile) || op != TWregOperation::Load)) {
    auto ini = std::make_unique<TIniWregStore>(INIFile, INIFileSectionPrefix);
    if (!ini->Begin()) return nullptr;
    return ini;
  }
  // The registry: a missing INI file on load falls back to it.
  if (RegistryRoot == TRegistryRoot::rrNone) return nullptr;
  bool create = op != TWregOperation::Load;
  std::string path = RegistryPath;
  if (!path.empty() && path[0] != '\\') path.insert(path.begin(), '\\');
  for (TRegistryRoot r : {RegistryRoot, SecondRegistryRoot}) {
    uint32_t key = RootKey(r);
    if (!key) continue;
    auto reg = std::make_unique<port::Registry>(key);
    if (reg->OpenKey(path, create)) return std::make_unique<TRegistryWregStore>(std::move(reg), RegistryPath);
  }
  return nullptr;
}

bool TWreg::Run(TWregOperation op, const TWregRoot& root, const TStrings* map, TStrings* result) {
  busy_ = true;
  TStrings saved = Components;
  // The map of the call replaces Components until the operation ends.
  struct Restore {
    TWreg& w;
    TStrings& saved;
    ~Restore() {
      w.Components.Assign(saved);
      w.busy_ = false;
    }
  } restore{*this, saved};
  if (map) Components.Assign(*map);
  std::vector<std::string> lines = Components.Lines();
  if (result) result->Clear();

  std::unique_ptr<TWregStore> store = OpenStore(op);
  if (!store) return false;
  bool any = false;
  for (size_t index = 0; index < lines.size(); ++index) {
    TMapLine line = ParseMapLine(lines[index]);
    if (line.comment || line.propertyPath.empty()) continue;
    bool valueOp = op == TWregOperation::Load || op == TWregOperation::Save;
    if (valueOp && line.keyPath.empty()) continue;
    if (!store->Locate(line, op)) continue;
    const int32_t idx = static_cast<int32_t>(index);
    switch (op) {
      case TWregOperation::ListKeys:
        for (auto& n : store->KeyNames()) result->Add(n);
        return store->Finish();
      case TWregOperation::ListValues:
        for (auto& n : store->ValueNames()) result->Add(n);
        any = true;
        continue;
      case TWregOperation::Delete:
        store->DeleteLine(line);
        any = true;
        continue;
      default:
        break;
    }
    TTarget target = Resolve(root, line.propertyPath);
    bool require = target.Resolved();
    bool isVirtual = !target.Resolved();
    TWregKind kind = target.kind;
    if (OnBeforeProcessItem) OnBeforeProcessItem(*this, line.propertyPath, idx, require, isVirtual, kind);
    if (!require) continue;
    if (kind == TWregKind::None) {
      // "*Name" lines belong to registered value handlers; none are
      // registered, so such lines are passed over like the rest.
      continue;
    }
    if (!isVirtual && !target.Resolved()) continue;
    const std::string& name = line.valueName;
    if (op == TWregOperation::Load) {
      try {
        Variant v;
        if (!ReadStored(*store, name, kind, &v)) continue;
        any = true;
        if (isVirtual) {
          if (v.IsText() && !v.ToAnsi().empty()) v = Variant(PercentDecode(v.ToAnsi()));
          if (OnSetValue) OnSetValue(*this, line.propertyPath, idx, v);
          continue;
        }
        bool textual = IsTextKind(kind) || (kind == TWregKind::Object && target.prop &&
                                            target.prop->kind == TPropKind::Strings);
        if (textual && v.IsText()) v = Variant(PercentDecode(v.ToAnsi()));
        if (!SetTargetValue(target, v)) throw std::runtime_error("value does not fit the property");
      } catch (...) {
        try {
          store->Discard(name);
        } catch (...) {
        }
      }
    } else {
      any = true;
      try {
        Variant v;
        if (isVirtual) {
          if (OnGetValue) OnGetValue(*this, line.propertyPath, idx, v);
          if (v.IsText() && !v.ToAnsi().empty()) v = Variant(PercentEncode(v.ToAnsi()));
        } else {
          v = GetTargetValue(target);
          bool textual = IsTextKind(kind) || (kind == TWregKind::Object && target.prop &&
                                              target.prop->kind == TPropKind::Strings);
          if (textual && v.IsText()) v = Variant(PercentEncode(v.ToAnsi()));
        }
        if (!WriteStored(*store, name, kind, v)) store->Discard(name);
      } catch (...) {
        try {
          store->Discard(name);
        } catch (...) {
        }
      }
    }
  }
  if (!store->Finish()) return false;
  return any;
}

bool TWreg::Load(const TWregRoot& root) { return Run(TWregOperation::Load, root, nullptr, nullptr); }

bool TWreg::Save(const TWregRoot& root, const TStrings* replacementMap) {
  return Run(TWregOperation::Save, root, replacementMap, nullptr);
}

bool TWreg::Delete(const TStrings& map) { return Run(TWregOperation::Delete, TWregRoot{}, &map, nullptr); }

bool TWreg::ListKeys(TStrings& list) {
  TStrings map = list;
  if (map.Count() == 0) map.Add("?,");
  return Run(TWregOperation::ListKeys, TWregRoot{}, &map, &list);
}

bool TWreg::ListValues(TStrings& list) {
  TStrings map = list;
  return Run(TWregOperation::ListValues, TWregRoot{}, &map, &list);
}

}  // namespace kel
