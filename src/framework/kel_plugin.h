// The plug-in instance.  The host creates one or more of these through the
// exports; a module derives its own class from TkelPlugin, sets its identity
// in its creation handler and assigns the events it handles.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bacnetip/plugin_abi.h"
#include "framework/log_data_list.h"
#include "framework/plugin_events.h"
#include "platform/port.h"
#include "runtime/rwlock.h"
#include "runtime/thread_object.h"

namespace kel {

class TkelThreadParamsList;

// One parser item the module can produce.
struct TParserItem {
  std::string Name;
  std::string Description;
  uint8_t DataType = 17;  // index into the type-name list; 17: no type given
  std::string Attribute;
};
using TParserItemList = std::vector<TParserItem>;

// One data source of the host configuration (from SET-STATE).
struct TConfigDataSource {
  std::string Text;
  int32_t Id = 0;
  std::string Name;
  std::string FullName;
};

// One custom command the module advertises to the host.
struct TkelPluginCustomCmd {
  std::string Col1, Col2, Col3;
  bool Col4 = false, Col5 = false;
};
using TkelPluginCustomCmdList = std::vector<TkelPluginCustomCmd>;

// Host entry points looked up at LOAD.
struct THostEntryPoints {
  void* SendNotify = nullptr;
  kel_DataLogger_SendDataEx SendDataEx = nullptr;
  void* DataSourceData = nullptr;
  void* DataSourceState = nullptr;
  void* ManageDynForm = nullptr;
};

class TkelPlugin {
 public:
  // rec may be null; moduleHandle is 0 for instances made by CreatePluginInstance.
  TkelPlugin(TPluginCallRec* rec, uint32_t moduleHandle);
  virtual ~TkelPlugin();
  TkelPlugin(const TkelPlugin&) = delete;
  TkelPlugin& operator=(const TkelPlugin&) = delete;

  // The data module's own creation: derived classes set their identity and
  // assign their handlers here.  Called once, right after construction.
  virtual void Create() {}
  // Runs before the instance is freed; may raise (FreePluginInstance gives -3).
  virtual void Destroying() {}

  // Offered to the module: the read side of SettingsLock.
  void BeginRead() { SettingsLock.BeginRead(); }
  void EndRead() { SettingsLock.EndRead(); }

  // Adds a line to the instance log (level 0 error, 1 warning, 2 information).
  void AddLog(uint8_t level, const std::string& message, bool flag = false);

  // Text form of the custom-command list (one "a|b|c|1|0" line each, CR LF).
  std::string CustomCommandsText() const;

  // ---- Fields ----------------------------------------------------------
  TMREWSync SettingsLock;
  port::CriticalSection CommandLock;
  std::atomic<int32_t> CommandDepth{0};
  uint32_t ModulePluginHandle = 0;  // the handle the host receives
  uint32_t ModuleDllHandle = 0;
  std::atomic<int32_t> ModuleLoadCount{0};
  int32_t ModuleIndex = 0;
  std::string ItemsText;
  std::string Description;
  std::string LogTitle;
  uint8_t ModuleType = 0;     // set of module types (bit n = type n)
  uint8_t ModuleOptions = 0;  // bit 2 makes LOAD read CONFIG-ID
  uint8_t ModuleInfoFlag = 1;
  std::string ModulePath;  // folder of the library, with trailing separator
  std::string ModuleName;  // file name of the library
  int32_t ModuleLoadForConfig = 0;
  std::string ApplicationFullName;
  std::string DisplayFullVersion;
  TParserItemList ParserItems;
  TkelPluginCustomCmdList CustomCommands;
  std::unique_ptr<TkelThreadParamsList> ModuleParams;  // made on first use
  std::unique_ptr<TLogDataList> Log;
  std::atomic<bool> TerminateNow{false};
  std::vector<TConfigDataSource> DataSources;
  std::string DataSourceLoadFor;
  std::string MsgNoData;
  std::string MsgWriteComplete;
  std::string MsgWriteCompleteError;
  float ModuleVersion = 4.0f;
  std::string INIFile;
  uint8_t ModuleRegistryRoot1 = 2;
  uint8_t ModuleRegistryRoot2 = 1;
  std::string ModuleRegistryPath;
  std::string INISectionPrefix;
  std::array<bool, 8> TypeEnabled{};
  std::string EventsSupported;
  bool IsTemporaryLoad = false;
  bool SettingsBusy = false;

  TShowOptionsDialogEvent OnShowOptionsDialog;
  TGetOptionsDialogEvent OnGetOptionsDialog;
  TCustomCommandEvent OnCustomCommand;
  TCallRecResultEvent OnLoad;
  TCallRecResultEvent OnUnload;
  TNotifyEvent OnSaveSettingsNow;
  TNotifyEvent OnLoadSettingsNow;
  TNotifyEvent OnBeforeGetParserItems;
  TNotifyEvent OnParserItemsSet;
  TChangeStateEvent OnChangeState;
  TCallRecResultEvent OnProcessData;
  THostEventEvent OnEvent;
  TNotifyEvent OnLanguageChanged;

  uintptr_t OwnerForm = 0;
  uintptr_t MsgProcHandle = 0;  // host notification window (descriptor on POSIX)
  uintptr_t ParentApp = 0;      // host module whose exports are the callbacks
  bool SubscribeForData = false;
  std::atomic<bool> ProcessBusy{false};
  bool Translated = false;
  bool OptionsDialogOpen = false;
  uint8_t OptionsCallTypes = 0;
  uint32_t LoadThreadId = 0;
  std::string Language;
  THostEntryPoints Host;
};

}  // namespace kel
