// Loading the plug-in library and finding its exports, as a host does.
#pragma once

#include <string>

#include "bacnetip/plugin_abi.h"

namespace host {

struct PluginExports {
  kel_CreatePluginInstance CreatePluginInstance = nullptr;
  kel_FreePluginInstance FreePluginInstance = nullptr;
  kel_GetModuleInfo GetModuleInfo = nullptr;
  kel_GetLogEx GetLogEx = nullptr;
  kel_GetOptionsDialog GetOptionsDialog = nullptr;
  kel_ShowOptionsDialog ShowOptionsDialog = nullptr;
  kel_ExecutePluginCommand ExecutePluginCommand = nullptr;
  kel_ProcessData ProcessData = nullptr;
};

class PluginLibrary {
 public:
  PluginLibrary() = default;
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Loads the library and resolves all eight exports; false with a message
  // when the file cannot be loaded or an export is missing.
  bool Load(const std::string& path, std::string* error);
  // Sends the shutdown code and unloads.
  void Unload();
  const PluginExports& Exports() const { return exports_; }
  bool Loaded() const { return handle_ != nullptr; }

 private:
  void* handle_ = nullptr;
  PluginExports exports_;
};

// A call record with the size of this build and zeros elsewhere.
TPluginCallRec NewCallRec();

}  // namespace host
