// The command dispatcher and the export behind ExecutePluginCommand.
#pragma once

#include <cstdint>
#include <string>

#include "bacnetip/plugin_abi.h"
#include "params/params_ref.h"

namespace kel {

class TkelPlugin;

// Runs one command of an instance under its CommandLock.  A command entering
// on a thread that already runs a command of the instance gives -3 at once,
// leaving the running command undisturbed and logging nothing.  Exceptions of
// the command handlers propagate to the caller.
int32_t Dispatch(TkelPlugin& plugin, const std::string& command, TPluginCallRec* rec, const ParamsRef& params);

}  // namespace kel
