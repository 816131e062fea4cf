// The plug-in library as a host sees it: loaded by file name, driven through
// its eight exports with the host's own parameter lists, notifications on
// the host's pipe and records through the host's entry points.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

#include <unistd.h>

#include "host_entry_points.h"
#include "host_session.h"
#include "notify_pipe.h"
#include "platform/port.h"
#include "plugin_library.h"

namespace {

class HostConversation : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(lib.Load(BACNETIP_PLUGIN_PATH, &error)) << error;
    session = std::make_unique<host::HostSession>(lib.Exports());
    ASSERT_EQ(session->Create(), 0);
  }
  void TearDown() override {
    notify.Stop();
    if (session) {
      EXPECT_EQ(session->Free(), 0);
    }
    session.reset();
    lib.Unload();
  }

  host::PluginLibrary lib;
  std::unique_ptr<host::HostSession> session;
  host::NotifyPipe notify;
};

TEST_F(HostConversation, CommandsLogAndNotification) {
  std::mutex m;
  std::condition_variable cv;
  std::string log;
  uint32_t notifiedIndex = 0;
  ASSERT_TRUE(notify.Start([&](uint32_t msg, uint32_t w, uint32_t) {
    if (msg != KEL_MSG_LOG_CHANGED) return;
    std::string text = session->DrainLog();
    std::lock_guard<std::mutex> g(m);
    notifiedIndex = w;
    log += text;
    cv.notify_all();
  }));
  const auto self = reinterpret_cast<int64_t>(port::LoadedLib(""));
  EXPECT_EQ(session->Command("LOAD", {{"HANDLE", host::Int64(self)},
                                      {"MSG-PROC-HANDLE", host::Int(notify.WriteEnd())},
                                      {"APPLICATION-NAME", host::Text("host_tests")}},
                             5)
                .code,
            0);
  EXPECT_EQ(session->Command("SET-STATE",
                             {{"DATA-SOURCES-IN-CFG", host::Text("1;UDP1;BACnet/IP\r\nnot a line\r\n")},
                              {"RESULT", host::Int(1)}},
                             5, 0b11)
                .code,
            0);
  EXPECT_EQ(session->Command("EVENTS-SUPPORT").result.ToText(), "PORT-OPEN");
  EXPECT_EQ(session->Command("ITEMS").code, 0);
  EXPECT_EQ(session->Command("load").code, -2);
  EXPECT_EQ(session->Command("GET-MODULE-PARAMETER", {{"PARAM", host::Text("Unknown")}}).code, 0);
  // A parse call without data writes a warning; the host hears of it.
  EXPECT_EQ(session->ProcessData(1u << 2, nullptr, 0), 0);
  {
    std::unique_lock<std::mutex> l(m);
    ASSERT_TRUE(cv.wait_for(l, std::chrono::seconds(10), [&] { return !log.empty(); }));
    EXPECT_EQ(log, "\x02" "Bacnet/IP. No data for processing\r\n");
    EXPECT_EQ(notifiedIndex, 5u);
  }
  EXPECT_EQ(session->Command("UNLOAD").code, 0);
  uint8_t frame[20] = {};
  EXPECT_EQ(session->ProcessData(1u << 1, frame, sizeof frame), -1);  // terminated
}

TEST_F(HostConversation, BadInputGivesDocumentedCodes) {
  auto x = lib.Exports();
  EXPECT_EQ(x.ExecutePluginCommand(nullptr), -1);
  EXPECT_EQ(x.ProcessData(nullptr), -1);
  EXPECT_EQ(x.GetLogEx(nullptr), 0);
  TPluginCallRec rec = host::NewCallRec();
  rec.Instance = session->Handle();
  uint8_t frame[4] = {};
  host::HostParamsList* list = host::HostParamsList::Create();
  IkelParamsListA* intf = list->Intf();
  rec.Params = &intf;
  rec.Input.Kind = 77;  // unexpected kind
  rec.Input.Value = reinterpret_cast<uintptr_t>(frame);
  rec.CallTypes = 0xFF;
  EXPECT_EQ(x.ProcessData(&rec), -1);  // not loaded: the module has no options yet
  rec.Instance = 0;
  EXPECT_EQ(x.ExecutePluginCommand(&rec), -4);
  list->Release();
  // A huge ITEMS text is taken; asking for the items gives the module's own
  // declaration again.
  std::string items;
  for (int i = 0; i < 100000; ++i) items += "Desc|NAME" + std::to_string(i) + "|Integer|\r\n";
  EXPECT_EQ(session->Command("SET-ITEMS", {{"ITEMS", host::Text(items)}}).code, 0);
  auto r = session->Command("ITEMS");
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.result.ToText().find("REMOTE_ADDRESS"), std::string::npos);
  EXPECT_EQ(r.result.ToText().find("NAME99999"), std::string::npos);
}

}  // namespace

