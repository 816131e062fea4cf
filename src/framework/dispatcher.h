// The command dispatcher and the processing behind ProcessData.
#pragma once

#include <cstdint>
#include <string>

#include "bacnetip/plugin_abi.h"
#include "params/params_ref.h"

namespace kel {

class TkelPlugin;

// Runs one command of an instance under its CommandLock; a nested command on
// the same thread fails.
int32_t Dispatch(TkelPlugin& plugin, const std::string& command, TPluginCallRec* rec, ParamsRef& params);
// Runs the processing of one ProcessData call (record already prepared).
int32_t ProcessDataCall(TkelPlugin& plugin, TPluginCallRec* rec);

}  // namespace kel
