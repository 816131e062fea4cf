// Per-call bookkeeping of the exports: a raw parameter list handed in by the
// host is wrapped in an interface for the duration of the call, and put back
// afterwards.
#pragma once

#include <cstdint>

#include "bacnetip/plugin_abi.h"
#include "params/params_ref.h"

namespace kel {

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
};

// Prepares rec for the call (see call_rec.cc); false when Params points at
// something that is neither a list nor a readable interface variable.
bool PrepareCallRec(TPluginCallRec* rec, TPluginCallRecIntft& book);
void RestoreCallRec(TPluginCallRec* rec, TPluginCallRecIntft& book);

// The call's parameter list: Params of a prepared record, or of a record
// whose Params points at an interface variable or a raw list.
ParamsRef CallRecParams(const TPluginCallRec* rec);
// The parameter list of a value descriptor (kinds 1, 8 and 9), or none.
ParamsRef DescriptorParams(const TPluginValue& value);

}  // namespace kel
