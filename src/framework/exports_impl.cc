#include "framework/exports_impl.h"

#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "framework/call_rec.h"
#include "framework/diagnostics.h"
#include "framework/instance_registry.h"
#include "framework/kel_plugin.h"
#include "platform/port.h"

namespace kel {

// How long FreePluginInstance waits for a tick to let go of the instance it
// frees.
constexpr uint32_t kFreeWaitMs = 5000;

// The instance a record names.  The caller has made sure the record can be
// read (RecordReadable).
std::shared_ptr<TkelPlugin> ResolveRecord(const TPluginCallRec* rec, uint32_t* handle) {
  if (!rec) return nullptr;
  const uint32_t h = rec->Instance;
  if (handle) *handle = h;
  return ResolveHandle(h);
}

bool RecordReadable(const TPluginCallRec* rec) {
  return rec && port::CanRead(rec, sizeof(TPluginCallRec));
}

void ReportError(TkelPlugin* plugin, const char* command, const char* message) {
  std::string line;
  if (command && *command) line = std::string("{") + command + "} ";
  line += message ? message : "";
  if (plugin) {
    try {
      plugin->AddLog(kLogError, line, false);
    } catch (...) {
    }
  }
  try {
    // An installed report handler gets the stack with the line.
    if (DiagnosticsHandlerInstalled()) DiagnosticsReport(plugin, line);
    // The debugger line: the stack, ": " and the line.  Without a handler
    // this is also where the diagnostics report ends.
    const std::string stack = port::DebugOutputEnabled() ? DiagnosticsText() : std::string();
    port::DebugOutput(stack + ": " + line);
  } catch (...) {
  }
}

int32_t DoCreatePluginInstance(TPluginCallRec* rec) {
  if (!RecordReadable(rec) || rec->Instance != 0) return -1;
  TPluginCallRecIntft book;
  try {
    PrepareCallRec(rec, book);
    if (!FrameworkAlive()) {
      RestoreCallRec(rec, book);
      return -1;
    }
    uint32_t handle = CreateAndRegister(rec);
    RestoreCallRec(rec, book);
    return handle ? 0 : -1;
  } catch (const std::exception& e) {
    // A failure while the instance is made (its creation handler, say) is
    // reported and gives -1; nothing is registered.
    RestoreCallRec(rec, book);
    ReportError(nullptr, "CREATE", e.what());
    return -1;
  } catch (...) {
    RestoreCallRec(rec, book);
    ReportError(nullptr, "CREATE", "unknown failure");
    return -1;
  }
}

int32_t DoFreePluginInstance(TPluginCallRec* rec) {
  if (!RecordReadable(rec)) return -1;
  if (rec->Input.Kind == KEL_KIND_CONTROL && static_cast<uint32_t>(rec->Input.Value) == KEL_SHUTDOWN_CODE) {
    RunShutdownProcs();
    return 0;
  }
  if (rec->Instance == 0 || !FrameworkAlive()) return -1;
  std::shared_ptr<TkelPlugin> inst = Unregister(rec->Instance);
  if (!inst) return -1;
  int32_t result = 0;
  try {
    inst->Destroying();
  } catch (...) {
    result = -3;
  }
  // Freed here unless a call or a tick on another thread still holds it.
  // The host knows its own calls, not the module's ticks (a tick keeps its
  // instance until it returns), and may unload the library as soon as this
  // returns: a tick holding the instance is waited for, a while at most,
  // except from within a tick, which may itself be the holder.
  std::weak_ptr<TkelPlugin> left = inst;
  inst.reset();
  if (!port::InTimerTick())
    for (uint32_t waited = 0; !left.expired() && InstanceHolds() > 0 && waited < kFreeWaitMs; ++waited)
      port::SleepMs(1);
  return result;
}

bool DoGetModuleInfo(TPluginCallRec* rec, TPluginModuleInfo* info, uint32_t* needed) {
  if (needed) *needed = 0;
  try {
    if (!RecordReadable(rec)) return false;
    auto inst = ResolveRecord(rec);
    if (!inst) return false;
    std::string d, c;
    {
      ReadGuard texts(inst->SettingsLock);
      d = port::AnsiToUtf8(inst->Description);
      c = port::AnsiToUtf8(inst->CustomCommandsText());
    }
    const uint32_t header = sizeof(TPluginModuleInfo);
    uint32_t need = header + static_cast<uint32_t>(d.size() + c.size());
    if (needed) *needed = need;
    if (!info || info->Size < header) return false;
    uint32_t capacity = info->Size;
    std::memset(info, 0, header);
    info->Size = capacity;
    info->ModuleType = static_cast<uint32_t>(inst->ModuleType) | (static_cast<uint32_t>(inst->ModuleOptions & 7) << 16);
    info->FrameworkVersion = 4;
    info->ModuleVersion = inst->ModuleVersion;
    info->ModuleInfoFlag = inst->ModuleInfoFlag;
    if (need > capacity) return false;
    auto* base = reinterpret_cast<uint8_t*>(info);
    uint32_t at = header;
    if (!d.empty()) {
      std::memcpy(base + at, d.data(), d.size());
      info->DescriptionLength = static_cast<uint32_t>(d.size());
      info->Description = reinterpret_cast<uintptr_t>(base + at);
      at += static_cast<uint32_t>(d.size());
    }
    if (!c.empty()) {
      std::memcpy(base + at, c.data(), c.size());
      info->CommandsLength = static_cast<uint32_t>(c.size());
      info->Commands = reinterpret_cast<uintptr_t>(base + at);
    }
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace kel
