// The library's entry unit: the eight exports and library start-up and
// shut-down.  Nothing here may let an exception escape.
#include "bacnetip/plugin_abi.h"
#include "framework/exports_impl.h"
#include "framework/instance_registry.h"
#include "module/ta_plugin.h"

namespace {

struct LibraryLifetime {
  LibraryLifetime() {
    try {
      kel::InitializeFramework();
      bacnet_module::RegisterModuleClass();
    } catch (...) {
    }
  }
  ~LibraryLifetime() {
    try {
      kel::FinalizeFramework();
    } catch (...) {
    }
  }
};

LibraryLifetime g_lifetime;

}  // namespace

extern "C" {

KEL_EXPORT int32_t KEL_STDCALL CreatePluginInstance(TPluginCallRec* rec) {
  try {
    return kel::DoCreatePluginInstance(rec);
  } catch (...) {
    return -1;
  }
}

KEL_EXPORT int32_t KEL_STDCALL FreePluginInstance(TPluginCallRec* rec) {
  try {
    return kel::DoFreePluginInstance(rec);
  } catch (...) {
    return -3;
  }
}

KEL_EXPORT uint8_t KEL_STDCALL GetModuleInfo(TPluginCallRec* rec, TPluginModuleInfo* info, uint32_t* needed) {
  try {
    return kel::DoGetModuleInfo(rec, info, needed) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KEL_EXPORT int32_t KEL_STDCALL GetLogEx(TPluginCallRec* rec) {
  try {
    return kel::DoGetLogEx(rec);
  } catch (...) {
    return 0;
  }
}

KEL_EXPORT void KEL_STDCALL GetOptionsDialog(TPluginCallRec* rec) {
  try {
    kel::DoGetOptionsDialog(rec);
  } catch (...) {
  }
}

KEL_EXPORT void KEL_STDCALL ShowOptionsDialog(TPluginCallRec* rec) {
  try {
    kel::DoShowOptionsDialog(rec);
  } catch (...) {
  }
}

KEL_EXPORT int32_t KEL_STDCALL ExecutePluginCommand(TPluginCallRec* rec) {
  try {
    return kel::DoExecutePluginCommand(rec);
  } catch (...) {
    return -3;
  }
}

KEL_EXPORT int32_t KEL_STDCALL ProcessData(TPluginCallRec* rec) {
  try {
    return kel::DoProcessData(rec);
  } catch (...) {
    return -3;
  }
}

}  // extern "C"
