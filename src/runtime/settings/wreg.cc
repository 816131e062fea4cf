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

// Calls visit(line, index) for every map line the store finds a place for,
// in map order, until visit gives false.  Comments and lines without a
// property are passed over; loads and saves pass over lines without a key.
template <class Visit>
void ForEachLocated(TWregStore& store, const std::vector<std::string>& lines, TWregOperation op, Visit visit) {
  const bool valueOp = op == TWregOperation::Load || op == TWregOperation::Save;
  for (size_t index = 0; index < lines.size(); ++index) {
    TMapLine line = ParseMapLine(lines[index]);
    if (line.comment || line.propertyPath.empty()) continue;
    if (valueOp && line.keyPath.empty()) continue;
    if (!store.Locate(line, op)) continue;
    if (!visit(line, static_cast<int32_t>(index))) return;
  }
}

// A map line of a load or save as the events settle it: what it names, the
// kind of its value, and whether the events keep the value (virtual).
struct TMapItem {
  TTarget target;
  TWregKind kind = TWregKind::None;
  bool isVirtual = false;

  bool Textual() const {
    return IsTextKind(kind) ||
           (kind == TWregKind::Object && target.prop && target.prop->kind == TPropKind::Strings);
  }
};

// False when the line is passed over.
bool Settle(TWreg& w, const TWregRoot& root, const TMapLine& line, int32_t index, TMapItem& item) {
  item.target = Resolve(root, line.propertyPath);
  bool require = item.target.Resolved();
  item.isVirtual = !item.target.Resolved();
  item.kind = item.target.kind;
  if (w.OnBeforeProcessItem) w.OnBeforeProcessItem(w, line.propertyPath, index, require, item.isVirtual, item.kind);
  if (!require) return false;
  // "*Name" lines belong to registered value handlers; none are registered,
  // so such lines are passed over like the rest.
  if (item.kind == TWregKind::None) return false;
  return item.isVirtual || item.target.Resolved();
}

void DiscardQuietly(TWregStore& store, const std::string& name) {
  try {
    store.Discard(name);
  } catch (...) {
  }
}

// Loads one value; false when nothing readable is stored under its name.  A
// stored value that cannot be read or does not fit is discarded.
bool LoadValue(TWreg& w, TWregStore& store, const TMapLine& line, int32_t index, const TMapItem& item) {
  const std::string& name = line.valueName;
  Variant v;
  try {
    if (!ReadStored(store, name, item.kind, &v)) return false;
  } catch (...) {
    DiscardQuietly(store, name);
    return false;
  }
  try {
    if (item.isVirtual) {
      if (v.IsText() && !v.ToAnsi().empty()) v = Variant(PercentDecode(v.ToAnsi()));
      if (w.OnSetValue) w.OnSetValue(w, line.propertyPath, index, v);
      return true;
    }
    if (item.Textual() && v.IsText()) v = Variant(PercentDecode(v.ToAnsi()));
    if (!SetTargetValue(item.target, v)) throw std::runtime_error("value does not fit the property");
  } catch (...) {
    DiscardQuietly(store, name);
  }
  return true;
}

// Saves one value; one that cannot be written is discarded.
void SaveValue(TWreg& w, TWregStore& store, const TMapLine& line, int32_t index, const TMapItem& item) {
  const std::string& name = line.valueName;
  try {
    Variant v;
    if (item.isVirtual) {
      if (w.OnGetValue) w.OnGetValue(w, line.propertyPath, index, v);
      if (v.IsText() && !v.ToAnsi().empty()) v = Variant(PercentEncode(v.ToAnsi()));
    } else {
      v = GetTargetValue(item.target);
      if (item.Textual() && v.IsText()) v = Variant(PercentEncode(v.ToAnsi()));
    }
    if (!WriteStored(store, name, item.kind, v)) store.Discard(name);
  } catch (...) {
    DiscardQuietly(store, name);
  }
}

// The operations.  Each finishes the store; true when the store finished
// and the operation found something to do.

bool LoadValues(TWreg& w, TWregStore& store, const std::vector<std::string>& lines, const TWregRoot& root) {
  bool any = false;
  ForEachLocated(store, lines, TWregOperation::Load, [&](const TMapLine& line, int32_t index) {
    TMapItem item;
    if (Settle(w, root, line, index, item) && LoadValue(w, store, line, index, item)) any = true;
    return true;
  });
  return store.Finish() && any;
}

bool SaveValues(TWreg& w, TWregStore& store, const std::vector<std::string>& lines, const TWregRoot& root) {
  bool any = false;
  ForEachLocated(store, lines, TWregOperation::Save, [&](const TMapLine& line, int32_t index) {
    TMapItem item;
    if (Settle(w, root, line, index, item)) {
      any = true;
      SaveValue(w, store, line, index, item);
    }
    return true;
  });
  return store.Finish() && any;
}

bool DeleteValues(TWregStore& store, const std::vector<std::string>& lines) {
  bool any = false;
  ForEachLocated(store, lines, TWregOperation::Delete, [&](const TMapLine& line, int32_t) {
    store.DeleteLine(line);
    any = true;
    return true;
  });
  return store.Finish() && any;
}

// ListKeys: the keys below the first line the store finds; ListValues: the
// value names below every line it finds.
bool ListNames(TWregStore& store, const std::vector<std::string>& lines, TWregOperation op, TStrings& result) {
  const bool keys = op == TWregOperation::ListKeys;
  bool any = false;
  ForEachLocated(store, lines, op, [&](const TMapLine&, int32_t) {
    for (auto& n : keys ? store.KeyNames() : store.ValueNames()) result.Add(n);
    any = true;
    return !keys;
  });
  return store.Finish() && any;
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
  switch (op) {
    case TWregOperation::Load: return LoadValues(*this, *store, lines, root);
    case TWregOperation::Save: return SaveValues(*this, *store, lines, root);
    case TWregOperation::Delete: return DeleteValues(*store, lines);
    case TWregOperation::ListKeys:
    case TWregOperation::ListValues: return ListNames(*store, lines, op, *result);
  }
  return false;
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
