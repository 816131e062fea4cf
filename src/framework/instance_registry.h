// The registry of live plug-in instances, the instance class the library
// creates, and the procedures run at shutdown.
//
// A handle is a non-zero 32-bit number issued when the instance is
// registered and never reused while the library is loaded.  Resolving a
// handle looks it up under the registry's read lock and hands out a shared
// reference, so an instance freed by another thread stays alive until the
// call that resolved it has finished.  Memory is never probed through a
// handle.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "bacnetip/plugin_abi.h"

namespace kel {

class TkelPlugin;

using TPluginFactory = std::function<TkelPlugin*(TPluginCallRec* rec, uint32_t moduleHandle)>;
using TShutdownProc = void (*)();

// Sets the class CreatePluginInstance instantiates (TkelPlugin until a module
// registers its own).
void RegisterPluginClass(TPluginFactory factory);
void AddShutdownProc(TShutdownProc proc);

// Library start-up and shut-down.
void InitializeFramework();
void FinalizeFramework();
bool FrameworkAlive();

// Creates an instance of the registered class (constructor, then its
// creation handler) and registers it; writes the handle into rec->Instance.
// Returns the handle, 0 when the library is finalising.
uint32_t CreateAndRegister(TPluginCallRec* rec);
// Removes the instance from the registry; null when not registered.
std::shared_ptr<TkelPlugin> Unregister(uint32_t handle);
// The live instance of a handle, or null.
std::shared_ptr<TkelPlugin> ResolveHandle(uint32_t handle);

// Marks a thread of the module's own (a timer's tick) that may hold an
// instance it resolved, from before the look-up until after it let go of
// it.  The host cannot know of such holders: FreePluginInstance waits for
// them to let go of the instance it frees.
class TInstanceHold {
 public:
  TInstanceHold();
  ~TInstanceHold();
  TInstanceHold(const TInstanceHold&) = delete;
  TInstanceHold& operator=(const TInstanceHold&) = delete;
};
// Module threads inside a TInstanceHold now.
int32_t InstanceHolds();
// Runs and drops the shutdown procedures (each once; exceptions ignored).
void RunShutdownProcs();
// Calls fn for every live instance under the registry's read lock.
void ForEachInstance(const std::function<void(TkelPlugin&)>& fn);
// The live instances at this moment, in creation order (taken under the
// read lock, which is released before the caller uses them).
std::vector<std::shared_ptr<TkelPlugin>> SnapshotInstances();
int32_t InstanceCount();

}  // namespace kel
