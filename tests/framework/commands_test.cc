// Commands driven as a host drives them: host-side parameter lists seen by
// the module only through the interface table.
#include <gtest/gtest.h>

#include "framework/custom_commands.h"
#include "framework/data_sources.h"
#include "framework/parser_items.h"
#include "framework_fixture.h"

namespace kel::testing {
namespace {

using host::Int;
using host::Text;

class Commands : public FrameworkTest {
 protected:
  std::shared_ptr<TkelPlugin> Instance() { return ResolveHandle(session.Handle()); }
  // Runs a command with the host's list exactly as given (no "RESULT" item
  // is added, unlike HostSession::Command).
  int32_t RunAsGiven(host::HostParamsList* list) {
    IkelParamsListA* intf = list->Intf();
    TPluginCallRec rec = Rec();
    rec.Instance = session.Handle();
    rec.Params = &intf;
    return DoExecutePluginCommand(&rec);
  }
  host::HostSession session{CoreExports()};
};

TEST_F(Commands, CommandNamesAreExactAndCaseSensitive) {
  ASSERT_EQ(session.Create(), 0);
  EXPECT_EQ(session.Command("load").code, -2);
  EXPECT_EQ(Instance()->ModuleLoadCount.load(), 0);
  // An integer COMMAND is read as its text: an unknown command.
  EXPECT_EQ(session.Command("X", {{"COMMAND", Int(5)}}).code, -2);
}

TEST_F(Commands, MissingCommandGivesMinusOne) {
  ASSERT_EQ(session.Create(), 0);
  host::HostParamsList* list = host::HostParamsList::Create();
  list->SetText("RESULT", "x");
  EXPECT_EQ(RunAsGiven(list), -1);
  list->Release();
}

// An empty text is an absent parameter, for the command name too.
TEST_F(Commands, EmptyParametersCountAsAbsent) {
  int events = 0;
  UseClass([&](TestPlugin& p) {
    p.OnEvent = [&](TkelPlugin&, const std::string&, TPluginCallRec*, int32_t& r) {
      ++events;
      r = 0;
    };
  });
  ASSERT_EQ(session.Create(), 0);
  host::HostParamsList* list = host::HostParamsList::Create();
  list->SetText("COMMAND", "");
  EXPECT_EQ(RunAsGiven(list), -1);
  list->Release();
  EXPECT_EQ(session.Command("EVENT", {{"EVENT-TYPE", Text("")}}).code, -1);
  EXPECT_EQ(session.Command("SET-STATE", {{"RESULT", Text("")}}).code, -1);
  EXPECT_EQ(session.Command("GET-MODULE-PARAMETER", {{"PARAM", Text("")}}).code, -2);
  EXPECT_EQ(session.Command("SET-ITEMS", {{"ITEMS", Text("")}}).code, -1);
  EXPECT_EQ(events, 0);
  EXPECT_EQ(session.Command("EVENT", {{"EVENT-TYPE", Text("X")}}).code, 0);
  EXPECT_EQ(events, 1);
}

// A 64-bit host's module handle is kept whole and reported whole.
TEST_F(Commands, HostHandleKeepsAllItsBits) {
  if (sizeof(uintptr_t) < 8) GTEST_SKIP() << "32-bit build";
  ASSERT_EQ(session.Create(), 0);
  // The host's own dlopen handle: on these systems it lies above 4 GiB.
  const auto handle = reinterpret_cast<int64_t>(port::LoadedLib(""));
  ASSERT_GT(static_cast<uint64_t>(handle), 0xFFFFFFFFull);
  ASSERT_EQ(session.Command("LOAD", {{"HANDLE", host::Int64(handle)}}).code, 0);
  EXPECT_EQ(Instance()->ParentApp, static_cast<uintptr_t>(handle));
  auto r = session.Command("GET-MODULE-PARAMETER", {{"PARAM", Text("ParentApp")}});
  EXPECT_EQ(r.result.ToText(), std::to_string(handle));
  session.Command("UNLOAD");
}

TEST_F(Commands, LoadAndUnloadCount) {
  int loads = 0, unloads = 0;
  UseClass([&](TestPlugin& p) {
    p.OnLoad = [&](TkelPlugin&, TPluginCallRec*, int32_t&) { ++loads; };
    p.OnUnload = [&](TkelPlugin&, TPluginCallRec*, int32_t&) { ++unloads; };
  });
  ASSERT_EQ(session.Create(), 0);
  auto p = Instance();
  EXPECT_EQ(session.Command("LOAD", {}, 7).code, 0);
  EXPECT_EQ(session.Command("LOAD", {}, 8).code, 0);
  EXPECT_EQ(p->ModuleIndex.load(), 7);  // a repeated LOAD only counts
  EXPECT_EQ(session.Command("UNLOAD").code, 0);
  EXPECT_FALSE(p->TerminateNow);
  EXPECT_EQ(unloads, 0);
  EXPECT_EQ(session.Command("UNLOAD").code, 0);
  EXPECT_TRUE(p->TerminateNow);
  EXPECT_EQ(unloads, 1);
  EXPECT_EQ(session.Command("UNLOAD").code, 0);
  EXPECT_EQ(p->ModuleLoadCount.load(), 0);
  EXPECT_EQ(unloads, 1);
  EXPECT_EQ(loads, 1);
  EXPECT_EQ(session.Command("LOAD").code, 0);
  EXPECT_FALSE(p->TerminateNow);
  EXPECT_EQ(loads, 2);
}

TEST_F(Commands, LoadFindsTheHostEntryPointsAndSwitchesLanguage) {
  int switches = 0;
  UseClass([&](TestPlugin& p) { p.OnLanguageChanged = [&](TkelPlugin&) { ++switches; }; });
  ASSERT_EQ(session.Create(), 0);
  auto p = Instance();
  const auto self = reinterpret_cast<int64_t>(port::LoadedLib(""));
  EXPECT_EQ(session.Command("LOAD", {{"HANDLE", host::Int64(self)}, {"LANGUAGE", Text("de")}}).code, 0);
  EXPECT_NE(p->Host.SendDataEx.load(), nullptr);
  EXPECT_EQ(p->Language, "de");
  EXPECT_EQ(switches, 1);
  session.Command("UNLOAD");
  EXPECT_EQ(p->ParentApp, 0u);
  session.Command("LOAD", {{"LANGUAGE", Text("de")}});
  EXPECT_EQ(switches, 1);  // the same language: nothing to do
}

TEST_F(Commands, SetStateEnablesExactlyTheCallTypes) {
  std::vector<uint8_t> seen;
  UseClass([&](TestPlugin& p) { p.OnChangeState = [&](TkelPlugin&, uint8_t t) { seen.push_back(t); }; });
  ASSERT_EQ(session.Create(), 0);
  auto p = Instance();
  p->TypeEnabled[5] = true;
  EXPECT_EQ(session.Command("SET-STATE", {{"RESULT", Int(1)}}, 1, 0b11).code, 0);
  EXPECT_TRUE(p->TypeEnabled[0] && p->TypeEnabled[1] && p->TypeEnabled[5]);
  EXPECT_FALSE(p->TypeEnabled[2]);
  EXPECT_EQ(session.Command("SET-STATE", {{"RESULT", Int(0)}}, 1, 0b10).code, 0);
  EXPECT_TRUE(p->TypeEnabled[0]);
  EXPECT_FALSE(p->TypeEnabled[1]);
  EXPECT_EQ(seen, (std::vector<uint8_t>{0b11, 0b10}));
  // A string RESULT that is not 1 disables.
  EXPECT_EQ(session.Command("SET-STATE", {{"RESULT", Text("yes")}}, 1, 0b1).code, 0);
  EXPECT_FALSE(p->TypeEnabled[0]);
  // RESULT in the types a host may write: enabled exactly when its integer
  // value is 1 (a boolean true is -1; halves go to the even neighbour).
  struct Case {
    uint16_t vt;
    int64_t i;
    double d;
    bool enabled;
  };
  const Case cases[] = {{KEL_VT_UI1, 1, 0, true},     {KEL_VT_I2, 1, 0, true},      {KEL_VT_R8, 0, 1.0, true},
                        {KEL_VT_R4, 0, 1.25, true},   {KEL_VT_DATE, 0, 1.0, true},  {KEL_VT_CY, 10000, 0, true},
                        {KEL_VT_CY, 14999, 0, true},  {KEL_VT_CY, 15000, 0, false}, {KEL_VT_CY, 5000, 0, false},
                        {KEL_VT_R8, 0, 0.5, false},   {KEL_VT_R8, 0, 1.5, false},   {KEL_VT_BOOL, 1, 0, false},
                        {KEL_VT_UI8, 1, 0, true},     {KEL_VT_I8, 1ll << 32 | 1, 0, false}};
  for (const Case& c : cases) {
    host::HostValue v;
    v.vt = c.vt;
    v.i = c.i;
    v.d = c.d;
    p->TypeEnabled[3] = !c.enabled;
    EXPECT_EQ(session.Command("SET-STATE", {{"RESULT", v}}, 1, 0b1000).code, 0);
    EXPECT_EQ(p->TypeEnabled[3], c.enabled) << "type " << c.vt << " " << c.i << " " << c.d;
  }
  host::HostValue one = Text("1");
  EXPECT_EQ(session.Command("SET-STATE", {{"RESULT", one}}, 1, 0b1000).code, 0);
  EXPECT_TRUE(p->TypeEnabled[3]);
}

TEST_F(Commands, SetStateDataSources) {
  ASSERT_EQ(session.Create(), 0);
  auto p = Instance();
  // No RESULT item at all: the sources are still taken, the result is -1.
  host::HostParamsList* list = host::HostParamsList::Create();
  list->SetText("COMMAND", "SET-STATE");
  list->SetText("DATA-SOURCES-IN-CFG", "x;bad\r\n7; Port7 ;COM port 7\r\n\r\n-1;minus\n;;\n12;OnlyName\n\x01\xff garbage");
  list->SetText("DATA-SOURCE-LOAD", "7");
  EXPECT_EQ(RunAsGiven(list), -1);
  list->Release();
  ASSERT_EQ(p->DataSources.size(), 2u);
  EXPECT_EQ(p->DataSources[0].Id, 7);
  EXPECT_EQ(p->DataSources[0].Name, "Port7");
  EXPECT_EQ(p->DataSources[0].FullName, "COM port 7");
  EXPECT_EQ(p->DataSources[0].Text, "7; Port7 ;COM port 7");
  EXPECT_EQ(p->DataSources[1].Id, 12);
  EXPECT_EQ(p->DataSources[1].FullName, "");
  EXPECT_EQ(p->DataSourceLoadFor, "7");
  // A huge text of garbage is read through without a source.
  std::string huge(4 << 20, 'z');
  EXPECT_EQ(session.Command("SET-STATE", {{"DATA-SOURCES-IN-CFG", Text(huge)}, {"RESULT", Int(1)}}).code, 0);
  EXPECT_TRUE(p->DataSources.empty());
}

TEST_F(Commands, DataSourceIdsMustBeWholeNumbers) {
  int errors = 0;
  auto list = ParseDataSources(" 42 ;a;b\n-2147483648;x\n2147483648;y\n4x;z\n+;w\n",
                               [&errors](const char*) { ++errors; });
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Id, 42);
  EXPECT_EQ(list[1].Id, INT32_MIN);
  EXPECT_EQ(errors, 0);
}

TEST_F(Commands, ItemsAndSetItems) {
  int before = 0, set = 0;
  UseClass([&](TestPlugin& p) {
    p.OnBeforeGetParserItems = [&](TkelPlugin& self) {
      ++before;
      self.AddParserItem("VALUE", "A value", "0", 5);
    };
    p.OnParserItemsSet = [&](TkelPlugin&) { ++set; };
  });
  ASSERT_EQ(session.Create(), 0);
  auto p = Instance();
  auto r = session.Command("ITEMS");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.result.ToText(), "A value|VALUE|Float|0");
  EXPECT_EQ(p->ItemsText, "A value|VALUE|Float|0");
  EXPECT_EQ(session.Command("SET-ITEMS", {{"ITEMS", Int(3)}}).code, -1);  // not a string
  EXPECT_EQ(session.Command("SET-ITEMS").code, -1);
  EXPECT_EQ(set, 0);
  EXPECT_EQ(session.Command("SET-ITEMS", {{"ITEMS", Text("D|N|integer|\r\nbroken\r\nE|M")}}).code, 0);
  EXPECT_EQ(set, 1);
  ASSERT_EQ(p->ParserItemsCount(), 1);
  EXPECT_EQ(p->ParserItems[0].DataType, 8);
}

