// Shared set-up for the framework tests: the framework is started once, and
// each test registers the instance class it needs.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "bacnetip/plugin_abi.h"
#include "framework/exports_impl.h"
#include "framework/instance_registry.h"
#include "framework/kel_plugin.h"
#include "params/params_list.h"
#include "host_session.h"
#include "plugin_library.h"

namespace kel::testing {

// The core's exports as a host sees them, without loading the library: the
// in-process counterpart of host::PluginLibrary::Exports().
inline host::PluginExports CoreExports() {
  host::PluginExports x;
  x.CreatePluginInstance = DoCreatePluginInstance;
  x.FreePluginInstance = DoFreePluginInstance;
  x.GetModuleInfo = [](TPluginCallRec* r, TPluginModuleInfo* i, uint32_t* n) -> uint8_t {
    return DoGetModuleInfo(r, i, n) ? 1 : 0;
  };
  x.GetLogEx = DoGetLogEx;
  x.GetOptionsDialog = DoGetOptionsDialog;
  x.ShowOptionsDialog = DoShowOptionsDialog;
  x.ExecutePluginCommand = DoExecutePluginCommand;
  x.ProcessData = DoProcessData;
  return x;
}

// An instance class whose creation handler the test chooses.
class TestPlugin : public TkelPlugin {
 public:
  TestPlugin(TPluginCallRec* rec, uint32_t h, std::function<void(TestPlugin&)> create)
      : TkelPlugin(rec, h), create_(std::move(create)) {}
  void Create() override {
    if (create_) create_(*this);
  }

 private:
  std::function<void(TestPlugin&)> create_;
};

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeFramework();
    UseClass([](TestPlugin& p) {
      WriteGuard settings(p.SettingsLock);  // free: the instance is not shared yet
      p.Description = "Test module";
    });
  }
  void TearDown() override {
    for (uint32_t h : created_) {
      TPluginCallRec rec = Rec();
      rec.Instance = h;
      DoFreePluginInstance(&rec);
    }
  }

  static void UseClass(std::function<void(TestPlugin&)> create) {
    RegisterPluginClass([create](TPluginCallRec* rec, uint32_t h) -> TkelPlugin* {
      return new TestPlugin(rec, h, create);
    });
  }

  static TPluginCallRec Rec() {
    TPluginCallRec rec;
    std::memset(&rec, 0, sizeof rec);
    rec.Size = sizeof rec;
    return rec;
  }

  uint32_t NewInstance() {
    TkelParamsList params;
    TPluginCallRec rec = Rec();
    rec.Params = &params;
    EXPECT_EQ(DoCreatePluginInstance(&rec), 0);
    uint32_t handle = rec.Instance;  // packed field: copy before binding a reference
    created_.push_back(handle);
    return handle;
  }

  // Runs a command with a raw parameter list of the module's own kind.
  int32_t Command(uint32_t handle, TkelParamsList& params) {
    TPluginCallRec rec = Rec();
    rec.Instance = handle;
    rec.Params = &params;
    return DoExecutePluginCommand(&rec);
  }

  std::vector<uint32_t> created_;
};

}  // namespace kel::testing
