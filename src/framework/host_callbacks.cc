#include "framework/host_callbacks.h"

#include "platform/port.h"

namespace kel {

void THostEntryPoints::Resolve(uintptr_t handle) {
  auto lib = reinterpret_cast<port::LibHandle>(handle);
  SendNotify = port::LibSymbol(lib, "DataLogger_SendNotify");
  SendDataEx = reinterpret_cast<kel_DataLogger_SendDataEx>(port::LibSymbol(lib, "DataLogger_SendDataEx"));
  DataSourceData = port::LibSymbol(lib, "DataLogger_DataSourceData");
  DataSourceState = port::LibSymbol(lib, "DataLogger_DataSourceState");
  ManageDynForm = port::LibSymbol(lib, "DataLogger_ManageDynForm");
}

uintptr_t HostModuleHandle(uintptr_t given, const std::string& name) {
  if (given != 0 || name.empty()) return given;
  return reinterpret_cast<uintptr_t>(port::LoadedLib(name));
}

}  // namespace kel
