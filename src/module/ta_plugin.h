// The BACnet/IP module's own instance class.
#pragma once

#include "framework/kel_plugin.h"

namespace bacnet_module {

class TaPlugin : public kel::TkelPlugin {
 public:
  TaPlugin(TPluginCallRec* rec, uint32_t moduleHandle);
  // Sets the module's identity and assigns its handlers.
  void Create() override;
};

// Registers TaPlugin as the class CreatePluginInstance makes.
void RegisterModuleClass();

}  // namespace bacnet_module
