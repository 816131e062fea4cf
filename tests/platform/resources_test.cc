// The platform's resource look-up over registered tables, and call stacks.
#include <gtest/gtest.h>

#include <string>

#include "platform/port.h"

namespace {

const unsigned char kA[] = "first";
const unsigned char kB[] = "second";
const port::EmbeddedResource kOne[] = {{"FORM_DATA", kA, 5}, {"Mixed_Case", kA, 0}};
const port::EmbeddedResource kTwo[] = {{"FORM_DATA", kB, 6}};

std::string Find(const std::string& name) {
  std::string_view data;
  return port::FindRawResource(name, &data) ? std::string(data) : "<none>";
}

TEST(Resources, LookUpIgnoresCaseAndLaterTablesComeFirst) {
  port::RegisterResources(kOne, std::size(kOne));
  EXPECT_EQ(Find("FORM_DATA"), "first");
  EXPECT_EQ(Find("form_data"), "first");
  EXPECT_EQ(Find("MIXED_CASE"), "");  // present and empty
  EXPECT_EQ(Find("FORM_DAT"), "<none>");
  EXPECT_EQ(Find("FORM_DATA_"), "<none>");
  EXPECT_EQ(Find(""), "<none>");
  EXPECT_EQ(Find(std::string("FORM_DATA\0X", 11)), "<none>");
  port::RegisterResources(kTwo, std::size(kTwo));
  EXPECT_EQ(Find("FORM_DATA"), "second");
  port::RegisterResources(kOne, std::size(kOne));  // again: moves to the front, one entry
  EXPECT_EQ(Find("FORM_DATA"), "first");
  port::UnregisterResources(kOne);
  EXPECT_EQ(Find("FORM_DATA"), "second");
  EXPECT_EQ(Find("Mixed_Case"), "<none>");
  port::UnregisterResources(kTwo);
  port::UnregisterResources(kTwo);
  EXPECT_EQ(Find("FORM_DATA"), "<none>");
}

TEST(CallStack, FramesOneALineWithinTheLimit) {
  std::u16string all = port::CallStackText();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.rfind(u"#0 0x", 0), 0u);
  std::u16string one = port::CallStackText(0, 1);
  EXPECT_EQ(one.find(u"\r\n"), std::u16string::npos);
  EXPECT_EQ(all.rfind(one.substr(0, 4), 0), 0u);
  EXPECT_TRUE(port::CallStackText(0, 0).empty());
  // Skipping more frames than there are gives nothing, not a failure.
  EXPECT_TRUE(port::CallStackText(500).empty());
}

}  // namespace
