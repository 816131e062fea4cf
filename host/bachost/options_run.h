// bachost --options and --show-options: the options form as a host fetches
// it, and the module's options handling with the settings-changed messages
// it sends to the other instances that share its settings.
#pragma once

#include <string>

namespace host {

// 0 when the exchange went as it should, 1 otherwise (the reason printed).
int RunOptions(const std::string& plugin, const std::string& ini, const std::string& language, bool show);

}  // namespace host
