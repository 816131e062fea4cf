#include "framework/process_data.h"

#include <cstring>
#include <exception>
#include <memory>

#include "framework/call_rec.h"
#include "framework/delivery.h"
#include "framework/exports_impl.h"
#include "framework/instance_registry.h"
#include "framework/kel_plugin.h"
#include "runtime/messages.h"

namespace kel {

namespace {

constexpr uint32_t kTerminateWaitMs = 30000;
constexpr uint32_t kPumpIntervalMs = 50;

// What the framework does for some of the module types a call names.
// Without this type, an input list without items counts as no input.
constexpr size_t kTypeEmptyInputCounts = 0;
// No input: MsgNoData, and the handler is not called; else the input rows
// are closed.  The handler's outcome is logged.
constexpr size_t kTypeNeedsInput = 2;
// The handler's outcome is logged.
constexpr size_t kTypeReportsOutcome = 3;
// Without a handler, the input is handed back as the output.
constexpr size_t kTypePassesInput = 5;

// Undoes PrepareCallRec on every way out.
class PreparedRecord {
 public:
  explicit PreparedRecord(TPluginCallRec* rec) : rec_(rec), running_(book_) { PrepareCallRec(rec_, book_, true); }
  ~PreparedRecord() { RestoreCallRec(rec_, book_); }
  PreparedRecord(const PreparedRecord&) = delete;
  PreparedRecord& operator=(const PreparedRecord&) = delete;

 private:
  TPluginCallRec* rec_;
  TPluginCallRecIntft book_;
  TRunningCall running_;
};

// Closes the row of an input list: a row marker after its last item.
void CloseInputRows(const TPluginValue& input) {
  ParamsRef list = DescriptorParams(input);
  if (!list) return;
  const int32_t n = list.Count();
  if (n > 0 && !list.ItemIsNewRow(n - 1)) list.AddNewRow();
}

void LogIfSet(TkelPlugin& p, uint8_t level, const std::string& message) {
  if (!message.empty()) p.AddLog(level, message);
}

}  // namespace

void TkelPlugin::EnterProcessing() {
  port::Guard g(processLock_);
  processBusy_.fetch_add(1);
}

void TkelPlugin::LeaveProcessing() {
  port::Guard g(processLock_);
  processBusy_.fetch_sub(1);
  processIdle_.SignalAll();
}

void TkelPlugin::WaitWhileTerminatingBusy(uint32_t timeoutMs) {
  const uint64_t deadline = port::TickCount64() + timeoutMs;
  struct Waiting {
    std::atomic<int32_t>& n;
    explicit Waiting(std::atomic<int32_t>& c) : n(c) { ++n; }
    ~Waiting() { --n; }
  };
  std::unique_ptr<Waiting> waiting;
  while (true) {
    {
      port::Guard g(processLock_);
      if (processBusy_.load() == 0 || !TerminateNow) return;
      const uint64_t now = port::TickCount64();
      if (now >= deadline) return;
      if (!waiting) waiting = std::make_unique<Waiting>(processWaiters_);
      const uint64_t left = deadline - now;
      processIdle_.WaitFor(static_cast<uint32_t>(left < kPumpIntervalMs ? left : kPumpIntervalMs));
      if (processBusy_.load() == 0 || !TerminateNow) return;
    }
    ProcessMessages();  // window messages of this thread (none on POSIX)
  }
}

int32_t ProcessDataCall(TkelPlugin& plugin, TPluginCallRec* rec) {
  // The processing reads the instance's texts and settings: a language
  // switch or a settings change waits for it (and it for them).
  ReadGuard settings(plugin.SettingsLock);
  int32_t result = 0;
  PreparedRecord prepared(rec);
  DeliveryScope scope;
  const uintptr_t remembered = rec->Input.Value;
  const uint8_t types = rec->CallTypes;
  if (types != 0) {
    if (!HasModuleType(types, kTypeEmptyInputCounts) && rec->Input.Value != 0) {
      const uint8_t kind = rec->Input.Kind;
      if (kind == KEL_KIND_OBJECT || kind == KEL_KIND_RAW_LIST || kind == KEL_KIND_LIST_INTF) {
        ParamsRef input = DescriptorParams(rec->Input);
        if (input && input.Count() == 0) rec->Input.Value = 0;
      }
    }
    bool skip = false;
    if (HasModuleType(types, kTypeNeedsInput)) {
      if (rec->Input.Value == 0) {
        LogIfSet(plugin, kLogWarning, plugin.MsgNoData);
        skip = true;
      } else {
        CloseInputRows(rec->Input);
      }
    }
    if (!skip) {
      if (plugin.OnProcessData) {
        try {
          plugin.OnProcessData(plugin, rec, result);
          if (result > 0 && rec->Input.Value == 0) result = 0;
          if (HasModuleType(types, kTypeNeedsInput) || HasModuleType(types, kTypeReportsOutcome)) {
            if (result < 0) LogIfSet(plugin, kLogWarning, plugin.MsgWriteCompleteError);
            else LogIfSet(plugin, kLogInfo, plugin.MsgWriteComplete);
          }
        } catch (const std::exception& e) {
          result = -3;
          if (!plugin.MsgWriteCompleteError.empty())
            plugin.AddLog(kLogWarning, std::string(e.what()) + ": " + plugin.MsgWriteCompleteError);
        } catch (...) {
          result = -3;
          if (!plugin.MsgWriteCompleteError.empty())
            plugin.AddLog(kLogWarning, "Unknown failure: " + plugin.MsgWriteCompleteError);
        }
      } else if (HasModuleType(types, kTypePassesInput)) {
        std::memcpy(&rec->Output, &rec->Input, sizeof(TPluginValue));
      }
    }
  }
  if (rec->Input.Value == remembered) rec->Input.Value = 0;
  return result;
}

int32_t DoProcessData(TPluginCallRec* rec) {
  if (!RecordReadable(rec) || rec->Size != KEL_CALLREC_SIZE || rec->Params == nullptr) return -1;
  std::shared_ptr<TkelPlugin> inst = ResolveRecord(rec);
  if (!inst) return -1;
  try {
    inst->WaitWhileTerminatingBusy(kTerminateWaitMs);
  } catch (...) {
  }
  if (inst->TerminateNow || !FrameworkAlive()) return -1;
  int32_t result = -1;
  inst->EnterProcessing();
  try {
    result = ProcessDataCall(*inst, rec);
  } catch (const std::exception& e) {
    ReportError(inst.get(), "PROCESS", e.what());
    result = -3;
  } catch (...) {
    ReportError(inst.get(), "PROCESS", "unknown failure");
    result = -3;
  }
  inst->LeaveProcessing();
  return result;
}

}  // namespace kel
