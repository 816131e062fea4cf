#include "framework/command_dispatcher.h"

#include "framework/builtin_commands.h"
#include "framework/kel_plugin.h"
#include "framework/module_settings.h"

namespace kel {

namespace {

// CommandLock and CommandDepth for the length of one command.
class SCOPED_CAPABILITY CommandScope {
 public:
  explicit CommandScope(TkelPlugin& p) ACQUIRE(p.CommandLock) : p_(p) {
    p_.CommandLock.Enter();
    nested_ = p_.CommandDepth.fetch_add(1) + 1 != 1;
  }
  ~CommandScope() RELEASE() {
    p_.CommandDepth.fetch_sub(1);
    p_.CommandLock.Leave();
  }
  CommandScope(const CommandScope&) = delete;
  CommandScope& operator=(const CommandScope&) = delete;
  bool Nested() const { return nested_; }

 private:
  TkelPlugin& p_;
  bool nested_ = false;
};

}  // namespace

int32_t Dispatch(TkelPlugin& plugin, const std::string& command, TPluginCallRec* rec, const ParamsRef& list) {
  CommandScope scope(plugin);
  // "Nested plugin commands are not allowed": the outer command goes on.
  if (scope.Nested()) return -3;
  CommandParams params(list);
  if (command == "LOAD") {
    if (auto lang = params.Get("LANGUAGE")) SwitchLanguage(plugin, lang->ToAnsi());
  }
  if (auto h = params.Get("MSG-PROC-HANDLE")) plugin.MsgProcHandle = static_cast<uintptr_t>(h->ToInt64());
  if (auto h = params.Get("OWNER-FORM")) plugin.OwnerForm = static_cast<uintptr_t>(h->ToInt64());
  if (TBuiltinCommand builtin = FindBuiltinCommand(command)) return builtin(plugin, rec, params);
  int32_t result = -2;
  if (plugin.OnCustomCommand) plugin.OnCustomCommand(plugin, command, rec, result);
  return result;
}

}  // namespace kel
