// bachost: the reference host.  It loads the plug-in library through its
// exports, as a data-logging host does, and drives one instance.
#include <cstdio>
#include <cstring>
#include <string>

#include "host_entry_points.h"
#include "host_session.h"
#include "platform/port.h"
#include "plugin_library.h"

namespace {

std::string DefaultPluginPath() {
  // bacnetip.so beside this program.
  std::string self = port::ModuleFileName();
  size_t cut = self.find_last_of('/');
  return (cut == std::string::npos ? std::string(".") : self.substr(0, cut)) + "/bacnetip.so";
}

void Usage() {
  std::puts(
      "usage: bachost [--plugin PATH]\n"
      "  Loads the plug-in, prints its module information and runs one\n"
      "  instance through LOAD and UNLOAD.");
}

void PrintLog(const std::string& text) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 2;
    if (line.empty()) continue;
    int level = (static_cast<unsigned char>(line[0]) & 0x7F) - 1;
    std::printf("log[%d] %s\n", level, line.c_str() + 1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string plugin = DefaultPluginPath();
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--plugin" && i + 1 < argc) plugin = argv[++i];
    else if (a == "--help" || a == "-h") {
      Usage();
      return 0;
    } else {
      std::fprintf(stderr, "bachost: unknown argument '%s'\n", a.c_str());
      Usage();
      return 2;
    }
  }
  host::LinkEntryPoints();
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
    auto load = session.Command("LOAD", {{"APPLICATION-NAME", host::Text("bachost")}});
    std::printf("LOAD -> %d\n", load.code);
    auto events = session.Command("EVENTS-SUPPORT");
    std::printf("EVENTS-SUPPORT -> %d \"%s\"\n", events.code, events.result.ToText().c_str());
    auto unload = session.Command("UNLOAD");
    std::printf("UNLOAD -> %d\n", unload.code);
    PrintLog(session.DrainLog());
    std::printf("FreePluginInstance -> %d\n", session.Free());
    if (load.code != 0 || unload.code != 0) rc = 1;
  }
  lib.Unload();
  std::printf("unloaded\n");
  return rc;
}
