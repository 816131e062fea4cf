// What the eight exports do.  src/exports/ gives them C linkage and the
// platform's calling convention; every function here catches what it must so
// that no exception leaves the library.
#pragma once

#include <cstdint>
#include <memory>

#include "bacnetip/plugin_abi.h"

namespace kel {

int32_t DoCreatePluginInstance(TPluginCallRec* rec);
int32_t DoFreePluginInstance(TPluginCallRec* rec);
bool DoGetModuleInfo(TPluginCallRec* rec, TPluginModuleInfo* info, uint32_t* needed);
int32_t DoGetLogEx(TPluginCallRec* rec);            // get_log_ex.cc
void DoGetOptionsDialog(TPluginCallRec* rec);   // options_dialog.cc
void DoShowOptionsDialog(TPluginCallRec* rec);  // options_dialog.cc
int32_t DoExecutePluginCommand(TPluginCallRec* rec);  // execute_command.cc
int32_t DoProcessData(TPluginCallRec* rec);           // process_data.cc

// The instance a record names (the handle is read fault-safely); null when
// none.  *handle receives the handle read.
class TkelPlugin;
std::shared_ptr<TkelPlugin> ResolveRecord(const TPluginCallRec* rec, uint32_t* handle = nullptr);
// True when the whole record can be read.
bool RecordReadable(const TPluginCallRec* rec);

// The error report: "{command} message" at level 0 in the instance log, and
// the call stack, ": " and the line on the debugger output; an installed
// diagnostics handler gets the stack and the line (diagnostics.h).
void ReportError(TkelPlugin* plugin, const char* command, const char* message);

}  // namespace kel
