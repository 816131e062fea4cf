// Copying items between two lists that may both be foreign implementations.
#include <string>

#include "runtime/errors.h"
#include "params/params_list.h"
#include "params/params_ref.h"

namespace kel {

namespace {

void Check(uint32_t status, const char* call) {
  if (status != 0) throw EIntfCallFailed(std::string("CopyParamsItems: ") + call + " failed");
}

// Releases an item reference on scope exit.
struct Held {
  IkelParamsListItemA* p = nullptr;
  ~Held() {
    if (p) p->vtbl->Release(p);
  }
};

struct HeldVariant {
  kel_variant v;
  HeldVariant() { InitBoundary(&v); }
  ~HeldVariant() { ClearBoundary(&v); }
};

}  // namespace

void CopyParamsItems(IkelParamsListA* source, IkelParamsListA* dest, int32_t from, int32_t to) {
  if (!source || !dest) return;
  // Indexes past the source's end hold nothing: stop at its last item, which
  // also keeps the loop's index from overflowing.
  const int32_t last = source->vtbl->GetCount(source) - 1;
  if (to < 0 || to > last) to = last;
  if (from < 0) from = 0;
  for (int32_t i = from; i <= to; ++i) {
    Held item;
    Check(source->vtbl->GetItem(source, i, &item.p), "GetItem");
    if (!item.p) continue;  // beyond the source's end
    HeldVariant value;
    Check(item.p->vtbl->GetValue(item.p, &value.v), "GetValue");
    const char* name = item.p->vtbl->GetName(item.p);
    Held added;
    Check(dest->vtbl->Add(dest, name, &value.v, &added.p), "Add");
    if (!added.p) continue;
    added.p->vtbl->SetKey(added.p, item.p->vtbl->GetKey(item.p));
    added.p->vtbl->SetDataType(added.p, item.p->vtbl->GetDataType(item.p));
    added.p->vtbl->SetState(added.p, item.p->vtbl->GetState(item.p));
  }
}

void CopyParamsItems(const TkelParamsList& source, IkelParamsListA* dest) {
  if (!dest) return;
  std::string scratch;
  const int32_t n = source.Count();
  for (int32_t i = 0; i < n; ++i) {
    const TkelParamsListItem& item = *source.Items(i);
    HeldVariant value;
    item.Value().ToBoundary(&value.v);
    Held added;
    Check(dest->vtbl->Add(dest, item.Name.empty() ? nullptr : item.Name.c_str(), &value.v, &added.p), "Add");
    if (!added.p) continue;
    const std::string& key = BoundaryKey(item, scratch);
    added.p->vtbl->SetKey(added.p, key.empty() ? nullptr : key.c_str());
    added.p->vtbl->SetDataType(added.p, item.DataType);
    added.p->vtbl->SetState(added.p, item.State);
  }
}

}  // namespace kel
