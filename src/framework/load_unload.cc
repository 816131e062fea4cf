// LOAD and UNLOAD: the first LOAD starts an instance's work, the matching
// last UNLOAD ends it; the ones between only count.
#include "framework/builtin_commands.h"
#include "framework/kel_plugin.h"

namespace kel {

int32_t CmdLoad(TkelPlugin& p, TPluginCallRec* rec, const CommandParams& params) {
  if (p.ModuleLoadCount.fetch_add(1) + 1 > 1) return 0;
  p.LoadThreadId = port::CurrentThreadId();
  p.OptionsDialogOpen = false;
  p.ModuleIndex = rec->ModuleIndex;
  p.ModuleRegistryPath = params.Text("REGISTRY-PATH");
  p.INISectionPrefix = params.Text("INI-SECTION-PREFIX");
  if (auto h = params.Get("HANDLE")) p.ParentApp = static_cast<uintptr_t>(h->ToInt64());
  p.ApplicationFullName = params.Text("APPLICATION-NAME");
  p.ParentApp = HostModuleHandle(p.ParentApp, p.ApplicationFullName);
  p.ModuleLoadForConfig = 0;
  if (p.ModuleOptions & (1u << 2)) {
    if (auto id = params.Get("CONFIG-ID")) p.ModuleLoadForConfig = id->ToInt32();
  }
  p.INIFile = params.Text("INI-FILE");
  if (p.ParentApp != 0) p.Host.Resolve(p.ParentApp);
  p.TerminateNow = false;
  if (p.Log && p.Log->Count() > 0) p.NotifyLogChanged();
  if (p.OnLoad) {
    int32_t result = 0;
    p.OnLoad(p, rec, result);
  }
  return 0;
}

int32_t CmdUnload(TkelPlugin& p, TPluginCallRec* rec, const CommandParams& params) {
  const int32_t left = p.ModuleLoadCount.fetch_sub(1) - 1;
  if (left < 0) {
    p.ModuleLoadCount = 0;
    return 0;
  }
  if (left > 0) return 0;
  p.TerminateNow = true;
  for (auto& enabled : p.TypeEnabled) enabled = false;
  std::string ini = params.Text("INI-FILE");
  if (ini != p.INIFile) {
    p.INIFile = std::move(ini);
    if (p.OnSaveSettingsNow) {
      try {
        p.OnSaveSettingsNow(p);
      } catch (...) {
      }
    }
  }
  if (p.OnUnload) {
    try {
      int32_t result = 0;
      p.OnUnload(p, rec, result);
    } catch (...) {
    }
  }
  p.OptionsDialogOpen = false;
  p.ParentApp = 0;
  p.MsgProcHandle = 0;
  return 0;
}

}  // namespace kel
