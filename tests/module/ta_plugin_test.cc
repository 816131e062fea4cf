// The BACnet module's data module: identity, its stored map, and its texts
// following the language.
#include "module/ta_plugin.h"

#include <gtest/gtest.h>

#include "framework/module_settings.h"

namespace bacnet_module {
namespace {

TEST(TaPlugin, IdentityAndStoredMap) {
  TaPlugin p(nullptr, 0);
  p.Create();
  port::Guard commands(p.CommandLock);
  kel::ReadGuard settings(p.SettingsLock);
  EXPECT_EQ(p.Description, "Bacnet/IP");
  EXPECT_EQ(p.LogTitle.Get(), "Bacnet/IP");
  EXPECT_EQ(p.ModuleType, 3);
  EXPECT_FLOAT_EQ(p.ModuleVersion, 5.0f);
  EXPECT_EQ(p.EventsSupported, "PORT-OPEN");
  ASSERT_NE(p.Properties, nullptr);
  EXPECT_EQ(p.Properties->Tag(), 9999);
  ASSERT_EQ(p.Properties->Strings.Count(), 19u);
  EXPECT_EQ(p.Properties->Strings[18], "chkReadMultiple.Checked,Read multiple");
  EXPECT_EQ(p.Properties->Strings[4], ";---short---");
  EXPECT_EQ(p.Properties->Strings[5], "lblParams.Caption,Parser config");
  EXPECT_TRUE(p.Unloaded);
  EXPECT_EQ(p.Config, nullptr);
  EXPECT_GE(p.Translator->ComponentProperties.IndexOf("Filter"), 0);
}

TEST(TaPlugin, MessagesAndTextsFollowTheLanguage) {
  TaPlugin p(nullptr, 0);
  p.Create();
  p.Translator->LanguageFile = BACNETIP_LANG_DIR "/bacnetip.lng";
  port::Guard commands(p.CommandLock);  // as the LOAD that switches the language
  {
    kel::WriteGuard settings(p.SettingsLock);
    p.Language = "EN";
  }
  kel::SwitchLanguage(p, "DE");
  EXPECT_EQ(p.TextResources->TextRequestTimeout, "Zeitüberschreitung der Anfrage");
  {
    kel::ReadGuard settings(p.SettingsLock);
    EXPECT_EQ(p.MsgNoData, "Keine Daten zur Verarbeitung");
  }
  // Back to the texts as written.
  kel::SwitchLanguage(p, "EN");
  EXPECT_EQ(p.TextResources->TextRequestTimeout, "Request timeout");
  kel::ReadGuard settings(p.SettingsLock);
  EXPECT_EQ(p.MsgNoData, "No data for processing");
}

}  // namespace
}  // namespace bacnet_module
