// The reference host's options commands against the built library: the
// package fetched in two calls and printed, and show-options with the
// settings-changed message that reaches an instance loaded on another thread.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "host_session.h"
#include "notify_pipe.h"
#include "options_client.h"
#include "platform/port.h"
#include "plugin_library.h"

namespace {

class HostOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(lib.Load(BACNETIP_PLUGIN_PATH, &error)) << error;
  }
  void TearDown() override { lib.Unload(); }
  host::PluginLibrary lib;
};

TEST_F(HostOptions, PrintsTheThreeSectionsAndTheForm) {
  host::HostSession session(lib.Exports());
  ASSERT_EQ(session.Create(), 0);
  std::ostringstream out;
  EXPECT_EQ(host::PrintOptions(lib.Exports(), session.Handle(), out), 0) << out.str();
  const std::string text = out.str();
  for (const char* part : {"== script\n<?xml", "<program name=\"frmOption\">", "== form name\nTFRMOPTION\n",
                           "== persistence map\nLeft,Left\r\n", "chkReadDevProp.Checked,Read dev props\r\n",
                           "== form\nobject frmOption: TfrmOption\n", "  object pmStringItems: TTntPopupMenu\n"})
    EXPECT_NE(text.find(part), std::string::npos) << part;
  // An instance the library does not know: the first answer is status 1.
  std::ostringstream bad;
  EXPECT_EQ(host::PrintOptions(lib.Exports(), session.Handle() + 999, bad), 1);
  EXPECT_NE(bad.str().find("status 1"), std::string::npos) << bad.str();
  EXPECT_EQ(session.Free(), 0);
}

TEST_F(HostOptions, ShowOptionsReportsTheMessageForTheOtherThreadsInstance) {
  host::SettingsChangedLog log;
  host::NotifyPipe notify;
  ASSERT_TRUE(notify.Start([&](uint32_t m, uint32_t w, uint32_t l) { log.OnMessage(m, w, l); }));
  const std::string registry = "Software\\bacnetip-test\\options-" + std::to_string(port::CurrentThreadId());
  host::HostSession here(lib.Exports()), there(lib.Exports());
  ASSERT_EQ(here.Create(), 0);
  ASSERT_EQ(there.Create(), 0);
  auto load = [&](host::HostSession& s, int32_t index) {
    return s.Command("LOAD", {{"REGISTRY-PATH", host::Text(registry)},
                              {"MSG-PROC-HANDLE", host::Int(notify.WriteEnd())}},
                     index)
        .code;
  };
  EXPECT_EQ(load(here, 4), 0);
  int32_t loadedThere = -1;
  std::thread([&] { loadedThere = load(there, 6); }).join();
  EXPECT_EQ(loadedThere, 0);

  std::ostringstream out;
  EXPECT_EQ(host::ShowOptions(lib.Exports(), here.Handle(), &log, 1, std::chrono::seconds(10), out), 1);
  EXPECT_NE(out.str().find("status 1 (changed)"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("message 1812 (settings changed) for module index 6\n"), std::string::npos) << out.str();
  // The instance loaded here reloaded directly: no message names it.
  EXPECT_EQ(out.str().find("module index 4"), std::string::npos) << out.str();
  EXPECT_EQ(log.WaitFor(1, std::chrono::milliseconds(0)).size(), 1u);

  std::ostringstream unknown;
  EXPECT_EQ(host::ShowOptions(lib.Exports(), 0, nullptr, 0, std::chrono::milliseconds(0), unknown), 2);
  EXPECT_EQ(here.Command("UNLOAD").code, 0);
  EXPECT_EQ(there.Command("UNLOAD").code, 0);
  notify.Stop();
  EXPECT_EQ(here.Free(), 0);
  EXPECT_EQ(there.Free(), 0);
}

}  // namespace
