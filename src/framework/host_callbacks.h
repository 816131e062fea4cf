// The host's entry points, looked up by name at LOAD.  Only
// DataLogger_SendDataEx is ever called; it may be called from any thread,
// so it is kept atomically.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "bacnetip/plugin_abi.h"

namespace kel {

struct THostEntryPoints {
  std::atomic<void*> SendNotify{nullptr};
  std::atomic<kel_DataLogger_SendDataEx> SendDataEx{nullptr};
  std::atomic<void*> DataSourceData{nullptr};
  std::atomic<void*> DataSourceState{nullptr};
  std::atomic<void*> ManageDynForm{nullptr};

  // Looks the five names up in the module of handle (a missing one stays null).
  void Resolve(uintptr_t handle);
};

// The host module: the handle given, or else the loaded module named name
// (the main program on POSIX when there is no such library).
uintptr_t HostModuleHandle(uintptr_t given, const std::string& name);

}  // namespace kel
