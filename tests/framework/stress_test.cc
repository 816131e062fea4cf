// Several threads processing data, writing and draining the log while
// another runs commands: no lost line, no deadlock.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "common/test_event.h"
#include "framework_fixture.h"

namespace kel::testing {
namespace {

using Stress = FrameworkTest;

TEST_F(Stress, ProcessDataLogAndCommandsTogether) {
  std::atomic<int> handled{0};
  UseClass([&](TestPlugin& p) {
    p.OnProcessData = [&](TkelPlugin& self, TPluginCallRec* rec, int32_t& r) {
      self.AddLog(2, "processed " + std::to_string(rec->PeerId));
      ++handled;
      r = 1;
    };
    p.OnEvent = [](TkelPlugin& self, const std::string& e, TPluginCallRec*, int32_t& r) {
      self.AddLog(1, "event " + e);
      r = 0;
    };
  });
  host::HostSession session(CoreExports());
  ASSERT_EQ(session.Create(), 0);
  auto plugin = ResolveHandle(session.Handle());
  ASSERT_EQ(session.Command("LOAD").code, 0);

  constexpr int kProcessors = 3, kCalls = 300, kLoggers = 2, kLines = 300, kCommands = 200;
  std::atomic<bool> stop{false};
  std::vector<std::string> drained;
  std::mutex drainedLock;
  auto drain = [&] {
    std::string text = session.DrainLog();
    std::lock_guard<std::mutex> g(drainedLock);
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find("\r\n", at);
      drained.push_back(text.substr(at + 1, end - at - 1));
      at = end + 2;
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kProcessors; ++t)
    threads.emplace_back([&, t] {
      uint8_t frame[20] = {};
      for (int i = 0; i < kCalls; ++i) {
        TPluginCallRec rec = Rec();
        host::HostParamsList* list = host::HostParamsList::Create();
        IkelParamsListA* intf = list->Intf();
        rec.Instance = session.Handle();
        rec.Params = &intf;
        rec.PeerId = t * 100000 + i;
        rec.CallTypes = 1u << 1;
        rec.Input.Kind = KEL_KIND_BUFFER;
        rec.Input.Size = sizeof frame;
        rec.Input.Value = reinterpret_cast<uintptr_t>(frame);
        EXPECT_EQ(DoProcessData(&rec), 1);
        list->Release();
      }
    });
  for (int t = 0; t < kLoggers; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) plugin->AddLog(0, "logger " + std::to_string(t) + " " + std::to_string(i));
    });
  threads.emplace_back([&] {
    for (int i = 0; i < kCommands; ++i) {
      EXPECT_EQ(session.Command("EVENT", {{"EVENT-TYPE", host::Text("E" + std::to_string(i))}}).code, 0);
      EXPECT_EQ(session.Command("SET-STATE", {{"RESULT", host::Int(i & 1)}}, 1, 3).code, 0);
      EXPECT_EQ(session.Command("EVENTS-SUPPORT").code, 0);
    }
  });
  std::thread drainer([&] {
    while (!stop) drain();
  });
  for (auto& t : threads) t.join();
  stop = true;
  drainer.join();
  drain();

  EXPECT_EQ(handled.load(), kProcessors * kCalls);
  std::set<std::string> unique(drained.begin(), drained.end());
  EXPECT_EQ(unique.size(), drained.size());  // every line distinct, none twice
  EXPECT_EQ(drained.size(), static_cast<size_t>(kProcessors * kCalls + kLoggers * kLines + kCommands));
  EXPECT_EQ(plugin->Log->Count(), 0);
}

TEST_F(Stress, LogTitleChangesWhileOtherThreadsLog) {
  // The host may rename the log title while the module logs from its own
  // threads: every line carries one whole title, old or new.
  host::HostSession session(CoreExports());
  ASSERT_EQ(session.Create(), 0);
  auto plugin = ResolveHandle(session.Handle());
  const std::string a(40, 'a'), b(400, 'b');
  std::atomic<bool> stop{false};
  std::thread logger([&] {
    for (int i = 0; i < 2000; ++i) plugin->AddLog(2, "line " + std::to_string(i));
    stop = true;
  });
  for (int i = 0; !stop; ++i)
    session.Command("SET-MODULE-PARAMETER", {{"PARAM", host::Text("LogTitle")}, {"VALUE", host::Text(i & 1 ? a : b)}});
  logger.join();
  std::string text = session.DrainLog();
  size_t at = 0, lines = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(at + 1, end - at - 1);
    const bool whole = line.rfind(a + ". line ", 0) == 0 || line.rfind(b + ". line ", 0) == 0 ||
                       line.rfind("line ", 0) == 0;
    EXPECT_TRUE(whole) << line;
    ++lines;
    at = end + 2;
  }
  EXPECT_EQ(lines, 2000u);
}

TEST_F(Stress, IdentityReadWhileCommandsOfAnotherThreadChangeIt) {
  // GetModuleInfo reads ModuleType with no lock while commands change it,
  // and every command call sets IsTemporaryLoad before it takes the
  // command lock: each read sees one whole value (and TSan no race).
  host::HostSession session(CoreExports());
  ASSERT_EQ(session.Create(), 0);
  std::atomic<bool> stop{false};
  std::thread commands([&] {
    for (int i = 0; i < 500; ++i)
      session.Command("SET-MODULE-PARAMETER", {{"PARAM", host::Text("ModuleType")},
                                               {"VALUE", host::Int(i & 1 ? 3 : 5)},
                                               {"TEMPORARY-LOAD", host::Int(i & 1)}});
    stop = true;
  });
  std::set<uint32_t> types;
  std::set<std::string> temporary;
  while (!stop) {
    host::ModuleInfo info;
    ASSERT_TRUE(session.GetModuleInfo(&info));
    types.insert(info.moduleType & 0xFF);
    temporary.insert(
        session.Command("GET-MODULE-PARAMETER", {{"PARAM", host::Text("IsTemporaryLoad")}}).result.ToText());
  }
  commands.join();
  for (uint32_t t : types) EXPECT_TRUE(t == 0 || t == 3 || t == 5) << t;
  for (const std::string& t : temporary) EXPECT_TRUE(t == "True" || t == "False") << t;
}

TEST_F(Stress, ProcessDataWaitsWhileTerminatingAndBusy) {
  host::HostSession session(CoreExports());
  testutil::Event inside, release;
  UseClass([&](TestPlugin& p) {
    p.OnProcessData = [&](TkelPlugin&, TPluginCallRec*, int32_t& r) {
      inside.Set();
      r = release.Wait() ? 1 : -9;
    };
  });
  ASSERT_EQ(session.Create(), 0);
  session.Command("LOAD");
  uint8_t frame[4] = {};
  int32_t first = 0;
  std::thread a([&] { first = session.ProcessData(1u << 1, frame, 4); });
  ASSERT_TRUE(inside.Wait());
  ASSERT_EQ(session.Command("UNLOAD").code, 0);  // commands do not wait for processing
  std::atomic<bool> secondDone{false};
  int32_t second = 0;
  std::thread b([&] {
    second = session.ProcessData(1u << 1, frame, 4);
    secondDone = true;
  });
  // b waits for a; releasing a lets both finish.
  auto plugin = ResolveHandle(session.Handle());
  for (int i = 0; i < 10000000 && plugin->ProcessWaiters() == 0; ++i) std::this_thread::yield();
  EXPECT_EQ(plugin->ProcessWaiters(), 1);
  EXPECT_FALSE(secondDone);
  release.Set();
  a.join();
  b.join();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, -1);
}

}  // namespace
}  // namespace kel::testing
