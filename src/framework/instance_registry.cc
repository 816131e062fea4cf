#include "framework/instance_registry.h"

#include <atomic>
#include <vector>

#include "framework/kel_plugin.h"
#include "runtime/rwlock.h"
#include "runtime/thread_object.h"

namespace kel {

namespace {

struct Registry {
  TMREWSync lock;
  std::vector<std::shared_ptr<TkelPlugin>> instances GUARDED_BY(lock);
};

struct ShutdownList {
  port::CriticalSection guard;
  std::vector<TShutdownProc> procs GUARDED_BY(guard);
};

std::atomic<Registry*> g_instances{nullptr};
std::atomic<ShutdownList*> g_shutdown{nullptr};
std::atomic<uint32_t> g_nextHandle{0};

port::CriticalSection& FactoryGuard() {
  static port::CriticalSection cs;
  return cs;
}
// The class CreatePluginInstance makes.
TPluginFactory& Factory() REQUIRES(FactoryGuard()) {
  static TPluginFactory f;
  return f;
}

// The position of the instance with the handle, -1 when there is none.
std::ptrdiff_t FindInstance(const Registry& reg, uint32_t handle) REQUIRES_SHARED(reg.lock) {
  for (size_t i = 0; i < reg.instances.size(); ++i)
    if (reg.instances[i]->ModulePluginHandle == handle) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

uint32_t NextHandle() {
  uint32_t h;
  do {
    h = g_nextHandle.fetch_add(1) + 1;
  } while (h == 0);
  return h;
}

}  // namespace

void RegisterPluginClass(TPluginFactory factory) {
  port::Guard g(FactoryGuard());
  Factory() = std::move(factory);
}

void AddShutdownProc(TShutdownProc proc) {
  ShutdownList* list = g_shutdown.load();
  if (!list) {
    auto* fresh = new ShutdownList();
    if (!g_shutdown.compare_exchange_strong(list, fresh)) delete fresh;
    else list = fresh;
  }
  port::Guard g(list->guard);
  list->procs.push_back(proc);
}

void InitializeFramework() {
  Registry* expected = nullptr;
  auto* fresh = new Registry();
  if (!g_instances.compare_exchange_strong(expected, fresh)) delete fresh;
}

void FinalizeFramework() {
  // Shutdown procedures are dropped without being run.
  delete g_shutdown.exchange(nullptr);
  Registry* reg = g_instances.exchange(nullptr);
  if (!reg) return;
  std::vector<std::shared_ptr<TkelPlugin>> left;
  {
    WriteGuard g(reg->lock);
    left.swap(reg->instances);
  }
  for (auto& p : left) {
    try {
      p->Destroying();
    } catch (...) {
    }
  }
  left.clear();
  delete reg;
}

bool FrameworkAlive() { return g_instances.load() != nullptr; }

uint32_t CreateAndRegister(TPluginCallRec* rec) {
  Registry* reg = g_instances.load();
  if (!reg) return 0;
  TPluginFactory factory;
  {
    port::Guard g(FactoryGuard());
    factory = Factory();
  }
  std::shared_ptr<TkelPlugin> inst(factory ? factory(rec, 0) : new TkelPlugin(rec, 0));
  inst->Create();
  inst->FinishCreation();
  uint32_t handle = NextHandle();
  inst->ModulePluginHandle = handle;
  WriteGuard g(reg->lock);
  reg->instances.push_back(std::move(inst));
  rec->Instance = handle;
  return handle;
}

std::shared_ptr<TkelPlugin> Unregister(uint32_t handle) {
  Registry* reg = g_instances.load();
  if (!reg || handle == 0) return nullptr;
  {
    // Most handles a host frees are there: the read side looks first, so
    // that a stale handle never waits for the write side.
    ReadGuard r(reg->lock);
    if (FindInstance(*reg, handle) < 0) return nullptr;
  }
  // Another remover may get the write side first, so the entry is looked
  // up again once the write side is held.
  std::shared_ptr<TkelPlugin> found;
  WriteGuard w(reg->lock);
  std::ptrdiff_t at = FindInstance(*reg, handle);
  if (at >= 0) {
    found = std::move(reg->instances[static_cast<size_t>(at)]);
    reg->instances.erase(reg->instances.begin() + at);
  }
  return found;
}

std::shared_ptr<TkelPlugin> ResolveHandle(uint32_t handle) {
  Registry* reg = g_instances.load();
  if (!reg || handle == 0) return nullptr;
  ReadGuard r(reg->lock);
  for (const auto& p : reg->instances)
    if (p->ModulePluginHandle == handle) return p;
  return nullptr;
}

void RunShutdownProcs() {
  ShutdownList* list = g_shutdown.exchange(nullptr);
  if (!list) return;
  {
    port::Guard g(list->guard);
    for (TShutdownProc p : list->procs) {
      try {
        if (p) p();
      } catch (...) {
      }
    }
  }
  delete list;
}

void ForEachInstance(const std::function<void(TkelPlugin&)>& fn) {
  Registry* reg = g_instances.load();
  if (!reg) return;
  ReadGuard r(reg->lock);
  for (const auto& p : reg->instances) fn(*p);
}

std::vector<std::shared_ptr<TkelPlugin>> SnapshotInstances() {
  Registry* reg = g_instances.load();
  if (!reg) return {};
  ReadGuard r(reg->lock);
  return reg->instances;
}

int32_t InstanceCount() {
  Registry* reg = g_instances.load();
  if (!reg) return 0;
  ReadGuard r(reg->lock);
  return static_cast<int32_t>(reg->instances.size());
}

namespace {
std::atomic<int32_t> g_holds{0};
}  // namespace

TInstanceHold::TInstanceHold() { g_holds.fetch_add(1); }
TInstanceHold::~TInstanceHold() { g_holds.fetch_sub(1); }
int32_t InstanceHolds() { return g_holds.load(); }

}  // namespace kel
