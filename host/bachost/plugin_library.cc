#include "plugin_library.h"

#include <cstring>

#include "platform/port.h"

namespace host {

PluginLibrary::~PluginLibrary() { Unload(); }

template <class F>
static bool Resolve(void* lib, const char* name, F* out, std::string* error) {
  *out = reinterpret_cast<F>(port::LibSymbol(lib, name));
  if (!*out && error) *error = std::string("export missing: ") + name;
  return *out != nullptr;
}

bool PluginLibrary::Load(const std::string& path, std::string* error) {
  Unload();
  handle_ = port::LoadLib(path, error);
  if (!handle_) return false;
  bool ok = Resolve(handle_, "CreatePluginInstance", &exports_.CreatePluginInstance, error) &&
            Resolve(handle_, "FreePluginInstance", &exports_.FreePluginInstance, error) &&
            Resolve(handle_, "GetModuleInfo", &exports_.GetModuleInfo, error) &&
            Resolve(handle_, "GetLogEx", &exports_.GetLogEx, error) &&
            Resolve(handle_, "GetOptionsDialog", &exports_.GetOptionsDialog, error) &&
            Resolve(handle_, "ShowOptionsDialog", &exports_.ShowOptionsDialog, error) &&
            Resolve(handle_, "ExecutePluginCommand", &exports_.ExecutePluginCommand, error) &&
            Resolve(handle_, "ProcessData", &exports_.ProcessData, error);
  if (!ok) {
    port::FreeLib(handle_);
    handle_ = nullptr;
    exports_ = PluginExports{};
  }
  return ok;
}

void PluginLibrary::Unload() {
  if (!handle_) return;
  if (exports_.FreePluginInstance) {
    TPluginCallRec rec = NewCallRec();
    rec.Input.Kind = KEL_KIND_CONTROL;
    rec.Input.Value = KEL_SHUTDOWN_CODE;
    exports_.FreePluginInstance(&rec);
  }
  port::FreeLib(handle_);
  handle_ = nullptr;
  exports_ = PluginExports{};
}

TPluginCallRec NewCallRec() {
  TPluginCallRec rec;
  std::memset(&rec, 0, sizeof rec);
  rec.Size = sizeof rec;
  return rec;
}

}  // namespace host
