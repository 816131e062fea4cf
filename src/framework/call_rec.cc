#include "framework/call_rec.h"

#include <cstring>

#include "params/params_list.h"
#include "params/params_list_wrap.h"
#include "params/raw_list_check.h"
#include "framework/boundary_probe.h"
#include "platform/port.h"

namespace kel {

namespace {

thread_local TPluginCallRecIntft* t_running = nullptr;

// Wraps a raw list of the descriptor in place: kind 9, Value = address of
// the held reference.  Kind 8 is taken at its word only when the list's
// signature is there: a wrapper over anything else would hand the call's
// handlers a list made of whatever Value points at.
bool RawKind(const TPluginValue& value) {
  return value.Kind == KEL_KIND_RAW_LIST || value.Kind == KEL_KIND_OBJECT;
}

// known: the descriptor's signature was read already (1: it is a list's,
// 0: it is not), or -1.
void WrapDescriptor(TPluginValue& value, ParamsRef& holder, IkelParamsListA*& var, TkelParamsList*& rawList,
                    int known = -1) {
  const bool raw = RawKind(value) && (known >= 0 ? known == 1
                                                 : IsRawParamsList(reinterpret_cast<const void*>(value.Value)));
  if (!raw) return;
  auto* list = reinterpret_cast<TkelParamsList*>(value.Value);
  holder = ParamsRef(TkelParamsListWrap::NewRefA(list), true);
  var = holder.get();
  rawList = list;
  value.Kind = KEL_KIND_LIST_INTF;
  value.Value = reinterpret_cast<uintptr_t>(&var);
}

}  // namespace

bool PrepareCallRec(TPluginCallRec* rec, TPluginCallRecIntft& book, bool readInput) {
  book.Active = true;
  std::memcpy(book.Saved, rec, sizeof(TPluginCallRec));
  bool ok = true;
  // The host's buffers behind the record are read with one probe: the head
  // of Params, the signature of a raw Output list and a short input buffer
  // (a record of received data has all three).  When that probe fails,
  // each is read on its own, to tell which cannot be read.
  int outputKnown = -1;
  TListPointer params;
  if (rec->Params) {
    uint8_t head[kListHeadSpan];
    uint32_t signature = 0;
    port::TReadSpan spans[3] = {{rec->Params, head, sizeof head}};
    size_t n = 1;
    const uintptr_t out = rec->Output.Value;
    const uintptr_t outAt = out + kParamsListSignatureOffset;
    const bool outputSpan = RawKind(rec->Output) && out != 0 && outAt > out;
    if (outputSpan) spans[n++] = {reinterpret_cast<const void*>(outAt), &signature, sizeof signature};
    const bool inputSpan = readInput && rec->Input.Kind == KEL_KIND_BUFFER && rec->Input.Value != 0 &&
                           rec->Input.Size > 0 && rec->Input.Size <= TPluginCallRecIntft::kInputBytes;
    if (inputSpan) spans[n++] = {reinterpret_cast<const void*>(rec->Input.Value), book.InputBytes, rec->Input.Size};
    if (n > 1 && port::SafeReadSpans(spans, n)) {
      params = ClassifyListHead(rec->Params, head);
      if (outputSpan) outputKnown = signature == kParamsListSignature ? 1 : 0;
      if (inputSpan) {
        book.InputFrom = rec->Input.Value;
        book.InputSize = rec->Input.Size;
      }
    } else {
      params = ClassifyListPointer(rec->Params);
    }
  }
  if (rec->Params) {
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
  WrapDescriptor(rec->Input, book.InputIntf, book.InputVar, book.InputRaw);
  WrapDescriptor(rec->Output, book.OutputIntf, book.OutputVar, book.OutputRaw, outputKnown);
  if (rec->Input.Kind == KEL_KIND_LIST_INTF && !book.InputVar) book.HostVars[0] = rec->Input.Value;
  if (rec->Output.Kind == KEL_KIND_LIST_INTF && !book.OutputVar) book.HostVars[1] = rec->Output.Value;
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

TRunningCall::TRunningCall(TPluginCallRecIntft& book) : saved_(t_running) { t_running = &book; }
TRunningCall::~TRunningCall() { t_running = saved_; }

namespace {

// The list the running call's book holds for a descriptor's variable, when
// that variable is one of the book's own (still holding what it was given).
IkelParamsListA* OwnVariable(const TPluginCallRecIntft& book, uintptr_t value) {
  if (!book.Active) return nullptr;
  if (book.InputVar && value == reinterpret_cast<uintptr_t>(&book.InputVar) &&
      book.InputVar == book.InputIntf.get())
    return book.InputVar;
  if (book.OutputVar && value == reinterpret_cast<uintptr_t>(&book.OutputVar) &&
      book.OutputVar == book.OutputIntf.get())
    return book.OutputVar;
  return nullptr;
}

}  // namespace

const uint8_t* RunningCallInput(const TPluginValue& value, uint32_t& size) {
  size = 0;
  const TPluginCallRecIntft* book = t_running;
  if (!book || !book->Active || book->InputSize == 0 || value.Kind != KEL_KIND_BUFFER ||
      value.Value != book->InputFrom || value.Size != book->InputSize)
    return nullptr;
  size = book->InputSize;
  return book->InputBytes;
}

TkelParamsList* RunningCallRawList(const TPluginValue& value) {
  const TPluginCallRecIntft* book = t_running;
  if (!book || value.Kind != KEL_KIND_LIST_INTF || !value.Value) return nullptr;
  IkelParamsListA* own = OwnVariable(*book, value.Value);
  if (!own) return nullptr;
  return own == book->InputVar ? book->InputRaw : book->OutputRaw;
}

ParamsRef DescriptorParams(const TPluginValue& value) {
  if (!value.Value) return {};
  if (TPluginCallRecIntft* book = t_running; book && book->Active && value.Kind == KEL_KIND_LIST_INTF) {
    // Wrappers of the call's own making are taken at their word, and a host
    // variable is read once per call.
    if (IkelParamsListA* own = OwnVariable(*book, value.Value)) return ParamsRef(own);
    for (int i = 0; i < 2; ++i) {
      if (book->HostVars[i] != value.Value) continue;
      if (!book->HostRead[i]) {
        book->HostIntfs[i] = ReadInterfaceVariable(reinterpret_cast<const void*>(value.Value));
        book->HostRead[i] = true;
      }
      return book->HostIntfs[i] ? ParamsRef(book->HostIntfs[i]) : ParamsRef();
    }
  }
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
