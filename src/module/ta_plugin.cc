#include "module/ta_plugin.h"

#include <algorithm>
#include <exception>

#include "framework/call_rec.h"
#include "framework/instance_registry.h"
#include "framework/module_settings.h"
#include "module/request_config.h"
#include "module/serial_port_dm.h"
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
  Properties->SetTag(kel::kTagSkipTree);  // the map is no text to translate
  Properties->Strings.SetCapacity(16);
  for (const char* line : kOptionsPersistenceMap) Properties->Strings.Add(line);
}

TaPlugin::~TaPlugin() {
  // The communication modules go first: their timers may tick until they
  // are stopped, and a tick uses the instance's log and texts.
  FreePortModules(PortModules());
}

void TaPlugin::Create() {
  {
    // Not shared yet, so both locks are free; taken as a command that
    // changes these fields takes them.
    port::Guard commands(CommandLock);
    kel::WriteGuard settings(SettingsLock);
    Description = "Bacnet/IP";
    EventsSupported = "PORT-OPEN";
  }
  LogTitle = "Bacnet/IP";
  ModuleType = kel::ModuleTypeBit(kTypePolling) | kel::ModuleTypeBit(kTypeReceiving);
  ModuleInfoFlag = 1;
  ModuleVersion = 5.0f;

  OnShowOptionsDialog = [](kel::TkelPlugin&, TPluginCallRec*, bool& changed) { changed = true; };
  OnEvent = [this](kel::TkelPlugin&, const std::string& event, TPluginCallRec* rec, int32_t& result) {
    result = kelPluginEvent(event, rec);
  };
  // The framework calls these within their commands, under CommandLock.
  OnLoad = [this](kel::TkelPlugin&, TPluginCallRec*, int32_t&) REQUIRES(CommandLock) { kelPluginLoad(); };
  OnUnload = [this](kel::TkelPlugin&, TPluginCallRec*, int32_t&) { kelPluginUnload(); };
  OnSaveSettingsNow = [this](kel::TkelPlugin&) REQUIRES(CommandLock) { kelPluginSaveSettingsNow(); };
  OnLoadSettingsNow = [this](kel::TkelPlugin&) { kelPluginLoadSettingsNow(); };
  OnChangeState = [this](kel::TkelPlugin&, uint8_t) { kelPluginChangeState(); };
  OnProcessData = [this](kel::TkelPlugin&, TPluginCallRec* rec, int32_t& result) REQUIRES_SHARED(SettingsLock) {
    result = kelPluginProcessData(rec);
  };
  OnBeforeGetParserItems = [this](kel::TkelPlugin&) REQUIRES(CommandLock) { kelPluginBeforeGetParserItems(); };
  OnCustomCommand = [this](kel::TkelPlugin&, const std::string& command, TPluginCallRec* rec, int32_t& result) {
    if (command == "DEVICE-STATUS") result = DeviceStatusCommand(rec);
  };

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

std::string TaPlugin::Text(const std::string& field) const {
  return TextResources ? TextResources->Get(field) : field;
}

// ---- Communication modules ---------------------------------------------------

TSerialPortDM* TaPlugin::FindPortModule(int32_t dataSourceId) const {
  port::Guard g(portIndexLock_);
  if (portIndexVersion_ == ComponentsVersion()) {
    const auto it = portIndex_.find(dataSourceId);
    if (it != portIndex_.end() && it->second->DataSourceId == dataSourceId) return it->second;
  }
  // Not found: the components changed, a module's data source did, or none
  // serves it.  The index is made again from the components.
  portIndex_.clear();
  for (size_t i = 0; i < ComponentCount(); ++i) {
    TComponent* c = Components(i);
    if (c->InheritsFrom(TSerialPortDM::StaticClass())) {
      auto* m = static_cast<TSerialPortDM*>(c);
      portIndex_[m->DataSourceId] = m;  // the last one made wins
    }
  }
  portIndexVersion_ = ComponentsVersion();
  return ScanPortModules(dataSourceId);
}

TSerialPortDM* TaPlugin::ScanPortModules(int32_t dataSourceId) const {
  for (size_t i = ComponentCount(); i-- > 0;) {
    TComponent* c = Components(i);
    if (c->InheritsFrom(TSerialPortDM::StaticClass())) {
      auto* m = static_cast<TSerialPortDM*>(c);
      if (m->DataSourceId == dataSourceId) return m;
    }
  }
  return nullptr;
}

std::vector<TSerialPortDM*> TaPlugin::PortModules() const {
  std::vector<TSerialPortDM*> modules;
  for (size_t i = 0; i < ComponentCount(); ++i) {
    TComponent* c = Components(i);
    if (c->InheritsFrom(TSerialPortDM::StaticClass())) modules.push_back(static_cast<TSerialPortDM*>(c));
  }
  return modules;
}

void TaPlugin::FreePortModules(std::vector<TSerialPortDM*> modules) {
  if (modules.empty()) return;
  {
    // Received frames find the modules under the read side.
    kel::WriteGuard g(SettingsLock);
    for (TSerialPortDM* m : modules) RemoveComponent(m);
  }
  // Outside the lock: stopping a timer waits for a tick that may be handing
  // a record to the host.
  for (TSerialPortDM* m : modules) TSerialPortDM::Free(m);
}

// ---- Configuration -------------------------------------------------------------

void TaPlugin::LoadConfiguration(TDataSourceCfg* cfg, bool updateTimers) {
  // Commands, and the reload the options dialog asks for, take turns here.
  port::Guard commands(CommandLock);
  kel::LoadSettings(*this, &Properties->Strings, kel::TWregRoot{cfg, nullptr}, "");
  if (cfg && cfg->lblParams_Caption != reportedConfig_) {
    reportedConfig_ = cfg->lblParams_Caption;
    ReportLeftOutItems(reportedConfig_);
  }
  try {
    ReloadAllModules(cfg);
  } catch (const std::exception& e) {
    AddLog(kel::kLogError, kel::FormatText(Text(TextResources->TextConfigLoadError), e.what()));
  }
  if (updateTimers)
    for (TSerialPortDM* m : PortModules()) m->UpdateTimer();
}

void TaPlugin::ReportLeftOutItems(const std::string& xml) {
  constexpr size_t kMaxLines = 100;  // a configuration full of them does not flood the log
  size_t count = 0;
  const std::string title = Text(TextResources->TextItemLeftOut);
  CheckRequestConfig(xml, [&](const std::string& description, const std::string& name, const std::string& type,
                              TLeftOutReason why) {
    if (++count > kMaxLines) return;
    const std::string& reason = why == TLeftOutReason::UnreadableType       ? TextResources->TextUnreadableType
                                : why == TLeftOutReason::InstanceOutOfRange ? TextResources->TextInstanceOutOfRange
                                                                            : TextResources->TextNamelessItem;
    AddLog(kel::kLogWarning, title + ": " + description + ", item \"" + name + "\", type " + type + " (" + Text(reason) + ")");
  });
  if (count > kMaxLines) AddLog(kel::kLogWarning, title + ": " + std::to_string(count - kMaxLines) + " more");
}

void TaPlugin::ReloadAllModules(TDataSourceCfg* cfg) {
  port::Guard commands(CommandLock);
  for (TSerialPortDM* m : PortModules()) BuildRequestList(*this, cfg, m->RequestList, m);
}

bool TaPlugin::SaveConfiguration() {
  if (!CommandConfig()) return false;
  return kel::SaveSettings(*this, &Properties->Strings, kel::TWregRoot{CommandConfig(), nullptr}, "");
}

void TaPlugin::FreeConfig() {
  TDataSourceCfg* old = nullptr;
  {
    kel::WriteGuard g(SettingsLock);
    old = Config;
    Config = nullptr;
  }
  delete old;  // leaves the data module's components as it goes
}

// ---- Event handlers ------------------------------------------------------------

void TaPlugin::kelPluginLoad() {
  FreeConfig();
  reportedConfig_.clear();  // a new LOAD reports the configuration's faults again
  auto* cfg = new TDataSourceCfg(this);
  cfg->SetName("Config");
  {
    kel::WriteGuard g(SettingsLock);
    Config = cfg;
  }
  Unloaded = false;
  LoadConfiguration(cfg, false);
}

void TaPlugin::kelPluginUnload() {
  Unloaded = true;
  ReloadAllModules(nullptr);
  FreeConfig();
}

void TaPlugin::kelPluginChangeState() {
  port::Guard commands(CommandLock);
  std::vector<TSerialPortDM*> toFree = PortModules();
  const bool anyEnabled =
      std::any_of(TypeEnabled.begin(), TypeEnabled.end(), [](const std::atomic<bool>& e) { return e.load(); });
  {
    kel::WriteGuard g(SettingsLock);
    if (anyEnabled) {
      for (const kel::TConfigDataSource& source : DataSources) {
        if (!DataSourceLoadFor.empty() && !kel::SameTextAscii(source.Text, DataSourceLoadFor)) continue;
        if (TSerialPortDM* kept = FindPortModule(source.Id)) {
          toFree.erase(std::remove(toFree.begin(), toFree.end(), kept), toFree.end());
          continue;
        }
        auto* m = new TSerialPortDM(this);
        m->DataSourceId = source.Id;
        m->DataSourceName = source.Name;
        m->DataSourceFullName = source.FullName;
      }
    }
  }
  FreePortModules(std::move(toFree));
  if (CommandConfig()) LoadConfiguration(CommandConfig(), true);
}

void TaPlugin::kelPluginLoadSettingsNow() {
  port::Guard commands(CommandLock);
  if (CommandConfig()) LoadConfiguration(CommandConfig(), true);
}

void TaPlugin::kelPluginSaveSettingsNow() {
  if (CommandConfig()) SaveConfiguration();
}

int32_t TaPlugin::DeviceStatusCommand(TPluginCallRec* rec) {
  std::string text;
  {
    kel::ReadGuard g(SettingsLock);
    for (TSerialPortDM* m : PortModules()) text += m->DeviceStatusText();
  }
  kel::ParamsRef params = kel::CallRecParams(rec);
  if (params) params.SetValue("RESULT", kel::Variant(std::move(text)), false);
  return 0;
}

void TaPlugin::kelPluginBeforeGetParserItems() {
  ClearParserItems();
  AddStandardParserItems(false);
  AddParserItem("REMOTE_ADDRESS", "Remote address", "", kel::kParserString);
  AddParserItem("DEV_INSTANCE", "Device instance", "", kel::kParserInteger);
  AddParserItem("REQUEST_DESC", "Request description", "", kel::kParserString);
  TRequestList items;
  try {
    BuildRequestList(*this, CommandConfig(), items, nullptr);
  } catch (const std::exception&) {
    // a configuration over the item limit declares the items made before it
  }
  const TRequestListRead list(items);
  for (const TRequestItem* item : list.Items())
    if (!item->Name.empty()) AddParserItem(item->Name, item->Description, "0", kel::kNoDataType);
}

}  // namespace bacnet_module
