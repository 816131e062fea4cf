// The processing behind the ProcessData export.
#pragma once

#include <cstdint>

#include "bacnetip/plugin_abi.h"

namespace kel {

class TkelPlugin;

// Runs the processing of one call around the module's OnProcessData handler
// (prepares and restores the record itself).  Raises for failures outside the
// handler; the handler's own failures give -3 and a log line.
int32_t ProcessDataCall(TkelPlugin& plugin, TPluginCallRec* rec);

}  // namespace kel
