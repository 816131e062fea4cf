#include "options_run.h"

#include <cstdio>
#include <iostream>
#include <thread>

#include "host_entry_points.h"
#include "host_session.h"
#include "notify_pipe.h"
#include "options_client.h"
#include "platform/port.h"
#include "plugin_library.h"

namespace host {

namespace {

constexpr const char* kRegistryPath = "\\Software\\bachost\\Reference host";

CommandResult Load(HostSession& s, const std::string& ini, const std::string& language, int64_t notifyFd) {
  const auto self = reinterpret_cast<int64_t>(port::LoadedLib(""));
  std::vector<std::pair<std::string, HostValue>> params = {{"APPLICATION-NAME", Text("bachost")},
                                                           {"HANDLE", Int64(self)},
                                                           {"REGISTRY-PATH", Text(kRegistryPath)},
                                                           {"INI-FILE", Text(ini)},
                                                           {"LANGUAGE", Text(language)}};
  if (notifyFd >= 0) params.push_back({"MSG-PROC-HANDLE", Int64(notifyFd)});
  return s.Command("LOAD", params, 1);
}

}  // namespace

int RunOptions(const std::string& plugin, const std::string& ini, const std::string& language, bool show) {
  PluginLibrary lib;
  std::string error;
  if (!lib.Load(plugin, &error)) {
    std::fprintf(stderr, "bachost: cannot load %s: %s\n", plugin.c_str(), error.c_str());
    return 1;
  }
  int rc = 0;
  {
    HostSession session(lib.Exports());
    if (session.Create() != 0) {
      std::fprintf(stderr, "bachost: CreatePluginInstance failed\n");
      return 1;
    }
    if (!show) {
      rc = PrintOptions(lib.Exports(), session.Handle(), std::cout);
    } else {
      // A second instance with the same settings, loaded on a thread of its
      // own, hears of the change through message 1812; the first one, shown
      // the options on the thread that loaded it, reloads at once.
      SettingsChangedLog changed;
      NotifyPipe notify;
      notify.Start([&](uint32_t m, uint32_t w, uint32_t l) { changed.OnMessage(m, w, l); });
      HostSession other(lib.Exports());
      int32_t otherLoad = -1;
      std::thread([&] {
        if (other.Create() == 0) otherLoad = Load(other, ini, language, notify.WriteEnd()).code;
      }).join();
      if (Load(session, ini, language, -1).code != 0 || otherLoad != 0) {
        std::fprintf(stderr, "bachost: LOAD failed\n");
        rc = 1;
      } else {
        const int64_t status =
            ShowOptions(lib.Exports(), session.Handle(), &changed, 1, std::chrono::seconds(5), std::cout);
        rc = status == 1 ? 0 : 1;
      }
      session.Command("UNLOAD", {{"INI-FILE", Text(ini)}});
      other.Command("UNLOAD", {{"INI-FILE", Text(ini)}});
      notify.Stop();
    }
  }
  lib.Unload();
  return rc;
}

}  // namespace host
