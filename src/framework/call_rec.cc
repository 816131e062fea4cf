#include "framework/call_rec.h"

#include <cstring>

#include "params/params_list.h"
#include "params/params_list_wrap.h"
#include "params/raw_list_check.h"
#include "framework/boundary_probe.h"
#include "platform/port.h"

namespace kel {

namespace {

// Wraps a raw list of the descriptor in place: kind 9, Value = address of
// the held reference.  Kind 8 is taken on trust no more than kind 1: without
// the list's signature the pointer is left alone, as DescriptorParams does.
void WrapDescriptor(TPluginValue& value, ParamsRef& holder, IkelParamsListA*& var) {
  bool raw = (value.Kind == KEL_KIND_RAW_LIST || value.Kind == KEL_KIND_OBJECT) &&
             IsRawParamsList(reinterpret_cast<const void*>(value.Value));
  if (!raw || !value.Value) return;
  auto* list = reinterpret_cast<TkelParamsList*>(value.Value);
  holder = ParamsRef(TkelParamsListWrap::NewRefA(list), true);
  var = holder.get();
  value.Kind = KEL_KIND_LIST_INTF;
  value.Value = reinterpret_cast<uintptr_t>(&var);
}

}  // namespace

bool PrepareCallRec(TPluginCallRec* rec, TPluginCallRecIntft& book) {
  book = TPluginCallRecIntft{};
  book.Active = true;
  std::memcpy(book.Saved, rec, sizeof(TPluginCallRec));
  bool ok = true;
  if (rec->Params) {
    TListPointer params = ClassifyListPointer(rec->Params);
    if (params.raw) {
      auto* list = params.raw;
      book.ParamsIntf = ParamsRef(TkelParamsListWrap::NewRefA(list), true);
      book.ParamsVar = book.ParamsIntf.get();
      book.WrappedParams = true;
      rec->Params = &book.ParamsVar;
    } else {
      rec->Flags |= KEL_FLAG_PARAMS_INTF;
      if (params.intf) book.ParamsIntf = ParamsRef(params.intf);
      else ok = false;
    }
  }
  WrapDescriptor(rec->Input, book.InputIntf, book.InputVar);
  WrapDescriptor(rec->Output, book.OutputIntf, book.OutputVar);
  return ok;
}

void RestoreCallRec(TPluginCallRec* rec, TPluginCallRecIntft& book) {
  if (!book.Active) return;
  book.Active = false;
  TPluginCallRec saved;
  std::memcpy(&saved, book.Saved, sizeof saved);
  rec->Flags = saved.Flags;
  if (book.WrappedParams) rec->Params = saved.Params;
  // Input and Output stay as converted; their references end with the call.
  book.ParamsIntf.reset();
  book.InputIntf.reset();
  book.OutputIntf.reset();
}

ParamsRef CallRecParams(const TPluginCallRec* rec) {
  if (!rec || !rec->Params) return {};
  TListPointer params = ClassifyListPointer(rec->Params);
  if (params.raw) return ParamsRef(TkelParamsListWrap::NewRefA(params.raw), true);
  return params.intf ? ParamsRef(params.intf) : ParamsRef();
}

ParamsRef DescriptorParams(const TPluginValue& value) {
  if (!value.Value) return {};
  switch (value.Kind) {
    case KEL_KIND_OBJECT:
    case KEL_KIND_RAW_LIST:
      if (!IsRawParamsList(reinterpret_cast<const void*>(value.Value))) return {};
      return ParamsRef(TkelParamsListWrap::NewRefA(reinterpret_cast<TkelParamsList*>(value.Value)), true);
    case KEL_KIND_LIST_INTF: {
      IkelParamsListA* intf = ReadInterfaceVariable(reinterpret_cast<const void*>(value.Value));
      return intf ? ParamsRef(intf) : ParamsRef();
    }
    default:
      return {};
  }
}

}  // namespace kel
