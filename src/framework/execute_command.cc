// ExecutePluginCommand: a command in the call's parameter list, run by the
// instance's dispatcher.
#include <exception>
#include <string>

#include "framework/call_rec.h"
#include "framework/command_dispatcher.h"
#include "framework/command_params.h"
#include "framework/exports_impl.h"
#include "framework/kel_plugin.h"

namespace kel {

int32_t DoExecutePluginCommand(TPluginCallRec* rec) {
  if (!RecordReadable(rec) || rec->Size != KEL_CALLREC_SIZE || rec->Params == nullptr) return -1;
  uint32_t handle = 0;
  std::shared_ptr<TkelPlugin> inst = ResolveRecord(rec, &handle);
  if (handle == 0) return -4;
  if (!inst) return -1;
  TPluginCallRecIntft book;
  std::string command = "CMD?";
  int32_t result = -1;
  try {
    if (!PrepareCallRec(rec, book)) {
      RestoreCallRec(rec, book);
      return -1;
    }
    ParamsRef params = book.ParamsIntf;
    Variant temp = params.GetValue("TEMPORARY-LOAD");
    if (!IsAbsentValue(temp)) inst->IsTemporaryLoad = temp.ToBool();
    Variant cmd = params.GetValue("COMMAND");
    if (IsAbsentValue(cmd)) {
      RestoreCallRec(rec, book);
      return -1;
    }
    command = cmd.ToAnsi();
    result = Dispatch(*inst, command, rec, params);
    RestoreCallRec(rec, book);
  } catch (const std::exception& e) {
    RestoreCallRec(rec, book);
    ReportError(inst.get(), command.c_str(), e.what());
    result = -3;
  } catch (...) {
    RestoreCallRec(rec, book);
    ReportError(inst.get(), command.c_str(), "unknown failure");
    result = -3;
  }
  return result;
}

}  // namespace kel
