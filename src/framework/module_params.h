// The module parameters behind GET-MODULE-PARAMETER and SET-MODULE-PARAMETER.
//
// This is the one place the commands ask.  Until the parameter table is
// filled in, no name is known: a read gives an empty value and a write
// reports false.  The table will plug in here without touching the commands.
#pragma once

#include <string>

#include "framework/kel_plugin.h"
#include "runtime/variant.h"

namespace kel {

// The value of a parameter; empty when the name is not known.
Variant GetModuleParameter(TkelPlugin& plugin, const std::string& name) REQUIRES(plugin.CommandLock);
// True when the name was recognised and the value set.
bool SetModuleParameter(TkelPlugin& plugin, const std::string& name, const Variant& value)
    REQUIRES(plugin.CommandLock);

}  // namespace kel
