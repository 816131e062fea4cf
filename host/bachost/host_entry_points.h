// The five entry points a host exports for the module, and where the host
// program receives what the module hands it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "bacnetip/plugin_abi.h"

namespace host {

// kind 9: a record built by the module (Output holds its parameter list);
// kind 129: bytes to send through a data source.
using SendDataSink = std::function<int32_t(int32_t moduleIndex, int32_t dataSourceId, int32_t kind,
                                           void* data, int32_t count)>;
void SetSendDataSink(SendDataSink sink);
// Keeps the entry points linked into the program (call once at start-up).
void LinkEntryPoints();

}  // namespace host

// The program exports them by name: from the executable's export table on
// Windows, from its dynamic symbols elsewhere (linked with ENABLE_EXPORTS).
#if defined(_WIN32)
#define BACHOST_EXPORT __declspec(dllexport)
#else
#define BACHOST_EXPORT KEL_EXPORT
#endif

extern "C" {
BACHOST_EXPORT int32_t KEL_STDCALL DataLogger_SendDataEx(int32_t moduleIndex, int32_t dataSourceId, int32_t r1,
                                                     int32_t r2, int32_t kind, void* data, int32_t count);
BACHOST_EXPORT int32_t KEL_STDCALL DataLogger_SendNotify(int32_t, int32_t, int32_t);
BACHOST_EXPORT int32_t KEL_STDCALL DataLogger_DataSourceData(int32_t, int32_t, void*, int32_t);
BACHOST_EXPORT int32_t KEL_STDCALL DataLogger_DataSourceState(int32_t, int32_t);
BACHOST_EXPORT int32_t KEL_STDCALL DataLogger_ManageDynForm(int32_t, void*);
}