namespace {

// The module's language file lies beside the built library: the host's
// language reaches the module's texts, and back again.
TEST_F(HostConversation, LanguageFollowsTheHost) {
  ASSERT_EQ(session->Command("LOAD", {{"LANGUAGE", host::Text("DE")}}).code, 0);
  EXPECT_EQ(session->ProcessData(1u << 2, nullptr, 0), 0);
  EXPECT_NE(session->DrainLog().find("Keine Daten zur Verarbeitung"), std::string::npos);
  auto lang = session->Command("GET-MODULE-PARAMETER", {{"PARAM", host::Text("TESTTRANSL")}});
  EXPECT_EQ(lang.result.ToText(), "False");
  // A second LOAD only counts, but its language still applies.
  ASSERT_EQ(session->Command("LOAD", {{"LANGUAGE", host::Text("EN")}}).code, 0);
  EXPECT_EQ(session->ProcessData(1u << 2, nullptr, 0), 0);
  EXPECT_NE(session->DrainLog().find("No data for processing"), std::string::npos);
}

// The options saved into an INI file the host names, and read back by a
// new instance.
TEST_F(HostConversation, SettingsInAnIniFileTheHostNames) {
  std::string ini = port::TempDirectory() + "bacnetip-host-test-" + std::to_string(getpid()) + ".ini";
  port::RemoveFile(ini);
  ASSERT_EQ(session->Command("LOAD", {{"INI-FILE", host::Text(ini)}}).code, 0);
  session->Command("SAVE-SETTINGS-NOW", {{"INI-FILE", host::Text(ini)}});
  std::string text;
  ASSERT_TRUE(port::ReadFile(ini, &text));
  EXPECT_NE(text.find("[Common]"), std::string::npos);
  EXPECT_NE(text.find("Left=326"), std::string::npos);
  EXPECT_NE(text.find("Read dev props=True"), std::string::npos);
  port::RemoveFile(ini);
}

// GetModuleInfo through the library as a host calls it: the size first,
// then a header-only buffer, one byte short, and the exact size.  The texts
// follow the header in the buffer, the description first.
TEST_F(HostConversation, ModuleInfoInTwoCallsThroughTheLibrary) {
  auto x = lib.Exports();
  TPluginCallRec rec = host::NewCallRec();
  rec.Instance = session->Handle();
  uint32_t needed = 0;
  EXPECT_EQ(x.GetModuleInfo(&rec, nullptr, &needed), 0);
  host::ModuleInfo info;
  ASSERT_TRUE(session->GetModuleInfo(&info));
  EXPECT_EQ(info.description, "Bacnet/IP");
  EXPECT_EQ(needed, KEL_MODULEINFO_HEADER + info.description.size() + info.commands.size());
  EXPECT_EQ(info.neededSize, needed);
  EXPECT_EQ(info.moduleType, 3u);
  EXPECT_EQ(info.frameworkVersion, 4u);
  EXPECT_EQ(info.moduleVersion, 5.0f);
  EXPECT_EQ(info.infoFlag, 1);

  std::vector<uint8_t> buf(needed + 8, 0xCC);
  auto* mi = reinterpret_cast<TPluginModuleInfo*>(buf.data());
  for (uint32_t size : {KEL_MODULEINFO_HEADER, needed - 1}) {
    std::fill(buf.begin(), buf.end(), 0xCC);
    mi->Size = size;
    EXPECT_EQ(x.GetModuleInfo(&rec, mi, &needed), 0) << size;
    const uint32_t type = mi->ModuleType;  // packed fields: copied, not bound
    const uintptr_t description = mi->Description;
    EXPECT_EQ(type, 3u);  // the header is filled, the texts are not
    EXPECT_EQ(description, 0u);
    EXPECT_EQ(buf[KEL_MODULEINFO_HEADER], 0xCC);
  }
  std::fill(buf.begin(), buf.end(), 0xCC);
  mi->Size = needed;
  ASSERT_EQ(x.GetModuleInfo(&rec, mi, &needed), 1);
  const uintptr_t description = mi->Description;
  EXPECT_EQ(description, reinterpret_cast<uintptr_t>(buf.data() + KEL_MODULEINFO_HEADER));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf.data() + KEL_MODULEINFO_HEADER), 9), "Bacnet/IP");
  EXPECT_EQ(buf[needed], 0xCC);  // nothing past the stated size
  // An unknown instance: nothing to tell.
  rec.Instance = session->Handle() + 1000;
  needed = 77;
  mi->Size = static_cast<uint32_t>(buf.size());
  EXPECT_EQ(x.GetModuleInfo(&rec, mi, &needed), 0);
  EXPECT_EQ(needed, 0u);
}

}  // namespace