TEST_F(Commands, ItemsWithoutResultItem) {
  ASSERT_EQ(session.Create(), 0);
  host::HostParamsList* list = host::HostParamsList::Create();
  list->SetText("COMMAND", "ITEMS");
  EXPECT_EQ(RunAsGiven(list), -1);
  list->SetText("COMMAND", "GET-MODULE-PARAMETER");
  list->SetText("PARAM", "Anything");
  EXPECT_EQ(RunAsGiven(list), 0);
  EXPECT_EQ(list->Items().size(), 2u);  // nothing written
  list->Release();
}

TEST_F(Commands, ModuleParametersUntilTheTableArrives) {
  ASSERT_EQ(session.Create(), 0);
  EXPECT_EQ(session.Command("GET-MODULE-PARAMETER").code, -2);
  EXPECT_EQ(session.Command("SET-MODULE-PARAMETER", {{"VALUE", Int(1)}}).code, -2);
  auto g = session.Command("GET-MODULE-PARAMETER", {{"PARAM", Text("NoSuch")}, {"RESULT", Text("old")}});
  EXPECT_EQ(g.code, 0);
  EXPECT_EQ(g.result.vt, KEL_VT_EMPTY);
  auto s = session.Command("SET-MODULE-PARAMETER", {{"PARAM", Text("NoSuch")}, {"VALUE", Int(1)}});
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(s.result.vt, KEL_VT_BOOL);
  EXPECT_EQ(s.result.ToInt(), 0);
}

