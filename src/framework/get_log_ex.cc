// GetLogEx: the host drains the instance log into its buffer.
#include <exception>

#include "framework/exports_impl.h"
#include "framework/kel_plugin.h"
#include "platform/port.h"

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
    // A buffer whose first or last byte cannot be read is no buffer: the
    // log stays and only its length is reported.
    auto* buffer = reinterpret_cast<uint8_t*>(rec->Input.Value);
    const uint32_t capacity = rec->Input.Size;
    uint8_t probe;
    if (buffer && capacity > 0 &&
        (reinterpret_cast<uintptr_t>(buffer) + (capacity - 1) < reinterpret_cast<uintptr_t>(buffer) ||
         !port::SafeRead(buffer, &probe, 1) || !port::SafeRead(buffer + (capacity - 1), &probe, 1)))
      buffer = nullptr;
    result = inst->Log->Drain(buffer, capacity, &length);
    rec->Output.Value = length;
  } catch (...) {
  }
  return result;
}

}  // namespace kel
