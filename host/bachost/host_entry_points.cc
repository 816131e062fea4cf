#include "host_entry_points.h"

#include <mutex>

namespace host {

namespace {
std::mutex g_sinkLock;
SendDataSink g_sink;
}  // namespace

void SetSendDataSink(SendDataSink sink) {
  std::lock_guard<std::mutex> g(g_sinkLock);
  g_sink = std::move(sink);
}

void LinkEntryPoints() {
  volatile void* keep[] = {reinterpret_cast<void*>(&DataLogger_SendDataEx),
                           reinterpret_cast<void*>(&DataLogger_SendNotify),
                           reinterpret_cast<void*>(&DataLogger_DataSourceData),
                           reinterpret_cast<void*>(&DataLogger_DataSourceState),
                           reinterpret_cast<void*>(&DataLogger_ManageDynForm)};
  (void)keep;
}

}  // namespace host

extern "C" {

int32_t KEL_STDCALL DataLogger_SendDataEx(int32_t moduleIndex, int32_t dataSourceId, int32_t, int32_t,
                                          int32_t kind, void* data, int32_t count) {
  host::SendDataSink sink;
  {
    std::lock_guard<std::mutex> g(host::g_sinkLock);
    sink = host::g_sink;
  }
  return sink ? sink(moduleIndex, dataSourceId, kind, data, count) : -1;
}

// The module looks these up but never calls them.
int32_t KEL_STDCALL DataLogger_SendNotify(int32_t, int32_t, int32_t) { return 0; }
int32_t KEL_STDCALL DataLogger_DataSourceData(int32_t, int32_t, void*, int32_t) { return 0; }
int32_t KEL_STDCALL DataLogger_DataSourceState(int32_t, int32_t) { return 0; }
int32_t KEL_STDCALL DataLogger_ManageDynForm(int32_t, void*) { return 0; }
}