TEST_F(Commands, SettingsCommandsUseTheGivenFileForTheCallOnly) {
  std::vector<std::string> saves, loads;
  UseClass([&](TestPlugin& p) {
    p.OnSaveSettingsNow = [&](TkelPlugin& self) { saves.push_back(self.INIFile); };
    p.OnLoadSettingsNow = [&](TkelPlugin& self) { loads.push_back(self.INIFile); };
  });
  ASSERT_EQ(session.Create(), 0);
  auto p = Instance();
  p->INIFile = "main.ini";
  EXPECT_EQ(session.Command("SAVE-SETTINGS-NOW", {{"INI-FILE", Text("other.ini")}}).code, -2);
  EXPECT_EQ(session.Command("SAVE-SETTINGS-NOW", {{"NO-SAVE", Int(1)}}).code, -2);
  EXPECT_EQ(session.Command("LOAD-SETTINGS-NOW", {{"INI-FILE", Text("b.ini")}}).code, -2);
  EXPECT_EQ(saves, (std::vector<std::string>{"other.ini", "main.ini"}));
  EXPECT_EQ(loads, (std::vector<std::string>{"b.ini"}));
  EXPECT_EQ(p->INIFile, "main.ini");
}

TEST_F(Commands, Events) {
  std::string seen;
  UseClass([&](TestPlugin& p) {
    p.EventsSupported = "PORT-OPEN";
    p.OnEvent = [&](TkelPlugin&, const std::string& e, TPluginCallRec*, int32_t& r) {
      seen = e;
      if (e == "BOOM") throw std::runtime_error("bad event");
      if (e == "PORT-OPEN") r = 4;
    };
  });
  ASSERT_EQ(session.Create(), 0);
  EXPECT_EQ(session.Command("EVENT").code, -1);
  EXPECT_EQ(session.Command("EVENT", {{"EVENT-TYPE", host::HostValue{KEL_VT_NULL, 0, 0, {}}}}).code, -1);
  EXPECT_EQ(session.Command("EVENT", {{"EVENT-TYPE", Text("PORT-OPEN")}}).code, 4);
  EXPECT_EQ(session.Command("EVENT", {{"EVENT-TYPE", Text("USER-LOGON")}}).code, -1);  // handler left it
  EXPECT_EQ(seen, "USER-LOGON");
  EXPECT_EQ(session.Command("EVENT", {{"EVENT-TYPE", Text("BOOM")}}).code, -3);
  EXPECT_NE(session.DrainLog().find("{EVENT} bad event"), std::string::npos);
  EXPECT_EQ(session.Command("EVENTS-SUPPORT").result.ToText(), "PORT-OPEN");
}

