#include "runtime/settings/ini_file.h"

#include <gtest/gtest.h>

#include "runtime/settings/percent_codec.h"
#include "runtime/text/text_utils.h"

namespace kel {
namespace {

TEST(IniFile, ForgivingParse) {
  TIniFile ini(
      "\xEF\xBB\xBF"
      "orphan=ignored\r\n"
      "[Common]\r\n"
      "  Left = 326\r\n"
      "; comment\r\n"
      "no equals sign\r\n"
      "=no key\r\n"
      "[broken\r\n"
      "Caption=  text with trailing space \n"
      "[common]\n"
      "Top=144");
  EXPECT_EQ(ini.ReadInteger("COMMON", "left", 0), 326);
  EXPECT_EQ(ini.ReadString("Common", "Caption", ""), "text with trailing space ");
  EXPECT_EQ(ini.ReadInteger("Common", "Top", 0), 144);  // the repeated section merges
  EXPECT_EQ(ini.SectionNames().size(), 1u);
  EXPECT_FALSE(ini.ValueExists("Common", "orphan"));
  EXPECT_FALSE(ini.Modified());
}

TEST(IniFile, TypedValuesAndDefaults) {
  TIniFile ini;
  ini.WriteInteger("S", "i", -42);
  ini.WriteFloat("S", "f", 0.1);
  ini.WriteString("S", "t", "line\r\nbreak");
  EXPECT_TRUE(ini.Modified());
  TIniFile back(ini.Text());
  EXPECT_EQ(back.ReadInteger("S", "i", 0), -42);
  EXPECT_EQ(back.ReadFloat("S", "f", 0), 0.1);
  EXPECT_EQ(back.ReadString("S", "t", ""), "line  break");  // never spans lines
  EXPECT_EQ(back.ReadInteger("S", "t", 7), 7);              // not a number: default
  EXPECT_EQ(back.ReadInteger("S", "missing", 5), 5);
  EXPECT_EQ(back.ReadFloat("S", "i", 1.0), -42.0);
}

TEST(IniFile, DeleteAndErase) {
  TIniFile ini("[A]\nx=1\ny=2\n[A.B]\nz=3\n");
  EXPECT_TRUE(ini.DeleteKey("a", "X"));
  EXPECT_FALSE(ini.DeleteKey("a", "x"));
  EXPECT_EQ(ini.SectionKeys("A").size(), 1u);
  EXPECT_TRUE(ini.EraseSection("a.b"));
  EXPECT_FALSE(ini.SectionExists("A.B"));
}

TEST(PercentCodec, EncodesAsStored) {
  EXPECT_EQ(PercentEncode("Caption with spaces"), "Caption with spaces");
  EXPECT_EQ(PercentEncode(" lead"), "+lead");
  EXPECT_EQ(PercentEncode("  two"), "++two");
  EXPECT_EQ(PercentEncode("a  b"), "a+ b");
  EXPECT_EQ(PercentEncode("100%"), "100%%");
  EXPECT_EQ(PercentEncode("a+b"), "a%2Bb");
  EXPECT_EQ(PercentEncode("Grüße"), "Gr%C3%BC%C3%9Fe");
  EXPECT_EQ(PercentEncode("tab\there"), "tab%09here");
}

TEST(PercentCodec, RoundTrips) {
  for (const char* t : {" lead", "a  b  ", "100% sure", "Grüße aus Köln", "x+y", "", "trailing "})
    EXPECT_EQ(PercentDecode(PercentEncode(t)), t) << t;
}

TEST(PercentCodec, DecodesForeignText) {
  EXPECT_EQ(PercentDecode("50%zz"), "50%zz");  // not an escape: stays
  EXPECT_EQ(PercentDecode("end%"), "end%");
  EXPECT_EQ(PercentDecode("a+b"), "a b");
  EXPECT_EQ(PercentDecode("%FF%FE"), "\xFF\xFE");  // not UTF-8: the bytes are kept
}

}  // namespace
}  // namespace kel

namespace kel {
namespace {

// Many keys and sections: lookups, deletes and rewrites stay consistent.
TEST(IniFile, LargeFileStaysConsistent) {
  std::string text = "[Big]\n";
  for (int i = 0; i < 20000; ++i) text += "k" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  for (int s = 0; s < 2000; ++s) text += "[S" + std::to_string(s) + "]\nx=" + std::to_string(s) + "\n";
  text += "[big]\nK5=again\n";  // a repeated section and key merge
  TIniFile ini(text);
  EXPECT_EQ(ini.SectionKeys("BIG").size(), 20000u);
  EXPECT_EQ(ini.ReadString("Big", "k5", ""), "again");
  EXPECT_EQ(ini.ReadInteger("s1999", "X", 0), 1999);
  EXPECT_TRUE(ini.DeleteKey("Big", "k0"));
  EXPECT_EQ(ini.ReadInteger("Big", "k19999", 0), 19999);  // later keys found after a delete
  ini.WriteString("Big", "k0", "back");
  EXPECT_EQ(ini.SectionKeys("Big").back(), "k0");
  EXPECT_TRUE(ini.EraseSection("S0"));
  EXPECT_EQ(ini.ReadInteger("S1000", "x", 0), 1000);  // later sections found after an erase
  ini.WriteInteger("S0", "x", 7);
  EXPECT_EQ(ini.ReadInteger("s0", "x", 0), 7);
}

// Names the file format cannot hold are refused; the file stays readable.
TEST(IniFile, OddNames) {
  TIniFile ini;
  EXPECT_TRUE(ini.WriteString("Odd]Sub", "Key", "1"));
  EXPECT_TRUE(ini.WriteString("Sub", " padded ", "2"));
  EXPECT_FALSE(ini.WriteString("Sub", "a=b", "3"));
  EXPECT_FALSE(ini.WriteString("Sub", "[x", "4"));
  EXPECT_FALSE(ini.WriteString("Sub", ";x", "5"));
  EXPECT_FALSE(ini.WriteString("Sub", "", "6"));
  EXPECT_FALSE(ini.WriteString("a\r\n[b", "k", "7"));
  TIniFile back(ini.Text());
  EXPECT_EQ(back.ReadString("Odd]Sub", "Key", ""), "1");
  EXPECT_EQ(back.ReadString("Sub", " padded ", ""), "2");
  EXPECT_EQ(back.SectionNames().size(), 2u);
  EXPECT_EQ(back.SectionKeys("Sub").size(), 1u);
}

}  // namespace
}  // namespace kel

namespace kel {
namespace {

TEST(StoredNumbers, ShortestRoundTripWithoutLocale) {
  for (double d : {0.1, -2.5e-300, 1.0 / 3.0, 123456789.0, 0.0}) {
    double back = -1;
    ASSERT_TRUE(ParseDouble(FormatDouble(d), &back)) << FormatDouble(d);
    EXPECT_EQ(back, d);
  }
  EXPECT_EQ(FormatDouble(0.1), "0.1");
  double v = 0;
  EXPECT_TRUE(ParseDouble("+1,5", &v));
  EXPECT_EQ(v, 1.5);
  EXPECT_FALSE(ParseDouble("1e400", &v));
  EXPECT_FALSE(ParseDouble("inf", &v));
  EXPECT_FALSE(ParseDouble("1.5x", &v));
  EXPECT_FALSE(ParseDouble("", &v));
  EXPECT_FALSE(ParseDouble("++1", &v));
}

}  // namespace
}  // namespace kel
