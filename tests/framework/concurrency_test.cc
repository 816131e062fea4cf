#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "common/test_event.h"
#include "framework/instance_registry.h"
#include "framework_fixture.h"

namespace kel::testing {
namespace {

using Registry = FrameworkTest;

TEST_F(Registry, CreateAndFreeFromSeveralThreads) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&failures] {
      for (int i = 0; i < 50; ++i) {
        TkelParamsList params;
        TPluginCallRec rec = Rec();
        rec.Params = &params;
        if (DoCreatePluginInstance(&rec) != 0) failures += 1000;
        TkelParamsList cmd;
        cmd.Add("COMMAND", Variant("EVENTS-SUPPORT"));
        TPluginCallRec c = Rec();
        c.Instance = rec.Instance;
        c.Params = &cmd;
        if (DoExecutePluginCommand(&c) != 0) failures += 100;
        if (DoFreePluginInstance(&rec) != 0) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
}

TEST_F(Registry, FreeWhileAnotherThreadUsesTheInstance) {
  // A call in progress keeps its instance alive; the free still succeeds and
  // later calls see an unknown handle.
  testutil::Event inHandler, release;
  UseClass([&](TestPlugin& p) {
    p.OnCustomCommand = [&](TkelPlugin&, const std::string&, TPluginCallRec*, int32_t& r) {
      inHandler.Set();
      r = release.Wait() ? 1 : -9;
    };
  });
  uint32_t h = NewInstance();
  int32_t result = 0;
  std::thread user([&] {
    TkelParamsList cmd;
    cmd.Add("COMMAND", Variant("WORK"));
    result = Command(h, cmd);
  });
  ASSERT_TRUE(inHandler.Wait());
  TPluginCallRec rec = Rec();
  rec.Instance = h;
  EXPECT_EQ(DoFreePluginInstance(&rec), 0);
  created_.clear();
  release.Set();
  user.join();
  EXPECT_EQ(result, 1);
  TkelParamsList cmd;
  cmd.Add("COMMAND", Variant("WORK"));
  EXPECT_EQ(Command(h, cmd), -1);
}

// A tick of the module's own holding the instance when the host frees it:
// the host may unload the library next, so FreePluginInstance returns only
// once the tick has let go and the instance is gone.  A host's own call in
// progress is not waited for (the test above).
TEST_F(Registry, FreeWaitsForATickThatHoldsTheInstance) {
  std::atomic<bool> destroyed{false};
  struct Watch {
    std::atomic<bool>* flag;
    ~Watch() { flag->store(true); }
  };
  UseClass([&](TestPlugin& p) {
    {
      // Free: the instance is not shared yet.
      port::Guard commands(p.CommandLock);
      WriteGuard settings(p.SettingsLock);
      p.Description = "watched";
      p.ParserItems.clear();
    }
    auto watch = std::make_shared<Watch>(Watch{&destroyed});
    p.OnBeforeGetParserItems = [watch](TkelPlugin&) {};  // goes with the instance
  });
  const uint32_t h = NewInstance();
  created_.clear();
  testutil::Event holding, letGo, freed;
  std::thread tick([&] {
    TInstanceHold hold;
    std::shared_ptr<TkelPlugin> keep = ResolveHandle(h);
    holding.Set();
    letGo.Wait();
    keep.reset();
  });
  ASSERT_TRUE(holding.Wait());
  bool destroyedWhenFreed = false;
  std::thread host([&] {
    TPluginCallRec rec = Rec();
    rec.Instance = h;
    EXPECT_EQ(DoFreePluginInstance(&rec), 0);
    destroyedWhenFreed = destroyed.load();
    freed.Set();
  });
  EXPECT_FALSE(freed.Wait(std::chrono::milliseconds(50)));
  letGo.Set();
  EXPECT_TRUE(freed.Wait());
  host.join();
  tick.join();
  EXPECT_TRUE(destroyedWhenFreed);
}

}  // namespace
}  // namespace kel::testing
