// The events a plug-in instance raises into its module class.  The module
// assigns its handlers when its instance is created; the first argument of
// every handler is the instance.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "bacnetip/plugin_abi.h"

namespace kel {

class TkelPlugin;

using TShowOptionsDialogEvent = std::function<void(TkelPlugin& sender, TPluginCallRec* rec, bool& changed)>;
using TGetOptionsDialogEvent =
    std::function<void(TkelPlugin& sender, TPluginCallRec* rec, std::string& formName, std::string& extra)>;
using TCustomCommandEvent =
    std::function<void(TkelPlugin& sender, const std::string& command, TPluginCallRec* rec, int32_t& result)>;
using TCallRecResultEvent = std::function<void(TkelPlugin& sender, TPluginCallRec* rec, int32_t& result)>;
using TNotifyEvent = std::function<void(TkelPlugin& sender)>;
using TChangeStateEvent = std::function<void(TkelPlugin& sender, uint8_t callTypes)>;
using THostEventEvent =
    std::function<void(TkelPlugin& sender, const std::string& event, TPluginCallRec* rec, int32_t& result)>;

}  // namespace kel
