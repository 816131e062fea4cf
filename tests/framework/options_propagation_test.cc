// Settings changed in one instance's options dialog reach every instance
// with the same registry path: directly on the thread that loaded it, as
// message 1812 on the host's notification pipe for the others.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "common/test_event.h"
#include "framework_fixture.h"

namespace kel::testing {
namespace {

struct Message {
  uint32_t message, wparam, lparam;
};

class Propagation : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    ASSERT_EQ(pipe(fds_), 0);
    fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    UseClass([this](TestPlugin& p) {
      p.OnShowOptionsDialog = [](TkelPlugin&, TPluginCallRec*, bool& changed) { changed = true; };
      p.OnLoadSettingsNow = [this](TkelPlugin& self) {
        std::lock_guard<std::mutex> g(m_);
        reloads_[&self].push_back(port::CurrentThreadId());
      };
    });
  }
  void TearDown() override {
    FrameworkTest::TearDown();
    close(fds_[0]);
    close(fds_[1]);
  }

  void Load(uint32_t h, const char* registryPath, int32_t index) {
    TkelParamsList params;
    params.Add("COMMAND", Variant("LOAD"));
    params.Add("REGISTRY-PATH", Variant(registryPath));
    params.Add("MSG-PROC-HANDLE", Variant(fds_[1]));
    TPluginCallRec rec = Rec();
    rec.Instance = h;
    rec.ModuleIndex = index;
    rec.Params = &params;
    EXPECT_EQ(DoExecutePluginCommand(&rec), 0);
  }

  static uint32_t Show(uint32_t h) {
    TPluginCallRec rec = Rec();
    rec.Instance = h;
    DoShowOptionsDialog(&rec);
    return static_cast<uint32_t>(rec.Output.Value);
  }

  // The messages written so far (they are written before the call returns).
  std::vector<Message> Messages() {
    std::vector<Message> out;
    Message m;
    pollfd p{fds_[0], POLLIN, 0};
    while (poll(&p, 1, 0) == 1 && read(fds_[0], &m, sizeof m) == static_cast<ssize_t>(sizeof m)) out.push_back(m);
    return out;
  }

  std::vector<uint32_t> Reloads(uint32_t h) {
    auto inst = ResolveHandle(h);
    std::lock_guard<std::mutex> g(m_);
    return reloads_[inst.get()];
  }

  int fds_[2] = {-1, -1};
  std::mutex m_;
  std::map<TkelPlugin*, std::vector<uint32_t>> reloads_;
};

TEST_F(Propagation, DirectOnTheLoadingThreadMessagesElsewhere) {
  const uint32_t main = port::CurrentThreadId();
  const uint32_t a = NewInstance(), b = NewInstance(), c = NewInstance(), d = NewInstance();
  Load(a, "Software\\Vendor\\One", 1);
  Load(c, "Software\\Vendor\\Two", 3);
  testutil::Event loaded, go, done;
  uint32_t worker = 0;
  uint32_t shownOnWorker = 0;
  std::thread t([&] {
    worker = port::CurrentThreadId();
    Load(b, "Software\\Vendor\\One", 7);
    Load(d, "Software\\Vendor\\Two", 9);
    loaded.Set();
    if (!go.Wait()) return;
    shownOnWorker = Show(b);
    done.Set();
  });
  ASSERT_TRUE(loaded.Wait());

  EXPECT_EQ(Show(a), 1u);
  EXPECT_EQ(Reloads(a), std::vector<uint32_t>{main});
  EXPECT_TRUE(Reloads(b).empty());
  EXPECT_TRUE(Reloads(c).empty());
  EXPECT_TRUE(Reloads(d).empty());
  auto msgs = Messages();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].message, KEL_MSG_SETTINGS_CHANGED);
  EXPECT_EQ(msgs[0].wparam, 7u);
  EXPECT_EQ(msgs[0].lparam, 0u);

  // The other way round: the worker's own instance reloads there.
  go.Set();
  ASSERT_TRUE(done.Wait());
  t.join();
  EXPECT_EQ(shownOnWorker, 1u);
  EXPECT_EQ(Reloads(b), std::vector<uint32_t>{worker});
  EXPECT_EQ(Reloads(a).size(), 1u);
  msgs = Messages();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].message, KEL_MSG_SETTINGS_CHANGED);
  EXPECT_EQ(msgs[0].wparam, 1u);
}

// The direct reload is a settings command of that instance: it never runs
// beside the instance's own LOAD-SETTINGS-NOW on another thread (the
// handler's unguarded counter would be a race ThreadSanitizer reports).
TEST_F(Propagation, DirectReloadDoesNotOverlapTheInstancesCommands) {
  int plainCounter = 0;
  UseClass([&](TestPlugin& p) {
    p.OnShowOptionsDialog = [](TkelPlugin&, TPluginCallRec*, bool& changed) { changed = true; };
    p.OnLoadSettingsNow = [&](TkelPlugin&) { ++plainCounter; };
  });
  const uint32_t a = NewInstance();
  Load(a, "Software\\Vendor\\One", 1);
  std::atomic<bool> stop{false};
  std::thread commands([&] {
    while (!stop) {
      TkelParamsList params;
      params.Add("COMMAND", Variant("LOAD-SETTINGS-NOW"));
      Command(a, params);
    }
  });
  for (int i = 0; i < 200; ++i) EXPECT_EQ(Show(a), 1u);
  stop = true;
  commands.join();
  EXPECT_GE(plainCounter, 200);
}

}  // namespace
}  // namespace kel::testing
