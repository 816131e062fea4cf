#include "framework/builtin_commands.h"

#include <cstring>

#include "framework/data_sources.h"
#include "framework/exports_impl.h"
#include "framework/kel_plugin.h"
#include "framework/module_params.h"

namespace kel {

namespace {

struct NamedCommand {
  const char* name;
  TBuiltinCommand run;
};

// In the order they are tested.
constexpr NamedCommand kCommands[] = {
    {"EVENT", CmdEvent},
    {"LOAD", CmdLoad},
    {"UNLOAD", CmdUnload},
    {"SET-ITEMS", CmdSetItems},
    {"SET-STATE", CmdSetState},
    {"ITEMS", CmdItems},
    {"EVENTS-SUPPORT", CmdEventsSupport},
    {"GET-MODULE-PARAMETER", CmdGetModuleParameter},
    {"SET-MODULE-PARAMETER", CmdSetModuleParameter},
    {"SAVE-SETTINGS-NOW", CmdSaveSettingsNow},
    {"LOAD-SETTINGS-NOW", CmdLoadSettingsNow},
};

// INIFile for the length of a settings command; put back on every way out.
class IniFileOverride {
 public:
  IniFileOverride(TkelPlugin& p, std::string file) REQUIRES(p.CommandLock) : p_(p), saved_(std::move(p.INIFile)) {
    p_.INIFile = std::move(file);
  }
  ~IniFileOverride() { Restore(); }
  IniFileOverride(const IniFileOverride&) = delete;
  IniFileOverride& operator=(const IniFileOverride&) = delete;
  // Within the scope of the command that made it, which holds CommandLock
  // (the constructor requires it); the analysis cannot tie p_ to the
  // command's plug-in.
  void Restore() NO_THREAD_SAFETY_ANALYSIS { p_.INIFile = saved_; }

 private:
  TkelPlugin& p_;
  std::string saved_;
};

int32_t SettingsCommand(TkelPlugin& p, const CommandParams& params, bool load) REQUIRES(p.CommandLock) {
  IniFileOverride ini(p, params.Text("INI-FILE"));
  if (load) {
    if (p.OnLoadSettingsNow) p.OnLoadSettingsNow(p);
    ini.Restore();
  }
  auto noSave = params.Get("NO-SAVE");
  if (p.OnSaveSettingsNow && !(noSave && noSave->ToInt64() != 0)) p.OnSaveSettingsNow(p);
  return -2;
}

}  // namespace

TBuiltinCommand FindBuiltinCommand(const std::string& command) {
  for (const auto& c : kCommands)
    if (command == c.name) return c.run;
  return nullptr;
}

int32_t CmdEvent(TkelPlugin& p, TPluginCallRec* rec, const CommandParams& params) {
  auto event = params.Get("EVENT-TYPE");
  if (!event) return -1;
  if (!p.OnEvent) return 0;
  int32_t result = -1;
  p.OnEvent(p, event->ToAnsi(), rec, result);
  return result;
}

int32_t CmdSetItems(TkelPlugin& p, TPluginCallRec*, const CommandParams& params) {
  auto items = params.Get("ITEMS");
  if (!items || !items->IsText()) return -1;
  p.SetParserItemsText(items->ToAnsi(), true);
  if (p.OnParserItemsSet) p.OnParserItemsSet(p);
  return 0;
}

int32_t CmdSetState(TkelPlugin& p, TPluginCallRec* rec, const CommandParams& params) {
  int32_t result = -1;
  if (auto cfg = params.Get("DATA-SOURCES-IN-CFG")) {
    TConfigDataSourceList sources = ParseDataSources(cfg->ToAnsi(), [&](const char* message) {
      result = -3;
      ReportError(&p, "SETSTATE", message);
    });
    WriteGuard g(p.SettingsLock);
    p.DataSources = std::move(sources);
  }
  if (auto load = params.Get("DATA-SOURCE-LOAD")) {
    WriteGuard g(p.SettingsLock);
    p.DataSourceLoadFor = load->ToAnsi();
  }
  auto r = params.Get("RESULT");
  if (!r) return result;
  const bool enable = r->ToInt64() == 1;
  const uint8_t types = rec->CallTypes;
  for (size_t n = 0; n < kModuleTypeCount; ++n)
    if (HasModuleType(types, n)) p.TypeEnabled[n] = enable;
  if (p.OnChangeState) p.OnChangeState(p, types);
  return 0;
}

int32_t CmdItems(TkelPlugin& p, TPluginCallRec*, const CommandParams& params) {
  if (!params.HasItem("RESULT")) return -1;
  if (p.OnBeforeGetParserItems) p.OnBeforeGetParserItems(p);
  p.ItemsText = p.GetParserItemsText();
  params.SetResult(Variant(p.ItemsText));
  return 0;
}

int32_t CmdEventsSupport(TkelPlugin& p, TPluginCallRec*, const CommandParams& params) {
  params.SetResult(Variant(p.EventsSupported));
  return 0;
}

int32_t CmdGetModuleParameter(TkelPlugin& p, TPluginCallRec*, const CommandParams& params) {
  auto name = params.Get("PARAM");
  if (!name) return -2;
  params.SetResult(GetModuleParameter(p, name->ToAnsi()));
  return 0;
}

int32_t CmdSetModuleParameter(TkelPlugin& p, TPluginCallRec*, const CommandParams& params) {
  auto name = params.Get("PARAM");
  if (!name) return -2;
  const bool set = SetModuleParameter(p, name->ToAnsi(), params.Get("VALUE").value_or(Variant()));
  params.SetResult(Variant(set));
  return 0;
}

int32_t CmdSaveSettingsNow(TkelPlugin& p, TPluginCallRec*, const CommandParams& params) {
  return SettingsCommand(p, params, false);
}

int32_t CmdLoadSettingsNow(TkelPlugin& p, TPluginCallRec*, const CommandParams& params) {
  return SettingsCommand(p, params, true);
}

}  // namespace kel
