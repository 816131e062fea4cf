// The BACnet/IP module's own instance class: the data module that carries the
// module's identity, its options, its message texts and one communication
// module per host data source it serves.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "framework/kel_plugin.h"
#include "module/data_source_cfg.h"
#include "platform/port.h"
#include "runtime/text/str_holder.h"
#include "runtime/text/text_resources.h"

namespace bacnet_module {

class TSerialPortDM;

// The module types this module implements (host module types, see
// kel::kModuleTypeCount).
constexpr size_t kTypePolling = 0;    // the communication modules poll their devices
constexpr size_t kTypeReceiving = 1;  // received frames are decoded

class TaPlugin : public kel::TkelPlugin {
 public:
  TaPlugin(TPluginCallRec* rec, uint32_t moduleHandle);
  ~TaPlugin() override;
  static const kel::TClassInfo& StaticClass();
  const kel::TClassInfo& ClassInfo() const override { return StaticClass(); }

  // Sets the module's identity, makes its components and assigns its handlers.
  void Create() override;

  // The communication module of a data source (the last one made wins), or
  // null.  Caller holds a side of SettingsLock.  Found through an index of
  // the modules by data source, made again when the components changed (or
  // a module's data source did), so an answer costs the same with one data
  // source or five hundred.
  TSerialPortDM* FindPortModule(int32_t dataSourceId) const REQUIRES_SHARED(SettingsLock);
  // Every communication module, in the order they were made.  Caller holds a
  // side of SettingsLock.
  std::vector<TSerialPortDM*> PortModules() const;
  // Reads the persisted options into cfg and rebuilds every request list; a
  // failure of the rebuild is logged.  With updateTimers every timer is
  // re-armed afterwards.
  void LoadConfiguration(TDataSourceCfg* cfg, bool updateTimers);
  // Rebuilds every request list from cfg (null empties them).
  void ReloadAllModules(TDataSourceCfg* cfg);
  // Writes Config through the Properties map.
  bool SaveConfiguration() REQUIRES(CommandLock);

  // The texts of the message resources, copied under their lock (any thread).
  std::string Text(const std::string& field) const;

  kel::TkelStrHolder* Properties = nullptr;       // owned component; the persistence map
  kel::TTextResources* TextResources = nullptr;   // owned component
  TDataSourceCfg* Config GUARDED_BY(SettingsLock) = nullptr;  // owned component while loaded
  // Config as a command sees it.  Config is written within commands under
  // the write side of SettingsLock, so CommandLock alone keeps it as it is;
  // the analysis knows one lock per field (SettingsLock, which the received
  // frames hold), and this is the one place that reads it by CommandLock.
  TDataSourceCfg* CommandConfig() const REQUIRES(CommandLock) NO_THREAD_SAFETY_ANALYSIS { return Config; }
  std::atomic<bool> Unloaded{true};

  // The handlers of the framework's events.
  // Load, save and the parser items run within their commands.
  void kelPluginLoad() REQUIRES(CommandLock);
  void kelPluginUnload();
  void kelPluginChangeState();
  void kelPluginLoadSettingsNow();
  void kelPluginSaveSettingsNow() REQUIRES(CommandLock);
  void kelPluginBeforeGetParserItems() REQUIRES(CommandLock);
  // Within ProcessData, which holds the read side of SettingsLock.
  int32_t kelPluginProcessData(TPluginCallRec* rec) REQUIRES_SHARED(SettingsLock);
  int32_t kelPluginEvent(const std::string& event, TPluginCallRec* rec);
  // "DEVICE-STATUS": RESULT := one line per device asked, of every data source.
  int32_t DeviceStatusCommand(TPluginCallRec* rec);

 private:
  // One warning per response item of xml that is not polled (at most 100).
  void ReportLeftOutItems(const std::string& xml);
  TSerialPortDM* ScanPortModules(int32_t dataSourceId) const;

  mutable port::CriticalSection portIndexLock_;  // innermost: the index alone
  mutable std::unordered_map<int32_t, TSerialPortDM*> portIndex_ GUARDED_BY(portIndexLock_);
  mutable uint64_t portIndexVersion_ GUARDED_BY(portIndexLock_) = ~uint64_t{0};

  void FreeConfig();
  void FreePortModules(std::vector<TSerialPortDM*> modules);

  std::string reportedConfig_ GUARDED_BY(CommandLock);  // the configuration last checked
};

// Registers TaPlugin as the class CreatePluginInstance makes.
void RegisterModuleClass();

// The answer to the "GetDataTypeList" event: the object types the options
// form offers, as "name==Dxx" entries joined with "||".
std::string DataTypeListText();

}  // namespace bacnet_module
