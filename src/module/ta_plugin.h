// The BACnet/IP module's own instance class: the data module that carries the
// module's identity, its options and its message texts.
#pragma once

#include <memory>

#include "framework/kel_plugin.h"
#include "module/data_source_cfg.h"
#include "runtime/text/str_holder.h"
#include "runtime/text/text_resources.h"

namespace bacnet_module {

class TaPlugin : public kel::TkelPlugin {
 public:
  TaPlugin(TPluginCallRec* rec, uint32_t moduleHandle);
  static const kel::TClassInfo& StaticClass();
  const kel::TClassInfo& ClassInfo() const override { return StaticClass(); }

  // Sets the module's identity, makes its components and assigns its handlers.
  void Create() override;

  // Reads the persisted options into Config (through the Properties map).
  void LoadConfiguration(bool updateTimers);
  // Writes Config through the Properties map.
  bool SaveConfiguration();

  kel::TkelStrHolder* Properties = nullptr;       // owned component; the persistence map
  kel::TTextResources* TextResources = nullptr;   // owned component
  TDataSourceCfg* Config = nullptr;               // owned component while loaded
  bool Unloaded = true;

 private:
  void FreeConfig();
};

// Registers TaPlugin as the class CreatePluginInstance makes.
void RegisterModuleClass();

}  // namespace bacnet_module
