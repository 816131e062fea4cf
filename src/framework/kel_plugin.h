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
#include "framework/custom_commands.h"
#include "framework/data_sources.h"
#include "framework/host_callbacks.h"
#include "framework/log_data_list.h"
#include "framework/parsed_data_list.h"
#include "framework/parser_items.h"
#include "framework/plugin_events.h"
#include "framework/shared_text.h"
#include "params/params_ref.h"
#include "platform/port.h"
#include "runtime/component/component.h"
#include "runtime/rwlock.h"
#include "runtime/text/translator.h"
#include "runtime/thread_object.h"

namespace kel {

// The levels of the instance log (AddLog).
inline constexpr uint8_t kLogError = 0;
inline constexpr uint8_t kLogWarning = 1;
inline constexpr uint8_t kLogInfo = 2;

// The host's module types: type n is bit n of ModuleType and of a call's
// CallTypes, and entry n of TypeEnabled.
inline constexpr size_t kModuleTypeCount = 8;
constexpr uint8_t ModuleTypeBit(size_t type) { return static_cast<uint8_t>(1u << type); }
constexpr bool HasModuleType(uint8_t types, size_t type) { return ((types >> type) & 1u) != 0; }

class TkelThreadParamsList;
class TModuleConfigList;

// The plug-in instance is a component (the data module): the module's own
// components belong to it, and its published texts are translated with it.
class TkelPlugin : public TComponent {
 public:
  // rec may be null; moduleHandle is 0 for instances made by CreatePluginInstance.
  TkelPlugin(TPluginCallRec* rec, uint32_t moduleHandle);
  virtual ~TkelPlugin();
  TkelPlugin(const TkelPlugin&) = delete;
  TkelPlugin& operator=(const TkelPlugin&) = delete;

  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  // The data module's own creation: derived classes set their identity and
  // assign their handlers here.  Called once, right after construction.
  virtual void Create() {}
  // After Create: the first translation (when language files are in use).
  void FinishCreation();
  // Runs before the instance is freed; may raise (FreePluginInstance gives -3).
  virtual void Destroying() {}

  // Offered to the module: the read side of SettingsLock.
  void BeginRead() ACQUIRE_SHARED(SettingsLock) { SettingsLock.BeginRead(); }
  void EndRead() RELEASE_SHARED(SettingsLock) { SettingsLock.EndRead(); }

  // ---- Log (module_log.cc) ----------------------------------------------
  // Adds a line to the instance log (kLogError, kLogWarning, kLogInfo) and
  // tells the host.  Any thread; never raises.
  void AddLog(uint8_t level, const std::string& message, bool flag = false);
  // Posts message 1809 to MsgProcHandle (sent with a 1000 ms time-out when
  // posting fails).
  void NotifyLogChanged() EXCLUDES(*Log);

  // Text form of the custom-command list (one "a|b|c|1|0" line each, CR LF).
  std::string CustomCommandsText() const REQUIRES_SHARED(SettingsLock) { return CustomCommands.GetText(); }

  // ---- Parser items (plugin_parser_items.cc) -------------------------------
  // The items are the commands' (CommandLock).
  void ClearParserItems() REQUIRES(CommandLock);
  void AddStandardParserItems(bool withClientId) REQUIRES(CommandLock);
  int32_t AddParserItem(const std::string& name, const std::string& description, const std::string& attribute,
                        uint8_t dataType) REQUIRES(CommandLock);
  void SetParserItem(int32_t index, const TParserItem& item) REQUIRES(CommandLock);
  int32_t ParserItemsCount() const REQUIRES(CommandLock);
  std::string GetParserItemsText() const REQUIRES(CommandLock);
  void SetParserItemsText(const std::string& text, bool replace) REQUIRES(CommandLock);

  // ---- Parsed data (delivery.cc) ----------------------------------------
  // Appends the standard items to list; the number appended (0 for null).
  int32_t FillStandardItems(TkelParamsList* list, const std::string& fullPacket, const std::string& dataPacket,
                            uint32_t dataSourceId, uint32_t clientId, const std::string& dataSourceName,
                            const std::string& dataSourceFullName, const std::string& clientName);
  // Fills the record of the running ProcessData call: raw text into Input,
  // the parsed items into Output's list.
  // With takeItems, a list of the module's own in Output takes the items
  // themselves, not copies (list is left without items then).
  void DeliverParsedData(TPluginCallRec* rec, TParsedDataList& list, const std::string& rawText, bool append,
                         bool takeItems = false);
  // Sends a list to the host outside a ProcessData call (kind 9).
  void SendParsedData(int32_t dataSourceId, int32_t reserved, TParsedDataList& list) EXCLUDES(*Log);
  // Hands bytes to the host to send through a data source (kind 129); the
  // host's result, -1 when it has no such entry point.
  int32_t SendRawData(int32_t moduleIndex, int32_t dataSourceId, int32_t reserved, const void* data,
                      int32_t length) EXCLUDES(*Log);

  // ---- ProcessData bookkeeping (process_data.cc) ---------------------------
  // True while at least one ProcessData call runs its processing.
  bool ProcessBusy() const { return processBusy_.load() > 0; }
  void EnterProcessing();
  void LeaveProcessing();
  // Waits while a call is processing and the instance is terminating, at
  // most timeoutMs; pumps the thread's messages every 50 ms.
  void WaitWhileTerminatingBusy(uint32_t timeoutMs);
  // Calls held back by that wait right now.
  int32_t ProcessWaiters() const { return processWaiters_.load(); }

