// The demonstration: loads the plug-in and drives one instance through its
// commands (LOAD with the host's module handle and notification pipe,
// SET-STATE, ITEMS, EVENT, a ProcessData call, module parameters, a save
// and a load of its settings, UNLOAD), printing the module log whenever
// message 1809 arrives and every record the module sends.
#include "demo.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "host_entry_points.h"
#include "host_session.h"
#include "notify_pipe.h"
#include "parsed_records.h"
#include "platform/port.h"
#include "plugin_library.h"

namespace {

std::mutex g_print;

void PrintLog(const std::string& text) {
  std::lock_guard<std::mutex> g(g_print);
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 2;
    if (line.empty()) continue;
    const auto c = static_cast<unsigned char>(line[0]);
    std::printf("log[%d]%s %s\n", (c & 0x7F) - 1, (c & 0x80) ? "*" : "", line.c_str() + 1);
  }
  std::fflush(stdout);
}

// fmt takes the text and then the code (either may be left unused).
void Print(const char* fmt, const std::string& a, int32_t code) {
  std::lock_guard<std::mutex> g(g_print);
  std::printf(fmt, a.c_str(), code);
  std::fflush(stdout);
}

int32_t OnSendData(int32_t moduleIndex, int32_t dataSourceId, int32_t kind, void* data, int32_t count) {
  std::lock_guard<std::mutex> g(g_print);
  if (kind == KEL_DATA_KIND_PARSED) {
    host::ParsedRecord r = host::ReadParsedRecord(static_cast<const TPluginCallRec*>(data));
    std::printf("record from module %d, data source %d:\n%s", moduleIndex, dataSourceId,
                host::FormatRecord(r).c_str());
  } else if (kind == KEL_DATA_KIND_SEND) {
    std::printf("send %d bytes through data source %d\n", count, dataSourceId);
  } else {
    std::printf("unexpected data kind %d\n", kind);
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace

namespace host {

int RunDemo(const std::string& plugin, const std::string& ini, const std::string& language) {
  host::SetSendDataSink(OnSendData);
  host::PluginLibrary lib;
  std::string error;
  if (!lib.Load(plugin, &error)) {
    std::fprintf(stderr, "bachost: cannot load %s: %s\n", plugin.c_str(), error.c_str());
    return 1;
  }
  std::printf("loaded %s\n", plugin.c_str());
  int rc = 0;
  {
    host::HostSession session(lib.Exports());
    if (session.Create() != 0) {
      std::fprintf(stderr, "bachost: CreatePluginInstance failed\n");
      return 1;
    }
    host::ModuleInfo info;
    if (session.GetModuleInfo(&info)) {
      std::printf("module: %s\n", info.description.c_str());
      std::printf("  version %.1f, framework %u, module types 0x%02X, options %u, info flag %u\n",
                  info.moduleVersion, info.frameworkVersion & 0xFFFF, info.moduleType & 0xFF,
                  (info.moduleType >> 16) & 7, info.infoFlag);
      if (!info.commands.empty()) std::printf("  commands:\n%s", info.commands.c_str());
    } else {
      std::fprintf(stderr, "bachost: GetModuleInfo failed\n");
      rc = 1;
    }
    // Message 1809: lines wait in the module log.
    host::NotifyPipe notify;
    notify.Start([&session](uint32_t message, uint32_t moduleIndex, uint32_t) {
      if (message != KEL_MSG_LOG_CHANGED) return;
      std::string text = session.DrainLog();
      if (!text.empty()) {
        Print("log of module %s%d:\n", "", static_cast<int32_t>(moduleIndex));
        PrintLog(text);
      }
    });
    const auto self = reinterpret_cast<int64_t>(port::LoadedLib(""));
    auto load = session.Command("LOAD", {{"APPLICATION-NAME", host::Text("bachost")},
                                         {"HANDLE", host::Int64(self)},
                                         {"MSG-PROC-HANDLE", host::Int64(notify.WriteEnd())},
                                         {"REGISTRY-PATH", host::Text("\\Software\\bachost\\Reference host")},
                                         {"INI-FILE", host::Text(ini)},
                                         {"LANGUAGE", host::Text(language)}});
    Print("LOAD -> %s%d\n", "", load.code);
    const uint8_t pollAndParse = (1u << 0) | (1u << 1);
    auto state = session.Command("SET-STATE",
                                 {{"DATA-SOURCES-IN-CFG", host::Text("1;UDP1;BACnet/IP port 47808\r\n")},
                                  {"RESULT", host::Int(1)}},
                                 1, pollAndParse);
    Print("SET-STATE -> %s%d\n", "", state.code);
    auto items = session.Command("ITEMS");
    Print("ITEMS -> %s%d\n", "", items.code);
    if (!items.result.ToText().empty()) Print("%s\n", items.result.ToText(), 0);
    auto events = session.Command("EVENTS-SUPPORT");
    Print("EVENTS-SUPPORT -> \"%s\" %d\n", events.result.ToText(), events.code);
    auto event = session.Command("EVENT", {{"EVENT-TYPE", host::Text("PORT-OPEN")}});
    Print("EVENT PORT-OPEN -> %s%d\n", "", event.code);
    // A parse call without data: the module logs that it had nothing to do.
    Print("ProcessData (no data) -> %s%d\n", "", session.ProcessData(1u << 2, nullptr, 0));
    // Module parameters: a few read back, a custom one written and read.
    for (const char* name : {"Description", "ModuleName", "ModuleDataPath", "ParserItemsCount", "INIFile"}) {
      auto r = session.Command("GET-MODULE-PARAMETER", {{"PARAM", host::Text(name)}});
      Print("GET-MODULE-PARAMETER %s", name, 0);
      Print(" -> \"%s\" %d\n", r.result.ToText(), r.code);
    }
    auto set = session.Command("SET-MODULE-PARAMETER",
                               {{"PARAM", host::Text("Custom_Host")}, {"VALUE", host::Text("bachost")}});
    Print("SET-MODULE-PARAMETER Custom_Host -> %s%d\n", set.result.ToText() + " ", set.code);
    auto custom = session.Command("GET-MODULE-PARAMETER", {{"PARAM", host::Text("CustomHost")}});
    Print("GET-MODULE-PARAMETER CustomHost -> \"%s\" %d\n", custom.result.ToText(), custom.code);
    // The options go to the INI file and come back from it.
    auto save = session.Command("SAVE-SETTINGS-NOW", {{"INI-FILE", host::Text(ini)}});
    Print("SAVE-SETTINGS-NOW -> %s%d\n", "", save.code);
    std::string saved;
    if (port::ReadFile(ini, &saved)) Print("settings in %s:\n", ini, 0), Print("%s", saved, 0);
    auto reload = session.Command("LOAD-SETTINGS-NOW", {{"INI-FILE", host::Text(ini)}, {"NO-SAVE", host::Int(1)}});
    Print("LOAD-SETTINGS-NOW -> %s%d\n", "", reload.code);
    auto unload = session.Command("UNLOAD", {{"INI-FILE", host::Text(ini)}});
    Print("UNLOAD -> %s%d\n", "", unload.code);
    notify.Stop();
    PrintLog(session.DrainLog());
    std::printf("FreePluginInstance -> %d\n", session.Free());
    if (load.code != 0 || unload.code != 0 || state.code != 0) rc = 1;
  }
  host::SetSendDataSink(nullptr);
  lib.Unload();
  std::printf("unloaded\n");
  return rc;
}

}  // namespace host