TEST_F(Commands, EventWithoutHandlerSucceeds) {
  ASSERT_EQ(session.Create(), 0);
  EXPECT_EQ(session.Command("EVENT", {{"EVENT-TYPE", Text("USER-LOGON")}}).code, 0);
}

TEST(CustomCommandText, ReadAndWrite) {
  TkelPluginCustomCmdList list;
  list.SetText("a|b|c|d\r\n\r\nx|y|z|1|0\r\np|q|r|true|1|extra\n");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_FALSE(list.Items(1).Col4);  // "true" is not "1"
  EXPECT_TRUE(list.Items(1).Col5);
  EXPECT_EQ(list.GetText(), "x|y|z|1|0\r\np|q|r|0|1\r\n");
  list.SetText("x|y|z|1|0");  // appends
  EXPECT_EQ(list.Count(), 3);
}

}  // namespace
}  // namespace kel::testing

namespace kel::testing {
namespace {

// A CR at the very end of the item text belongs to the last field, so the
// text form reads back as it was written.
TEST(ParserItemText, TrailingCarriageReturnRoundTrips) {
  TParserItemList items = ParserItemsFromText("Desc|NAME|0|attr\r");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Attribute, "attr\r");
  std::string text = ParserItemsToText(items);
  EXPECT_EQ(ParserItemsToText(ParserItemsFromText(text)), text);
  EXPECT_EQ(ParserItemsFromText("Desc|NAME|0|attr\r\nD2|N2|0|\r\n").size(), 2u);
  EXPECT_EQ(ParserItemsFromText("Desc|NAME|0|attr\r\nD2|N2|0|\r\n")[0].Attribute, "attr");
}

}  // namespace
}  // namespace kel::testing
