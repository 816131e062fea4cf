// Per-call bookkeeping of the exports: a raw parameter list handed in by the
// host is wrapped in an interface for the duration of the call, and put back
// afterwards.
#pragma once

#include <cstdint>

#include "bacnetip/plugin_abi.h"
#include "params/params_ref.h"

namespace kel {

class TkelParamsList;

struct TPluginCallRecIntft {
  uint8_t Saved[sizeof(TPluginCallRec)] = {};
  ParamsRef ParamsIntf;  // held when the module wrapped a raw list
  IkelParamsListA* ParamsVar = nullptr;  // the variable Params points at while wrapped
  bool Active = false;
  bool WrappedParams = false;
  ParamsRef InputIntf;
  ParamsRef OutputIntf;
  IkelParamsListA* InputVar = nullptr;   // Input.Value points here while wrapped
  IkelParamsListA* OutputVar = nullptr;  // Output.Value likewise
  TkelParamsList* InputRaw = nullptr;    // the raw lists behind them
  TkelParamsList* OutputRaw = nullptr;
  // The host's interface variables of Input and Output (kind 9) as the
  // call came in; each is read once in the call, and what it held kept.
  uintptr_t HostVars[2] = {};
  IkelParamsListA* HostIntfs[2] = {};
  bool HostRead[2] = {};
  // A short input buffer (kind 4) read with the lists' heads, when asked for.
  static constexpr uint32_t kInputBytes = 1536;
  uintptr_t InputFrom = 0;
  uint32_t InputSize = 0;
  uint8_t InputBytes[kInputBytes];
};

// Marks the ProcessData call running on this thread, so that the lists its
// record was prepared with are found again without reading host memory; the
// previous call (a nested one) is remembered and put back.
class TRunningCall {
 public:
  explicit TRunningCall(TPluginCallRecIntft& book);
  ~TRunningCall();
  TRunningCall(const TRunningCall&) = delete;
  TRunningCall& operator=(const TRunningCall&) = delete;

 private:
  TPluginCallRecIntft* saved_;
};

// Prepares rec for the call (see call_rec.cc); false when Params points at
// something that is neither a list nor a readable interface variable.  With
// readInput, a short byte buffer in Input is read too (RunningCallInput).
bool PrepareCallRec(TPluginCallRec* rec, TPluginCallRecIntft& book, bool readInput = false);
void RestoreCallRec(TPluginCallRec* rec, TPluginCallRecIntft& book);

// The call's parameter list: Params of a prepared record, or of a record
// whose Params points at an interface variable or a raw list.
ParamsRef CallRecParams(const TPluginCallRec* rec);
// The parameter list of a value descriptor (kinds 1, 8 and 9), or none.
ParamsRef DescriptorParams(const TPluginValue& value);
// The module's own list behind a descriptor of the running call: a raw list
// the framework wrapped for it.  Null for anything else.
TkelParamsList* RunningCallRawList(const TPluginValue& value);
// The bytes of a byte buffer descriptor that the running call read when it
// was prepared; null (size 0) when it did not read that buffer.
const uint8_t* RunningCallInput(const TPluginValue& value, uint32_t& size);

}  // namespace kel
