#include "framework/dispatcher.h"

#include "framework/kel_plugin.h"
#include "runtime/errors.h"

namespace kel {

namespace {

class CommandScope {
 public:
  explicit CommandScope(TkelPlugin& p) : p_(p) {
    p_.CommandLock.Enter();
    if (++p_.CommandDepth != 1) {
      --p_.CommandDepth;
      p_.CommandLock.Leave();
      throw EAssertion("Nested plugin commands are not allowed");
    }
  }
  ~CommandScope() {
    --p_.CommandDepth;
    p_.CommandLock.Leave();
  }
  CommandScope(const CommandScope&) = delete;
  CommandScope& operator=(const CommandScope&) = delete;

 private:
  TkelPlugin& p_;
};

int32_t Load(TkelPlugin& p, TPluginCallRec* rec) {
  p.ModuleIndex = rec->ModuleIndex;
  if (++p.ModuleLoadCount == 1) {
    int32_t r = 0;
    if (p.OnLoad) p.OnLoad(p, rec, r);
  }
  return 0;
}

int32_t Unload(TkelPlugin& p, TPluginCallRec* rec) {
  if (p.ModuleLoadCount > 0 && --p.ModuleLoadCount == 0) {
    p.TerminateNow = true;
    int32_t r = 0;
    if (p.OnUnload) p.OnUnload(p, rec, r);
  }
  return 0;
}

}  // namespace

int32_t Dispatch(TkelPlugin& plugin, const std::string& command, TPluginCallRec* rec, ParamsRef& params) {
  CommandScope scope(plugin);
  Variant msgProc = params.GetValue("MSG-PROC-HANDLE");
  if (!msgProc.IsEmptyOrNull()) plugin.MsgProcHandle = static_cast<uintptr_t>(msgProc.ToInt64());
  if (command == "LOAD") return Load(plugin, rec);
  if (command == "UNLOAD") return Unload(plugin, rec);
  if (command == "EVENTS-SUPPORT") {
    params.SetValue("RESULT", Variant(plugin.EventsSupported), false);
    return 0;
  }
  int32_t result = -2;
  if (plugin.OnCustomCommand) plugin.OnCustomCommand(plugin, command, rec, result);
  return result;
}

int32_t ProcessDataCall(TkelPlugin& plugin, TPluginCallRec* rec) {
  int32_t result = 0;
  plugin.ProcessBusy = true;
  try {
    if (plugin.OnProcessData) plugin.OnProcessData(plugin, rec, result);
  } catch (...) {
    plugin.ProcessBusy = false;
    throw;
  }
  plugin.ProcessBusy = false;
  return result;
}

}  // namespace kel
