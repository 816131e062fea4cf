#include "runtime/settings/wreg.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "params/params_list.h"
#include "platform/port.h"
#include "platform/registry.h"
#include "runtime/settings/ini_file.h"
#include "runtime/settings/persistence_map.h"
#include "runtime/settings/proxy_code_object.h"
#include "temp_dir.h"

namespace kel::testing {
namespace {

TEST(PersistenceMap, LineParsing) {
  TMapLine l = ParseMapLine("  spMinInt.Value,Min interval ; the minimum  ");
  EXPECT_EQ(l.propertyPath, "spMinInt.Value");
  EXPECT_EQ(l.subPath, "");
  EXPECT_EQ(l.valueName, "Min interval");
  EXPECT_TRUE(ParseMapLine(";---short---").comment);
  EXPECT_TRUE(ParseMapLine("   ").comment);
  l = ParseMapLine("Left");
  EXPECT_EQ(l.propertyPath, "Left");
  EXPECT_TRUE(l.keyPath.empty());
  l = ParseMapLine("A;B");  // no comma: the ";" separates
  EXPECT_EQ(l.propertyPath, "A");
  EXPECT_EQ(l.valueName, "B");
  l = ParseMapLine("P,\\Sub\\\\Deeper\\Name");
  EXPECT_EQ(l.subPath, "Sub\\Deeper");
  EXPECT_EQ(l.valueName, "Name");
  EXPECT_EQ(PropertyName("spMinInt.Value"), "spMinInt_Value");
}

TEST(PersistenceMap, IniSections) {
  using Op = TWregOperation;
  EXPECT_EQ(IniSection("", "", Op::Save), "Common");
  EXPECT_EQ(IniSection("", "Cfg", Op::Load), "Cfg.Common");
  EXPECT_EQ(IniSection("", "Cfg/", Op::Save), "Cfg");
  EXPECT_EQ(IniSection("", "Cfg\\", Op::ListValues), "Cfg");
  EXPECT_EQ(IniSection("Sub", "", Op::Save), "Sub");
  EXPECT_EQ(IniSection("Sub", "Cfg", Op::Save), "Cfg.Sub");
  EXPECT_EQ(IniSection("Sub\\Deeper", "", Op::Save), "Sub.Deeper");
  EXPECT_EQ(IniSection("", "", Op::Delete), "");
  EXPECT_EQ(IniSection("", "Cfg", Op::ListKeys), "Cfg");
  EXPECT_EQ(IniLockName("/Tmp/My Settings.INI"), "_tmp_my_settings_ini");
}

class WregTest : public ::testing::Test {
 protected:
  TempDir dir_;
  ScopedRegistryDir scoped_{dir_.path()};

  void UseIni(TWreg& w, const std::string& prefix = "") {
    w.INIFile = dir_.File("settings.ini");
    w.INIFileSectionPrefix = prefix;
  }
  void UseRegistry(TWreg& w) {
    w.RegistryRoot = TRegistryRoot::rrHKEY_CURRENT_USER;
    w.RegistryPath = "\\Software\\Test\\App";
  }
  TIniFile ReadIni() {
    std::string text;
    port::ReadFile(dir_.File("settings.ini"), &text);
    return TIniFile(text);
  }
};

TEST_F(WregTest, ProxyDefaultsGoToCommonSection) {
  TProxyCodeObject proxy;
  TWreg w;
  UseIni(w);
  w.Components.Add("Left,Left");
  EXPECT_TRUE(w.Save({&proxy, nullptr}));
  EXPECT_EQ(ReadIni().ReadString("Common", "Left", ""), "326");
  TWreg prefixed;
  UseIni(prefixed, "Cfg");
  prefixed.Components.Add("Left,Left");
  prefixed.Save({&proxy, nullptr});
  EXPECT_EQ(ReadIni().ReadString("Cfg.Common", "Left", ""), "326");
}

TEST_F(WregTest, ProxyDefaultsInRegistryAsInteger) {
  TProxyCodeObject proxy;
  TWreg w;
  UseRegistry(w);
  w.Components.Add("Left,Left");
  w.Components.Add("spMinInt.Value,Sub\\Min interval");
  proxy.spMinInt_Value = 1.5;
  ASSERT_TRUE(w.Save({&proxy, nullptr}));
  port::Registry reg(port::kHKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey("\\Software\\Test\\App", false));
  EXPECT_EQ(reg.GetDataType("Left"), port::RegType::Integer);
  ASSERT_TRUE(reg.OpenKey("\\Software\\Test\\App\\Sub", false));
  EXPECT_EQ(reg.GetDataType("Min interval"), port::RegType::Binary);
}

// Every kind of value through both stores.
class WregRoundTrip : public WregTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WregRoundTrip, EveryKind) {
  const bool ini = GetParam();
  const char* map[] = {"Left,Left", "spMinInt.Value,Interval", "lblParams.Caption,Texts\\Caption",
                       "chkReadDevProp.Checked,Read properties", "OpenDialog.FileName,Texts\\Open"};
  TProxyCodeObject out;
  out.Left = -5;
  out.spMinInt_Value = 0.25;
  out.lblParams_Caption = "  two leading, 100% \xC3\xBC";
  out.chkReadDevProp_Checked = false;
  out.OpenDialog_FileName = "trailing ";
  TWreg save;
  if (ini) UseIni(save);
  else UseRegistry(save);
  for (auto l : map) save.Components.Add(l);
  ASSERT_TRUE(save.Save({&out, nullptr}));

