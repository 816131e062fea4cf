#include "module/ta_plugin.h"

#include <exception>

#include "framework/instance_registry.h"
#include "framework/module_settings.h"
#include "module/resources/module_resources.h"
#include "runtime/text/text_utils.h"

namespace bacnet_module {

const kel::TClassInfo& TaPlugin::StaticClass() {
  static const kel::TClassInfo info{"TaPlugin", &kel::TkelPlugin::StaticClass(), nullptr, 0};
  return info;
}

TaPlugin::TaPlugin(TPluginCallRec* rec, uint32_t moduleHandle) : kel::TkelPlugin(rec, moduleHandle) {
  SetName("aPlugin");
  // The stored part of the data module: its Properties holder with the map.
  Properties = new kel::TkelStrHolder(this);
  Properties->SetName("Properties");
  Properties->SetTag(9999);
  Properties->Strings.SetCapacity(12);
  for (const char* line : kOptionsPersistenceMap) Properties->Strings.Add(line);
}

void TaPlugin::Create() {
  Description = "Bacnet/IP";
  LogTitle = "Bacnet/IP";
  ModuleType = (1u << 0) | (1u << 1);
  ModuleInfoFlag = 1;
  ModuleVersion = 5.0f;
  EventsSupported = "PORT-OPEN";

  OnLoad = [this](kel::TkelPlugin&, TPluginCallRec*, int32_t&) {
    FreeConfig();
    Config = new TDataSourceCfg(this);
    Config->SetName("Config");
    Unloaded = false;
    LoadConfiguration(false);
  };
  OnUnload = [this](kel::TkelPlugin&, TPluginCallRec*, int32_t&) {
    Unloaded = true;
    FreeConfig();
  };
  OnLoadSettingsNow = [this](kel::TkelPlugin&) {
    if (Config) LoadConfiguration(true);
  };
  OnSaveSettingsNow = [this](kel::TkelPlugin&) {
    if (Config) SaveConfiguration();
  };
  OnShowOptionsDialog = [](kel::TkelPlugin&, TPluginCallRec*, bool& changed) { changed = true; };

  // The message texts translate themselves when the translator reaches them
  // in the data module's tree.
  TextResources = new kel::TTextResources(this);
  TextResources->SetName("TextResources");
  if (Translator) {
    auto previous = Translator->OnCustomTranslate;
    Translator->OnCustomTranslate = [texts = TextResources, previous](kel::TWtransl& t, kel::TComponent& c) {
      if (&c == texts) texts->Translate(t);
      if (previous) previous(t, c);
    };
  }
  Unloaded = true;
  if (Translator && Translator->ComponentProperties.IndexOf("Filter") < 0)
    Translator->ComponentProperties.Add("Filter");
}

void TaPlugin::LoadConfiguration(bool) {
  if (!Config) return;
  try {
    kel::LoadSettings(*this, &Properties->Strings, kel::TWregRoot{Config, nullptr}, "");
  } catch (const std::exception& e) {
    AddLog(0, kel::FormatText(TextResources->TextConfigLoadError, e.what()));
  }
}

bool TaPlugin::SaveConfiguration() {
  if (!Config) return false;
  return kel::SaveSettings(*this, &Properties->Strings, kel::TWregRoot{Config, nullptr}, "");
}

void TaPlugin::FreeConfig() {
  delete Config;  // leaves the data module's components as it goes
  Config = nullptr;
}

void RegisterModuleClass() {
  RegisterModuleResources();
  kel::RegisterPluginClass(
      [](TPluginCallRec* rec, uint32_t moduleHandle) -> kel::TkelPlugin* { return new TaPlugin(rec, moduleHandle); });
}

}  // namespace bacnet_module
