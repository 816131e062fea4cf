// The language changes while frames are processed: the processing threads
// read the message texts the switch rewrites.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "framework/exports_impl.h"
#include "framework/instance_registry.h"
#include "framework/module_settings.h"
#include "module/ta_plugin.h"
#include "params/params_list.h"

namespace bacnet_module {
namespace {

TEST(LanguageSwitch, WhileFramesAreProcessed) {
  kel::InitializeFramework();
  RegisterModuleClass();
  kel::TkelParamsList params;
  TPluginCallRec rec;
  std::memset(&rec, 0, sizeof rec);
  rec.Size = sizeof rec;
  rec.Params = &params;
  ASSERT_EQ(kel::DoCreatePluginInstance(&rec), 0);
  const uint32_t handle = rec.Instance;
  auto plugin = kel::ResolveHandle(handle);
  ASSERT_TRUE(plugin);
  plugin->Translator->LanguageFile = BACNETIP_LANG_DIR "/bacnetip.lng";

  std::atomic<bool> stop{false};
  std::vector<std::thread> processors;
  for (int t = 0; t < 3; ++t) {
    processors.emplace_back([&stop, handle] {
      kel::TkelParamsList list;
      while (!stop) {
        TPluginCallRec r;
        std::memset(&r, 0, sizeof r);
        r.Size = sizeof r;
        r.Instance = handle;
        r.Params = &list;
        r.CallTypes = 1u << 2;  // a parse call without data: logs MsgNoData
        kel::DoProcessData(&r);
      }
    });
  }
  for (int i = 0; i < 40; ++i) {
    port::Guard command(plugin->CommandLock);  // as the LOAD that switches it
    kel::SwitchLanguage(*plugin, i % 2 ? "EN" : "DE");
  }
  stop = true;
  for (auto& t : processors) t.join();
  {
    kel::ReadGuard texts(plugin->SettingsLock);
    EXPECT_EQ(plugin->Language, "EN");
    EXPECT_EQ(plugin->MsgNoData, "No data for processing");
  }
  plugin.reset();
  rec.Instance = handle;
  EXPECT_EQ(kel::DoFreePluginInstance(&rec), 0);
}

}  // namespace
}  // namespace bacnet_module