  TProxyCodeObject in;
  TWreg load;
  if (ini) UseIni(load);
  else UseRegistry(load);
  for (auto l : map) load.Components.Add(l);
  ASSERT_TRUE(load.Load({&in, nullptr}));
  EXPECT_EQ(in.Left, -5);
  EXPECT_EQ(in.spMinInt_Value, 0.25);
  EXPECT_EQ(in.lblParams_Caption, out.lblParams_Caption);
  EXPECT_FALSE(in.chkReadDevProp_Checked);
  EXPECT_EQ(in.OpenDialog_FileName, "trailing ");
}

INSTANTIATE_TEST_SUITE_P(Stores, WregRoundTrip, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Ini" : "Registry"; });

TEST_F(WregTest, ParameterListEntries) {
  TkelParamsList out;
  out.Add("Port", Variant(int32_t{47808}));
  out.Add("Host", Variant("10.0.0.1"));
  TWreg w;
  UseIni(w);
  w.Components.Add("Port,Net\\Port");
  w.Components.Add("Host,Net\\Host");
  w.Components.Add("Missing,Net\\Missing");
  ASSERT_TRUE(w.Save({nullptr, &out}));
  TkelParamsList in;
  ASSERT_TRUE(w.Load({nullptr, &in}));
  EXPECT_EQ(in.GetValue("Port").ToInt32(), 47808);
  EXPECT_EQ(in.GetValue("Host").ToAnsi(), "10.0.0.1");
  EXPECT_EQ(in.IndexOf("Missing"), -1);  // nothing stored: nothing added
}

TEST_F(WregTest, SavingEmptyTextDeletesTheStoredValue) {
  TProxyCodeObject proxy;
  proxy.lblParams_Caption = "x";
  TWreg w;
  UseIni(w);
  w.Components.Add("lblParams.Caption,Caption");
  w.Save({&proxy, nullptr});
  EXPECT_TRUE(ReadIni().ValueExists("Common", "Caption"));
  proxy.lblParams_Caption.clear();
  w.Save({&proxy, nullptr});
  EXPECT_FALSE(ReadIni().ValueExists("Common", "Caption"));
}

TEST_F(WregTest, CommentsAndLinesWithoutKeyChangeNothing) {
  TProxyCodeObject proxy;
  TWreg w;
  UseIni(w);
  w.Components.Add(";---short---");
  w.Components.Add("");
  w.Components.Add("Left");
  EXPECT_FALSE(w.Save({&proxy, nullptr}));
  EXPECT_FALSE(port::FileExists(dir_.File("settings.ini")) && ReadIni().SectionNames().size() > 0);
  EXPECT_EQ(w.Components.Count(), 3u);  // the map is the component's own again
}

TEST_F(WregTest, MissingIniFileLoadsFromRegistry) {
  TProxyCodeObject proxy;
  proxy.Top = 999;
  TWreg reg;
  UseRegistry(reg);
  reg.Components.Add("Top,Top");
  ASSERT_TRUE(reg.Save({&proxy, nullptr}));
  TProxyCodeObject in;
  TWreg w;
  UseRegistry(w);
  w.INIFile = dir_.File("does-not-exist.ini");
  w.Components.Add("Top,Top");
  ASSERT_TRUE(w.Load({&in, nullptr}));
  EXPECT_EQ(in.Top, 999);
}

TEST_F(WregTest, FirstRootUnusableFallsBackToSecond) {
  std::string blocker = dir_.File("blocker");
  ASSERT_TRUE(port::WriteFileAtomic(blocker, "x"));
  setenv("BACNETIP_REGISTRY_MACHINE_DIR", (blocker + "/m").c_str(), 1);
  TProxyCodeObject proxy;
  TWreg w;  // default roots: local machine, then current user
  w.RegistryPath = "\\Software\\Test\\App";
  w.Components.Add("Width,Width");
  ASSERT_TRUE(w.Save({&proxy, nullptr}));
  port::Registry user(port::kHKEY_CURRENT_USER);
  ASSERT_TRUE(user.OpenKey("\\Software\\Test\\App", false));
  int32_t v = 0;
  EXPECT_TRUE(user.ReadInteger("Width", &v));
  EXPECT_EQ(v, 481);
  w.RegistryRoot = TRegistryRoot::rrNone;
  EXPECT_FALSE(w.Save({&proxy, nullptr}));
}

TEST_F(WregTest, WrongTypeInRegistryIsSkippedAndDeleted) {
  {
    port::Registry reg(port::kHKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("\\Software\\Test\\App", true));
    ASSERT_TRUE(reg.WriteString("Left", "not a number"));
  }
  TProxyCodeObject proxy;
  TWreg w;
  UseRegistry(w);
  w.Components.Add("Left,Left");
  w.Load({&proxy, nullptr});
  EXPECT_EQ(proxy.Left, 326);
  port::Registry reg(port::kHKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey("\\Software\\Test\\App", false));
  EXPECT_FALSE(reg.ValueExists("Left"));
}

TEST_F(WregTest, WrongTypeInIniIsSkipped) {
  ASSERT_TRUE(port::WriteFileAtomic(dir_.File("settings.ini"),
                                    "[Common]\r\nLeft=abc\r\nMin interval=1,5x\r\nRead=maybe\r\nTop=77\r\n"));
  TProxyCodeObject proxy;
  TWreg w;
  UseIni(w);
  for (auto l : {"Left,Left", "spMinInt.Value,Min interval", "chkReadDevProp.Checked,Read", "Top,Top"})
    w.Components.Add(l);
  EXPECT_TRUE(w.Load({&proxy, nullptr}));
  EXPECT_EQ(proxy.Left, 326);  // kept, not turned into 0
  EXPECT_EQ(proxy.spMinInt_Value, 0);
  EXPECT_TRUE(proxy.chkReadDevProp_Checked);
  EXPECT_EQ(proxy.Top, 77);
}

TEST_F(WregTest, OversizedIniFileIsNeitherReadNorReplaced) {
  std::string file = dir_.File("settings.ini");
  ASSERT_TRUE(port::WriteFileAtomic(file, "[Common]\r\nTop=1\r\n"));
  std::filesystem::resize_file(file, std::uintmax_t{1} << 30);  // sparse: takes no disk space
  TProxyCodeObject proxy;
  TWreg w;
  UseIni(w);
  w.Components.Add("Top,Top");
  EXPECT_FALSE(w.Load({&proxy, nullptr}));
  EXPECT_FALSE(w.Save({&proxy, nullptr}));
  EXPECT_EQ(std::filesystem::file_size(file), std::uintmax_t{1} << 30);
}

TEST_F(WregTest, DeepIniPathAndOddNames) {
  std::string deep = dir_.path();
  for (int i = 0; i < 3; ++i) deep += "/" + std::string(90, static_cast<char>('a' + i));
  ASSERT_TRUE(port::CreateDirectories(deep));
  TProxyCodeObject proxy;
  proxy.Top = 5;
  TWreg w;
  w.INIFile = deep + "/settings (copy) #1.ini";
  w.Components.Add("Left,Odd]Sub\\Left");
  w.Components.Add("Top,Sub \\Top");
  w.Components.Add("Width,Sub\\Wi=dth");  // a key an INI file cannot hold: not written
  ASSERT_TRUE(w.Save({&proxy, nullptr}));
  TProxyCodeObject in;
  in.Left = in.Top = in.Width = 0;
  ASSERT_TRUE(w.Load({&in, nullptr}));
  EXPECT_EQ(in.Left, 326);
  EXPECT_EQ(in.Top, 5);
  EXPECT_EQ(in.Width, 0);
}

TEST_F(WregTest, RegistryDeleteRules) {
  TProxyCodeObject proxy;
  TWreg w;
  UseRegistry(w);
  w.Components.Add("Left,Group\\Left");
  w.Components.Add("Top,Group\\Inner\\Top");
  ASSERT_TRUE(w.Save({&proxy, nullptr}));
  TStrings del;
  del.Add("x,Group\\Left");
  ASSERT_TRUE(w.Delete(del));
  port::Registry reg(port::kHKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey("\\Software\\Test\\App\\Group", false));
  EXPECT_FALSE(reg.ValueExists("Left"));
  TStrings subtree;
  subtree.Add("x,Group");  // names a key: deleted with all below it
  w.Delete(subtree);
  EXPECT_FALSE(reg.KeyExists("\\Software\\Test\\App\\Group"));
  // Too short a path deletes nothing.
  TWreg shortPath;
  shortPath.RegistryRoot = TRegistryRoot::rrHKEY_CURRENT_USER;
  shortPath.RegistryPath = "\\Software";
  TProxyCodeObject p2;
  shortPath.Components.Add("Left,Left");
  ASSERT_TRUE(shortPath.Save({&p2, nullptr}));
  TStrings del2;
  del2.Add("x,Left");
  shortPath.Delete(del2);
  ASSERT_TRUE(reg.OpenKey("\\Software", false));
  EXPECT_TRUE(reg.ValueExists("Left"));
}

TEST_F(WregTest, IniDeleteAndListing) {
  TProxyCodeObject proxy;
  TWreg w;
  UseIni(w, "Cfg");
  w.Components.Add("Left,Devices\\A\\Left");
  w.Components.Add("Top,Devices\\B\\Top");
  w.Components.Add("Width,Devices\\B\\Deep\\Width");
  ASSERT_TRUE(w.Save({&proxy, nullptr}));
  TStrings keys;
  keys.Add("x,Devices\\x");
  ASSERT_TRUE(w.ListKeys(keys));
  ASSERT_EQ(keys.Count(), 2u);
  EXPECT_EQ(keys[0], "A");
  EXPECT_EQ(keys[1], "B");
  TStrings values;
  values.Add("x,Devices\\B\\x");
  ASSERT_TRUE(w.ListValues(values));
  ASSERT_EQ(values.Count(), 1u);
  EXPECT_EQ(values[0], "Top");
  TStrings del;
  del.Add("x,Devices\\B");  // sections Cfg.Devices.B and below
  ASSERT_TRUE(w.Delete(del));
  TIniFile ini = ReadIni();
  EXPECT_TRUE(ini.SectionExists("Cfg.Devices.A"));
  EXPECT_FALSE(ini.SectionExists("Cfg.Devices.B"));
  EXPECT_FALSE(ini.SectionExists("Cfg.Devices.B.Deep"));
}

TEST_F(WregTest, VirtualItemsTravelThroughEvents) {
  TWreg w;
  UseIni(w);
  w.Components.Add("Virtual.Thing,Thing");
  w.OnBeforeProcessItem = [](TWreg&, const std::string& name, int32_t, bool& require, bool& isVirtual,
                             TWregKind& kind) {
    if (name == "Virtual.Thing") {
      require = true;
      isVirtual = true;
      kind = TWregKind::Text;
    }
  };
  w.OnGetValue = [](TWreg&, const std::string&, int32_t, Variant& v) { v = Variant(" spaced 50%"); };
  ASSERT_TRUE(w.Save({}));
  EXPECT_EQ(ReadIni().ReadString("Common", "Thing", ""), "+spaced 50%%");
  std::string loaded;
  w.OnSetValue = [&loaded](TWreg&, const std::string&, int32_t, const Variant& v) { loaded = v.ToAnsi(); };
  ASSERT_TRUE(w.Load({}));
  EXPECT_EQ(loaded, " spaced 50%");
}

TEST_F(WregTest, UnwritableFolderReportsFalse) {
  std::string blocker = dir_.File("blocker");
  ASSERT_TRUE(port::WriteFileAtomic(blocker, "x"));
  TProxyCodeObject proxy;
  TWreg w;
  w.INIFile = blocker + "/settings.ini";  // a folder that is a file
  w.Components.Add("Left,Left");
  EXPECT_FALSE(w.Save({&proxy, nullptr}));
}

TEST_F(WregTest, TwoProcessesSavingOneIniFileKeepBothKeys) {
  const int kRounds = 30;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  auto saveMany = [&](const std::string& tag) {
    for (int i = 0; i < kRounds; ++i) {
      TkelParamsList list;
      list.Add(tag + std::to_string(i), Variant(int32_t{i}));
      TWreg w;
      UseIni(w);
      w.Components.Add(tag + std::to_string(i) + "," + tag + "\\" + tag + std::to_string(i));
      if (!w.Save({nullptr, &list})) return false;
    }
    return true;
  };
  if (child == 0) _exit(saveMany("child") ? 0 : 1);
  EXPECT_TRUE(saveMany("parent"));
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  TIniFile ini = ReadIni();
  EXPECT_EQ(ini.SectionKeys("child").size(), static_cast<size_t>(kRounds));
  EXPECT_EQ(ini.SectionKeys("parent").size(), static_cast<size_t>(kRounds));
}

TEST_F(WregTest, KilledSaveLeavesOldOrNewFile) {
  TProxyCodeObject proxy;
  proxy.lblParams_Caption = std::string(50000, 'o');
  TWreg first;
  UseIni(first);
  first.Components.Add("lblParams.Caption,Caption");
  ASSERT_TRUE(first.Save({&proxy, nullptr}));
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TProxyCodeObject p;
    p.lblParams_Caption = std::string(80000, 'n');
    TWreg w;
    UseIni(w);
    w.Components.Add("lblParams.Caption,Caption");
    char c = 1;
    if (write(ready[1], &c, 1) != 1) _exit(1);
    for (;;) w.Save({&p, nullptr});
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  std::string caption = ReadIni().ReadString("Common", "Caption", "");
  EXPECT_TRUE(caption == std::string(50000, 'o') || caption == std::string(80000, 'n'));
}

}  // namespace
}  // namespace kel::testing