  // ---- Fields ----------------------------------------------------------
  // Beside each field: what guards it.  "once": set by the constructor or
  // Create, before the instance is registered and so shared, and only read
  // after.  "commands": written only within a command or the options dialog,
  // which hold CommandLock (one at a time per instance).  "settings": written
  // under SettingsLock's write side (within a command, or during the first
  // translation), read under either side.  Atomics and the structures with
  // a lock of their own need nothing.  The fields of commands and of settings
  // are GUARDED_BY CommandLock and SettingsLock; the few both write are
  // GUARDED_BY SettingsLock, the lock their readers outside commands hold.
  std::unique_ptr<TWtransl> Translator;  // once (the translator has its own lock)
  TMREWSync SettingsLock;
  port::CriticalSection CommandLock;
  std::atomic<int32_t> CommandDepth{0};
  uint32_t ModulePluginHandle = 0;  // the handle the host receives; once (set just before registering)
  uint32_t ModuleDllHandle = 0;     // once
  std::atomic<int32_t> ModuleLoadCount{0};
  std::atomic<int32_t> ModuleIndex{0};
  std::string ItemsText GUARDED_BY(CommandLock);  // commands
  std::string Description GUARDED_BY(SettingsLock);  // settings (GetModuleInfo reads it from any thread)
  TSharedText LogTitle;     // its own lock: read by AddLog on any thread
  std::atomic<uint8_t> ModuleType{0};  // set of module types (bit n = type n); GetModuleInfo reads it
  uint8_t ModuleOptions = 0;           // bit 2 makes LOAD read CONFIG-ID; once
  uint8_t ModuleInfoFlag = 1;          // once
  std::string ModulePath;  // folder of the library, with trailing separator; once
  std::string ModuleName;  // file name of the library; once
  int32_t ModuleLoadForConfig GUARDED_BY(CommandLock) = 0;  // commands
  std::string ApplicationFullName GUARDED_BY(CommandLock);  // commands
  std::string DisplayFullVersion;   // once
  TParserItemList ParserItems GUARDED_BY(CommandLock);  // commands
  TkelPluginCustomCmdList CustomCommands GUARDED_BY(SettingsLock);  // settings (GetModuleInfo reads it from any thread)
  // Made on first use by commands; the list has its own lock.
  std::unique_ptr<TkelThreadParamsList> ModuleParams GUARDED_BY(CommandLock);
  std::unique_ptr<TModuleConfigList> ModuleConfigs;    // once: a module may make it in Create; the list has its own lock
  std::unique_ptr<TLogDataList> Log;                   // once (the log has its own lock)
  std::atomic<bool> TerminateNow{false};
  TConfigDataSourceList DataSources GUARDED_BY(SettingsLock);  // commands and settings both (received frames read it)
  std::string DataSourceLoadFor GUARDED_BY(SettingsLock);  // commands and settings both
  std::string MsgNoData GUARDED_BY(SettingsLock);  // settings (translated; ProcessData reads it)
  std::string MsgWriteComplete GUARDED_BY(SettingsLock);  // settings
  std::string MsgWriteCompleteError GUARDED_BY(SettingsLock);  // settings
  float ModuleVersion = 4.0f;         // once
  std::string INIFile GUARDED_BY(CommandLock);  // commands
  uint8_t ModuleRegistryRoot1 = 2;    // once
  uint8_t ModuleRegistryRoot2 = 1;    // once
  TSharedText ModuleRegistryPath;     // its own lock: compared by other instances' options dialogs
  std::string INISectionPrefix GUARDED_BY(CommandLock);  // commands
  std::array<std::atomic<bool>, kModuleTypeCount> TypeEnabled{};
  std::string EventsSupported GUARDED_BY(CommandLock);  // commands
  std::atomic<bool> IsTemporaryLoad{false};  // also written by every command call before its command runs
  bool SettingsBusy GUARDED_BY(CommandLock) = false;  // commands (the loads and saves of settings run in them)

  // The events: once (assigned in Create).
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

  uintptr_t OwnerForm GUARDED_BY(CommandLock) = 0;  // commands
  std::atomic<uintptr_t> MsgProcHandle{0};  // host notification window (descriptor on POSIX)
  uintptr_t ParentApp GUARDED_BY(CommandLock) = 0;  // host module whose exports are the callbacks; commands
  bool SubscribeForData GUARDED_BY(CommandLock) = false;  // commands
  bool Translated GUARDED_BY(SettingsLock) = false;  // settings
  bool OptionsDialogOpen GUARDED_BY(CommandLock) = false;  // commands
  uint8_t OptionsCallTypes GUARDED_BY(CommandLock) = 0;  // commands
  ParamsRef OptionsParams GUARDED_BY(CommandLock);  // the dialog's input list while OnShowOptionsDialog runs; commands
  std::atomic<uint32_t> LoadThreadId{0};
  std::string Language GUARDED_BY(SettingsLock);  // settings
  THostEntryPoints Host;  // atomic entries, resolved by LOAD

 private:
  std::atomic<bool> destroying_{false};
  std::atomic<int32_t> processBusy_{0};
  std::atomic<int32_t> processWaiters_{0};
  port::CriticalSection processLock_;
  port::CondVar processIdle_{&processLock_};
};

}  // namespace kel
