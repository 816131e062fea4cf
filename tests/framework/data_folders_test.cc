// Where an instance keeps its data: the application-data folder named by
// its registry path, the configuration it was loaded for, the form of its
// names on disk; and the message pump, which has nothing to pump on POSIX.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "framework/module_config_list.h"
#include "framework/module_settings.h"
#include "framework_fixture.h"
#include "platform/port.h"
#include "runtime/messages.h"
#include "runtime/settings/app_data.h"

namespace kel::testing {
namespace {

class DataFolders : public FrameworkTest {
 protected:
  std::shared_ptr<TkelPlugin> Instance() { return ResolveHandle(session.Handle()); }
  host::HostSession session{CoreExports()};
};

TEST(ModuleConfigList, NamesByNumberFirstWins) {
  TModuleConfigList configs;
  EXPECT_EQ(configs.NameOf(0), "");
  configs.Add("Plant A", 3);
  configs.Add("Plant B", 7);
  configs.Add("Later A", 3);
  configs.Add("Minus", -1);
  EXPECT_EQ(configs.Count(), 4);
  EXPECT_EQ(configs.NameOf(3), "Plant A");
  EXPECT_EQ(configs.NameOf(7), "Plant B");
  EXPECT_EQ(configs.NameOf(-1), "Minus");
  EXPECT_EQ(configs.NameOf(4), "");
}

TEST_F(DataFolders, PathFromRegistryPathConfigurationAndNames) {
  ASSERT_EQ(session.Create(), 0);
  auto p = Instance();
  // The fourth part of the registry path names the application's folder;
  // characters a file name cannot hold become blanks.
  p->ModuleRegistryPath = std::string("Software\\Kel\\Data Logger\\ BAC/net:1 \\Modules");
  const std::string base = port::AppDataDirectory(true);
  EXPECT_EQ(GetAppDataPath(*p), base + "BAC net 1/");

  // The configuration's name, from the id in the section prefix and the
  // configuration the instance was loaded for.
  p->INISectionPrefix = "{Cfg:Alpha}Rest";
  p->ModuleConfigs = std::make_unique<TModuleConfigList>();
  p->ModuleConfigs->Add("Plant/1", 5);
  p->ModuleConfigs->Add("COM1", 6);
  p->ModuleLoadForConfig = 5;
  EXPECT_EQ(GetModuleConfigId(*p), "Alpha");
  EXPECT_EQ(GetModuleDataPath(*p), base + "BAC net 1/Alpha/Plant-1/");
  EXPECT_EQ(GetModuleDataPath(*p, "*"), base + "BAC net 1/Plant-1/");
  EXPECT_EQ(GetModuleDataPath(*p, "logs"), base + "BAC net 1/logs/Alpha/Plant-1/");
  p->ModuleLoadForConfig = 6;  // a device name gets a leading "_"
  EXPECT_EQ(GetModuleDataPath(*p, "*"), base + "BAC net 1/_COM1/");
  // No configuration of that number: the first line of the description,
  // then the library's own name.
  p->ModuleLoadForConfig = 9;
  p->Description = "Test module\r\nsecond line";
  EXPECT_EQ(GetModuleDataPath(*p, "*"), base + "BAC net 1/Test module/");
  p->Description.clear();
  p->ModuleName = "BacNetIP.so";
  EXPECT_EQ(GetModuleDataPath(*p, "*"), base + "BAC net 1/bacnetip/");
  // The module parameter tells the same folder.
  EXPECT_EQ(session.Command("GET-MODULE-PARAMETER", {{"PARAM", host::Text("ModuleDataPath")}}).result.ToText(),
            GetModuleDataPath(*p));
  EXPECT_EQ(session.Free(), 0);
}

TEST(AppDataFolder, SafeNamesUnderTheUserAndMachineFolders) {
  EXPECT_EQ(SafeFolderName("a\"b*c/d:e<f>g?h\\i|j"), "a b c d e f g h i j");
  EXPECT_EQ(SafeFolderName("lpt2"), "_lpt2");
  EXPECT_EQ(SafeFolderName("NUL"), "_NUL");
  EXPECT_EQ(SafeFolderName("NULL"), "NULL");
  EXPECT_EQ(MakeValidFileName("a:b|c"), "a-b-c");
  EXPECT_EQ(AppDataFolder(kFolderUserAppData, "Kel:Logger", false),
            port::AppDataDirectory(false) + "Kel Logger/");
  EXPECT_EQ(AppDataFolder(kFolderCommonAppData, "Kel", false), port::AppDataDirectory(true) + "Kel/");
  EXPECT_EQ(AppDataFolder(kFolderUserAppData, "", false), port::AppDataDirectory(false));
}

TEST(Messages, NothingToPumpOnPosix) {
  EXPECT_FALSE(ProcessOneMessage());
  ProcessMessages();
  ProcessMessages(5);
}

}  // namespace
}  // namespace kel::testing
