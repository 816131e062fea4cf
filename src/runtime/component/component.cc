#include "runtime/component/component.h"

#include <algorithm>
#include <cstdio>

#include "runtime/text/text_utils.h"

namespace kel {

namespace {
const TPropInfo kComponentProps[] = {
    [] {
      TPropInfo p;
      p.name = "Name";
      p.kind = TPropKind::Text;
      p.getText = [](const TComponent& c) -> std::string { return c.Name(); };
      p.setText = [](TComponent& c, const std::string& v) { c.SetName(v); };
      return p;
    }(),
    [] {
      TPropInfo p;
      p.name = "Tag";
      p.kind = TPropKind::Integer;
      p.getInt = [](const TComponent& c) -> int64_t { return c.Tag(); };
      p.setInt = [](TComponent& c, int64_t v) { c.SetTag(v); };
      return p;
    }(),
};
const TClassInfo kComponentClass{"TComponent", nullptr, kComponentProps, std::size(kComponentProps)};
}  // namespace

const TClassInfo& TComponent::StaticClass() { return kComponentClass; }

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  if (owner_) owner_->RemoveComponent(this);
  // Free the owned tree without recursing once per level: each component taken
  // from the stack hands its own components to the stack before it is freed,
  // so its destructor finds nothing left to free.
  std::vector<TComponent*> stack;
  stack.swap(components_);
  ++componentsVersion_;
  for (TComponent* c : stack) c->owner_ = nullptr;
  while (!stack.empty()) {
    TComponent* c = stack.back();
    stack.pop_back();
    for (TComponent* k : c->components_) {
      k->owner_ = nullptr;
      stack.push_back(k);
    }
    c->components_.clear();
    delete c;
  }
}

bool TComponent::InheritsFrom(const TClassInfo& cls) const {
  for (const TClassInfo* k = &ClassInfo(); k; k = k->parent)
    if (k == &cls) return true;
  return false;
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameTextAscii(c->name_, name)) return c;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* c) {
  if (!c || c->owner_ == this) return;
  if (c->owner_) c->owner_->RemoveComponent(c);
  c->owner_ = this;
  components_.push_back(c);
  ++componentsVersion_;
}

void TComponent::RemoveComponent(TComponent* c) {
  auto it = std::find(components_.begin(), components_.end(), c);
  if (it == components_.end()) return;
  components_.erase(it);
  ++componentsVersion_;
  c->owner_ = nullptr;
}

const TPropInfo* TComponent::FindProperty(std::string_view name) const {
  for (const TClassInfo* k = &ClassInfo(); k; k = k->parent)
    for (size_t i = 0; i < k->count; ++i)
      if (SameTextAscii(k->props[i].name, name)) return &k->props[i];
  return nullptr;
}

std::vector<const TPropInfo*> TComponent::Properties() const {
  std::vector<const TClassInfo*> chain;
  for (const TClassInfo* k = &ClassInfo(); k; k = k->parent) chain.push_back(k);
  std::vector<const TPropInfo*> out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    for (size_t i = 0; i < (*it)->count; ++i) out.push_back(&(*it)->props[i]);
  return out;
}

Variant GetPropValue(const TComponent& c, const TPropInfo& p) {
  switch (p.kind) {
    case TPropKind::Text:
      return Variant(p.getText(c));
    case TPropKind::Integer:
      return Variant(p.getInt(c));
    case TPropKind::Boolean:
      return Variant(p.getInt(c) != 0);
    case TPropKind::Float:
      return Variant(p.getFloat(c));
    case TPropKind::Enum: {
      int64_t v = p.getInt(c);
      if (v >= 0 && static_cast<size_t>(v) < p.enumCount) return Variant(std::string(p.enumNames[v]));
      return Variant(v);
    }
    case TPropKind::Strings:
      return Variant(p.strings(const_cast<TComponent&>(c))->Text());
    case TPropKind::Component: {
      TComponent* r = p.getRef(c);
      return r ? Variant(r->Name()) : Variant();
    }
  }
  return Variant();
}

bool SetPropValue(TComponent& c, const TPropInfo& p, const Variant& v) {
  bool ok = true;
  switch (p.kind) {
    case TPropKind::Text:
      p.setText(c, v.ToAnsi());
      return true;
    case TPropKind::Integer: {
      int64_t x = v.ToInt64(&ok);
      if (ok) p.setInt(c, x);
      return ok;
    }
    case TPropKind::Boolean: {
      bool x = v.ToBool(&ok);
      if (ok) p.setInt(c, x ? 1 : 0);
      return ok;
    }
    case TPropKind::Float: {
      double x = v.ToDouble(&ok);
      if (ok) p.setFloat(c, x);
      return ok;
    }
    case TPropKind::Enum: {
      if (v.IsText()) {
        std::string s = v.ToAnsi();
        for (size_t i = 0; i < p.enumCount; ++i)
          if (SameTextAscii(p.enumNames[i], s)) {
            p.setInt(c, static_cast<int64_t>(i));
            return true;
          }
      }
      int64_t x = v.ToInt64(&ok);
      if (!ok || x < 0 || static_cast<size_t>(x) >= p.enumCount) return false;
      p.setInt(c, x);
      return true;
    }
    case TPropKind::Strings:
      p.strings(c)->SetText(v.ToAnsi());
      return true;
    case TPropKind::Component: {
      if (v.IsEmptyOrNull()) {
        p.setRef(c, nullptr);
        return true;
      }
      // A reference is restored by name among the owner's components.
      std::string name = v.ToAnsi();
      TComponent* scope = c.Owner() ? c.Owner() : &c;
      TComponent* r = scope->FindComponent(name);
      if (!r) return false;
      p.setRef(c, r);
      return true;
    }
  }
  return false;
}

}  // namespace kel
