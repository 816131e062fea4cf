#include "params/params_list_wrap.h"

#include "params/list_wrap_tables.h"
#include "params/raw_list_check.h"
#include "platform/port.h"

namespace kel {

TkelParamsListWrap::TkelParamsListWrap() : TkelParamsListWrap(new TkelParamsList(), false) {}

TkelParamsListWrap::TkelParamsListWrap(TkelParamsList* list, bool notOwned)
    : tables_{&kListAVtbl, &kListWVtbl}, notOwned_(notOwned), list_(list) {}

TkelParamsListWrap::~TkelParamsListWrap() {
  if (!notOwned_) delete list_;
  list_ = nullptr;
  const bool hadSelf = selfAddr_ != nullptr;
  if (self_) {
    self_ = nullptr;
    refs_.fetch_sub(1, std::memory_order_acq_rel);
  }
  // A plug-in must not raise a modal box on the host's thread: the warning
  // goes to the debugger output.
  if (hadSelf && refs_.load(std::memory_order_acquire) > 0)
    port::DebugOutput("TkelParamsListWrap.Destroy. Reference counter should be zero!");
}

IkelParamsListA** TkelParamsListWrap::AsIntf() {
  if (!selfAddr_) {
    AddRef();
    self_ = IntfA();
    selfAddr_ = &self_;
  }
  return selfAddr_;
}

uint32_t TkelParamsListWrap::AddRef() {
  return static_cast<uint32_t>(refs_.fetch_add(1, std::memory_order_acq_rel) + 1);
}

uint32_t TkelParamsListWrap::Release() {
  const int32_t n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n == 0 && !selfAddr_) delete this;
  return static_cast<uint32_t>(n);
}

TkelParamsListWrap* TkelParamsListWrap::FromInterface(const void* p) {
  const void* table = nullptr;
  if (!p || !port::SafeRead(p, &table, sizeof table)) return nullptr;
  auto* at = static_cast<unsigned char*>(const_cast<void*>(p));
  if (table == &kListAVtbl)
    return reinterpret_cast<TkelParamsListWrap*>(at - offsetof(Tables, a));
  if (table == &kListWVtbl)
    return reinterpret_cast<TkelParamsListWrap*>(at - offsetof(Tables, w));
  return nullptr;
}

IkelParamsListA* TkelParamsListWrap::NewRefA(TkelParamsList* list) {
  auto* w = new TkelParamsListWrap(list, true);
  w->AddRef();
  return w->IntfA();
}

IkelParamsListW* TkelParamsListWrap::NewRefW(TkelParamsList* list) {
  auto* w = new TkelParamsListWrap(list, true);
  w->AddRef();
  return w->IntfW();
}

TkelParamsList* ResolveSourceList(void* p) {
  if (!p) return nullptr;
  if (TkelParamsListWrap* w = TkelParamsListWrap::FromInterface(p)) return w->List();
  if (IsRawParamsList(p)) return static_cast<TkelParamsList*>(p);
  return nullptr;
}

}  // namespace kel
