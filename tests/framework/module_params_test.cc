// Module parameters and settings through GET-/SET-MODULE-PARAMETER and the
// settings commands, driven as a host drives them.
#include <gtest/gtest.h>

#include <filesystem>

#include "framework/module_settings.h"
#include "framework_fixture.h"
#include "module/ta_plugin.h"
#include "platform/port.h"
#include "runtime/settings/ini_file.h"

namespace kel::testing {
namespace {

using host::Int;
using host::Text;

class ModuleParams : public FrameworkTest {
 protected:
  std::shared_ptr<TkelPlugin> Instance() { return ResolveHandle(session.Handle()); }
  std::string Get(const std::string& name) {
    auto r = session.Command("GET-MODULE-PARAMETER", {{"PARAM", Text(name)}});
    EXPECT_EQ(r.code, 0);
    return r.result.ToText();
  }
  host::HostValue GetValue(const std::string& name) {
    return session.Command("GET-MODULE-PARAMETER", {{"PARAM", Text(name)}}).result;
  }
  bool Set(const std::string& name, const host::HostValue& value) {
    auto r = session.Command("SET-MODULE-PARAMETER", {{"PARAM", Text(name)}, {"VALUE", value}});
    EXPECT_EQ(r.code, 0);
    return r.result.ToText() == "True";
  }
  host::HostSession session{CoreExports()};
};

TEST_F(ModuleParams, NamesIgnoreCaseButPrefixesDoNot) {
  ASSERT_EQ(session.Create(), 0);
  EXPECT_TRUE(Set("logtitle", Text("My title")));
  EXPECT_EQ(Get("LOGTITLE"), "My title");
  Instance()->SetParserItemsText("first|A|0|0\r\nsecond|B|0|0\r\nthird|C|0|0\r\n", true);
  EXPECT_EQ(Get("ParserItemsCount"), "3");
  EXPECT_EQ(Get("ParserItemName2"), "C");
  EXPECT_EQ(Get("ParserItemDesc0"), "first");
  EXPECT_EQ(Get("ParserItemName3"), "");    // not below the count
  EXPECT_EQ(Get("parseritemname0"), "");    // the prefix is exact
  EXPECT_EQ(Get("ParserItemName-1"), "");
  EXPECT_EQ(Get("ParserItemName0001"), "A");  // at most three characters are read: "000"
  EXPECT_EQ(GetValue("ParserItemType0").vt, KEL_VT_I1);
  EXPECT_EQ(Get("No such parameter"), "");
  EXPECT_FALSE(Set("No such parameter", Int(1)));
}

TEST_F(ModuleParams, ValueTypes) {
  ASSERT_EQ(session.Create(), 0);
  EXPECT_EQ(GetValue("ModuleType").vt, KEL_VT_UI4);
  EXPECT_EQ(GetValue("ModuleLoadCount").vt, KEL_VT_I4);
  EXPECT_EQ(GetValue("ModuleRegistryRoot1").vt, KEL_VT_UI1);
  EXPECT_EQ(GetValue("ModuleRegistryRoot1").ToInt(), 2);
  EXPECT_EQ(GetValue("TerminateNow").vt, KEL_VT_BOOL);
  EXPECT_EQ(GetValue("Description").vt, KEL_VT_BSTR);
}

TEST_F(ModuleParams, ModuleTypeAndEnabledMask) {
  ASSERT_EQ(session.Create(), 0);
  EXPECT_TRUE(Set("ModuleType", Int(0x103)));
  EXPECT_EQ(Get("ModuleType"), "3");  // bits 0..7 only
  EXPECT_FALSE(Set("ModuleType", Text("many")));
  EXPECT_EQ(Get("ModuleType"), "3");
  host::HostValue empty;
  EXPECT_TRUE(Set("ModuleType", empty));
  EXPECT_EQ(Get("ModuleType"), "0");
  session.Command("SET-STATE", {{"RESULT", Int(1)}}, 1, 0x05);
  EXPECT_EQ(Get("ModuleEnabled"), "5");
}

TEST_F(ModuleParams, CustomParameters) {
  ASSERT_EQ(session.Create(), 0);
  EXPECT_TRUE(Set("Custom_abc", Int(5)));
  EXPECT_EQ(Get("Customabc"), "5");
  EXPECT_EQ(Get("Custom abc"), "5");
  EXPECT_EQ(Get("CustomCOUNT"), "1");
  EXPECT_TRUE(Set("Custom:x", Text("second")));
  EXPECT_EQ(Get("Custom1"), "second");  // a short number is an index
  EXPECT_TRUE(Set("Custom_0", Int(7)));  // replaces the value at index 0
  EXPECT_EQ(Get("Customabc"), "7");
  EXPECT_TRUE(Set("Custom9", Int(1)));  // index beyond the count: nothing
  EXPECT_EQ(Get("CustomCOUNT"), "2");
  EXPECT_EQ(GetValue("Custom5").vt, KEL_VT_NULL);
  EXPECT_EQ(GetValue("Customnothing").vt, KEL_VT_NULL);
  EXPECT_TRUE(Set("Custom:COUNT", Int(123)));
  EXPECT_EQ(Get("CustomCOUNT"), "0");
  EXPECT_EQ(Get("Custom"), "");
  EXPECT_FALSE(Set("Custom", Int(1)));
  EXPECT_FALSE(Set("custom_abc", Int(1)));  // the prefix is exact
}

TEST_F(ModuleParams, TranslatorPropertiesAndCustomCommands) {
  ASSERT_EQ(session.Create(), 0);
  EXPECT_TRUE(Set("TranslatorComponentProperties", Text("Hint;Filter|Title")));
  std::string props = Get("TranslatorComponentProperties");
  EXPECT_NE(props.find("Filter"), std::string::npos);
  EXPECT_NE(props.find("MsgNoData"), std::string::npos);
  EXPECT_TRUE(Set("CustomCommands", Text("A|B|C|1|0\r\nshort|line\r\n")));
  EXPECT_EQ(Get("CustomCommands"), "A|B|C|1|0\r\n");
}

TEST_F(ModuleParams, ConfigurationIdentifierAndDataPath) {
  ASSERT_EQ(session.Create(), 0);
  auto p = Instance();
  p->INISectionPrefix = "{Plant:Boiler house}";
  EXPECT_EQ(GetModuleConfigId(*p), "Boiler house");
  p->INISectionPrefix = "{Plant}";
  EXPECT_EQ(GetModuleConfigId(*p), "Plant");
  p->INISectionPrefix = "";
  EXPECT_EQ(GetModuleConfigId(*p), "");
  p->ModuleRegistryPath = "\\Software\\Vendor\\Logger App\\Plugins";
  p->Description = "Bacnet/IP\r\nsecond line";
  std::string path = GetModuleDataPath(*p);
  std::string app = GetAppDataPath(*p);
  EXPECT_EQ(app.substr(app.size() - 11), "Logger App/");
  EXPECT_EQ(path, app + "Bacnet-IP/");
  EXPECT_EQ(GetModuleDataPath(*p, "Logs"), app + "Logs/Bacnet-IP/");
  p->INISectionPrefix = "{Plant:Boiler}";
  EXPECT_EQ(GetModuleDataPath(*p, "*"), app + "Bacnet-IP/");
  EXPECT_EQ(GetModuleDataPath(*p), app + "Boiler/Bacnet-IP/");
  EXPECT_EQ(MakeValidFileName("COM1"), "_COM1");
  EXPECT_EQ(MakeValidFileName("a<b>c"), "a-b-c");
}

// The BACnet module's options through the settings commands and an INI file.
class ModuleSettings : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    bacnet_module::RegisterModuleClass();
    dir_ = std::filesystem::temp_directory_path() / ("bacnetip-settings-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    const char* before = getenv("BACNETIP_REGISTRY_DIR");
    savedDir_ = before ? before : "";
    setenv("BACNETIP_REGISTRY_DIR", dir_.c_str(), 1);
    ini_ = (dir_ / "options.ini").string();
  }
  void TearDown() override {
    FrameworkTest::TearDown();
    if (savedDir_.empty()) unsetenv("BACNETIP_REGISTRY_DIR");
    else setenv("BACNETIP_REGISTRY_DIR", savedDir_.c_str(), 1);
    std::filesystem::remove_all(dir_);
  }
  std::string savedDir_;
  bacnet_module::TaPlugin* Plugin(host::HostSession& s) {
    auto p = ResolveHandle(s.Handle());
    return static_cast<bacnet_module::TaPlugin*>(p.get());
  }
  std::filesystem::path dir_;
  std::string ini_;
};

TEST_F(ModuleSettings, OptionsSurviveAnInstance) {
  {
    host::HostSession s{CoreExports()};
    ASSERT_EQ(s.Create(), 0);
    ASSERT_EQ(s.Command("LOAD", {{"INI-FILE", Text(ini_)}, {"INI-SECTION-PREFIX", Text("BACnet")}}).code, 0);
    auto* p = Plugin(s);
    ASSERT_NE(p->Config, nullptr);
    EXPECT_EQ(p->Config->Left, 326);  // nothing stored yet: the defaults
    p->Config->lblParams_Caption = "<MODBUSRTUQUERY>  <REQUEST/> </MODBUSRTUQUERY>";
    p->Config->spMinInt_Value = 250;
    p->Config->chkReadDevProp_Checked = false;
    EXPECT_FALSE(p->Config->chkFreshOnly_Checked) << "off unless chosen";
    p->Config->chkFreshOnly_Checked = true;
    EXPECT_FALSE(p->Config->chkFastPace_Checked) << "the designed pace unless chosen";
    p->Config->chkFastPace_Checked = true;
    p->Config->spInFlight_Value = 40;
    p->Config->spInFlightDev_Value = 3;
    EXPECT_TRUE(p->Config->chkDiagnosis_Checked) << "on unless turned off";
    p->Config->chkDiagnosis_Checked = false;
    p->Config->edtBbmd_Text = "10.0.0.1";
    p->Config->spBbmdPort_Value = 47809;
    p->Config->spBbmdTtl_Value = 600;
    EXPECT_FALSE(p->Config->chkReadMultiple_Checked) << "ReadProperty unless chosen";
    p->Config->chkReadMultiple_Checked = true;
    EXPECT_EQ(s.Command("SAVE-SETTINGS-NOW", {{"INI-FILE", Text(ini_)}}).code, -2);
    EXPECT_EQ(s.Command("UNLOAD", {{"INI-FILE", Text(ini_)}}).code, 0);
    EXPECT_EQ(p->Config, nullptr);
  }
  std::string text;
  ASSERT_TRUE(port::ReadFile(ini_, &text));
  TIniFile ini(text);
  EXPECT_EQ(ini.ReadString("BACnet.Common", "Parser config", ""), "<MODBUSRTUQUERY>+ <REQUEST/> </MODBUSRTUQUERY>");
  EXPECT_EQ(ini.ReadString("BACnet.Common", "Read dev props", ""), "False");
  EXPECT_EQ(ini.ReadString("BACnet.Common", "Fresh values only", ""), "True");

  host::HostSession s{CoreExports()};
  ASSERT_EQ(s.Create(), 0);
  ASSERT_EQ(s.Command("LOAD", {{"INI-FILE", Text(ini_)}, {"INI-SECTION-PREFIX", Text("BACnet")}}).code, 0);
  auto* p = Plugin(s);
  ASSERT_NE(p->Config, nullptr);
  EXPECT_EQ(p->Config->lblParams_Caption, "<MODBUSRTUQUERY>  <REQUEST/> </MODBUSRTUQUERY>");
  EXPECT_EQ(p->Config->spMinInt_Value, 250);
  EXPECT_FALSE(p->Config->chkReadDevProp_Checked);
  EXPECT_TRUE(p->Config->chkFreshOnly_Checked);
  EXPECT_TRUE(p->Config->chkFastPace_Checked);
  EXPECT_EQ(p->Config->spInFlight_Value, 40);
  EXPECT_EQ(p->Config->spInFlightDev_Value, 3);
  EXPECT_FALSE(p->Config->chkDiagnosis_Checked);
  EXPECT_EQ(p->Config->edtBbmd_Text, "10.0.0.1");
  EXPECT_EQ(p->Config->spBbmdPort_Value, 47809);
  EXPECT_EQ(p->Config->spBbmdTtl_Value, 600);
  EXPECT_TRUE(p->Config->chkReadMultiple_Checked);
  EXPECT_EQ(ini.ReadString("BACnet.Common", "Read multiple", ""), "True");
  // LOAD-SETTINGS-NOW reads the file again.
  p->Config->spMinInt_Value = 1;
  EXPECT_EQ(s.Command("LOAD-SETTINGS-NOW", {{"INI-FILE", Text(ini_)}, {"NO-SAVE", Int(1)}}).code, -2);
  EXPECT_EQ(p->Config->spMinInt_Value, 250);
  EXPECT_EQ(p->INIFile, ini_);  // the remembered file is put back
  EXPECT_FALSE(p->SettingsBusy);
}

TEST_F(ModuleSettings, WithoutIniFileTheRegistryIsUsed) {
  host::HostSession s{CoreExports()};
  ASSERT_EQ(s.Create(), 0);
  ASSERT_EQ(s.Command("LOAD", {{"REGISTRY-PATH", Text("\\Software\\Test\\Logger")}}).code, 0);
  auto* p = Plugin(s);
  p->ModuleRegistryRoot1 = static_cast<uint8_t>(TRegistryRoot::rrHKEY_CURRENT_USER);
  p->Config->Width = 800;
  s.Command("SAVE-SETTINGS-NOW");
  p->Config->Width = 1;
  s.Command("LOAD-SETTINGS-NOW", {{"NO-SAVE", Int(1)}});
  EXPECT_EQ(p->Config->Width, 800);
  EXPECT_EQ(p->Properties->Strings.Count(), 19u);
  EXPECT_EQ(p->Properties->Tag(), 9999);
}

}  // namespace
}  // namespace kel::testing
