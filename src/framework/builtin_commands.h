// The commands every instance understands.  Each runs under the instance's
// CommandLock (see command_dispatcher.h) and returns the command's result.
#pragma once

#include <cstdint>
#include <string>

#include "bacnetip/plugin_abi.h"
#include "framework/command_params.h"
#include "framework/kel_plugin.h"

namespace kel {

using TBuiltinCommand = int32_t (*)(TkelPlugin& plugin, TPluginCallRec* rec, const CommandParams& params);

// The handler of a built-in command (exact, case-sensitive name), or null.
TBuiltinCommand FindBuiltinCommand(const std::string& command);

// load_unload.cc
int32_t CmdLoad(TkelPlugin& plugin, TPluginCallRec* rec, const CommandParams& params)
    REQUIRES(plugin.CommandLock);
int32_t CmdUnload(TkelPlugin& plugin, TPluginCallRec* rec, const CommandParams& params)
    REQUIRES(plugin.CommandLock);

// builtin_commands.cc
int32_t CmdEvent(TkelPlugin& plugin, TPluginCallRec* rec, const CommandParams& params)
    REQUIRES(plugin.CommandLock);
int32_t CmdSetItems(TkelPlugin& plugin, TPluginCallRec* rec, const CommandParams& params)
    REQUIRES(plugin.CommandLock);
int32_t CmdSetState(TkelPlugin& plugin, TPluginCallRec* rec, const CommandParams& params)
    REQUIRES(plugin.CommandLock);
int32_t CmdItems(TkelPlugin& plugin, TPluginCallRec* rec, const CommandParams& params)
    REQUIRES(plugin.CommandLock);
int32_t CmdEventsSupport(TkelPlugin& plugin, TPluginCallRec* rec, const CommandParams& params)
    REQUIRES(plugin.CommandLock);
int32_t CmdGetModuleParameter(TkelPlugin& plugin, TPluginCallRec* rec, const CommandParams& params)
    REQUIRES(plugin.CommandLock);
int32_t CmdSetModuleParameter(TkelPlugin& plugin, TPluginCallRec* rec, const CommandParams& params)
    REQUIRES(plugin.CommandLock);
int32_t CmdSaveSettingsNow(TkelPlugin& plugin, TPluginCallRec* rec, const CommandParams& params)
    REQUIRES(plugin.CommandLock);
int32_t CmdLoadSettingsNow(TkelPlugin& plugin, TPluginCallRec* rec, const CommandParams& params)
    REQUIRES(plugin.CommandLock);

}  // namespace kel