namespace kel::testing {
namespace {

// A small component tree: a form owning an edit box whose lines and whose
// buddy (a reference to another component) are persisted.
class TTestEdit : public TComponent {
 public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  TStrings Lines;
  TComponent* Buddy = nullptr;
  TComponent* DockSite = nullptr;
  int32_t MaxLength = 0;
};

const TPropInfo kEditProps[] = {StringsProp<&TTestEdit::Lines>("Lines"), RefProp<&TTestEdit::Buddy>("Buddy"),
                                RefProp<&TTestEdit::DockSite>("DockSite"),
                                IntProp<&TTestEdit::MaxLength>("MaxLength")};

const TClassInfo& TTestEdit::StaticClass() {
  static const TClassInfo info{"TTestEdit", &TComponent::StaticClass(), kEditProps, std::size(kEditProps)};
  return info;
}

TEST_F(WregTest, ComponentTreeObjectsAndReferences) {
  const char* map[] = {"Edit1.Lines,Edit\\Lines", "Edit1.Buddy,Edit\\Buddy", "Edit1.DockSite,Edit\\Dock",
                       "Edit1.MaxLength,Edit\\Max", "Nobody.MaxLength,Edit\\Ghost"};
  TComponent form;
  auto* edit = new TTestEdit(&form);
  edit->SetName("Edit1");
  auto* label = new TComponent(&form);
  label->SetName("Label1");
  edit->Lines.SetText("first line\r\n 100% second\r\n");
  edit->Buddy = label;
  edit->MaxLength = 12;
  for (bool ini : {true, false}) {
    TWreg w;
    if (ini) UseIni(w);
    else UseRegistry(w);
    for (auto l : map) w.Components.Add(l);
    ASSERT_TRUE(w.Save({&form, nullptr}));

    TComponent form2;
    auto* edit2 = new TTestEdit(&form2);
    edit2->SetName("Edit1");
    auto* label2 = new TComponent(&form2);
    label2->SetName("Label1");
    auto* dock = new TComponent(&form2);
    edit2->DockSite = dock;  // nothing stored: a Dock reference stays
    ASSERT_TRUE(w.Load({&form2, nullptr}));
    EXPECT_EQ(edit2->Lines.Text(), "first line\r\n 100% second\r\n") << ini;
    EXPECT_EQ(edit2->Buddy, label2) << ini;
    EXPECT_EQ(edit2->DockSite, dock) << ini;
    EXPECT_EQ(edit2->MaxLength, 12) << ini;
  }
  // A stored null clears a reference, except one whose name says Dock.
  ASSERT_TRUE(port::WriteFileAtomic(dir_.File("settings.ini"), "[Edit]\r\nBuddy=[[Null]]\r\nDock=[[Null]]\r\n"));
  auto* dock = new TComponent(&form);
  edit->DockSite = dock;
  TWreg w;
  UseIni(w);
  for (auto l : map) w.Components.Add(l);
  ASSERT_TRUE(w.Load({&form, nullptr}));
  EXPECT_EQ(edit->Buddy, nullptr);
  EXPECT_EQ(edit->DockSite, dock);
}

}  // namespace
}  // namespace kel::testing
