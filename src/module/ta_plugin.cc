#include "module/ta_plugin.h"

#include "framework/instance_registry.h"

namespace bacnet_module {

TaPlugin::TaPlugin(TPluginCallRec* rec, uint32_t moduleHandle) : kel::TkelPlugin(rec, moduleHandle) {}

void TaPlugin::Create() {
  Description = "Bacnet/IP";
  LogTitle = "Bacnet/IP";
  ModuleType = (1u << 0) | (1u << 1);
  ModuleInfoFlag = 1;
  ModuleVersion = 5.0f;
  EventsSupported = "PORT-OPEN";
}

void RegisterModuleClass() {
  kel::RegisterPluginClass(
      [](TPluginCallRec* rec, uint32_t moduleHandle) -> kel::TkelPlugin* { return new TaPlugin(rec, moduleHandle); });
}

}  // namespace bacnet_module
