// GetLogEx: the host drains the instance log into its buffer.
#include <exception>

#include "framework/exports_impl.h"
#include "framework/kel_plugin.h"

namespace kel {

int32_t DoGetLogEx(TPluginCallRec* rec) {
  int32_t result = 0;
  try {
    if (!RecordReadable(rec)) return 0;
    rec->Output.Value = 0;
    rec->Output.Kind = KEL_KIND_STATUS;
    auto inst = ResolveRecord(rec);
    if (!inst || !inst->Log) return 0;
    uint32_t length = 0;
    result = inst->Log->Drain(reinterpret_cast<void*>(rec->Input.Value), rec->Input.Size, &length);
    rec->Output.Value = length;
  } catch (...) {
  }
  return result;
}

}  // namespace kel
