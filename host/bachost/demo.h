// bachost --demo: one instance taken through its commands, for a first look
// at the plug-in.
#pragma once

#include <string>

namespace host {

// 0 when LOAD, SET-STATE and UNLOAD succeeded, 1 otherwise.
int RunDemo(const std::string& plugin, const std::string& ini, const std::string& language);

}  // namespace host
