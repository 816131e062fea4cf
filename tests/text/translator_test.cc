#include "runtime/text/translator.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "lang_test_util.h"
#include "runtime/text/code_pages.h"
#include "runtime/text/text_resources.h"

namespace kel {
namespace {

using testing::WriteLng;

// A component with a caption, a hint and some lines.
class TTestControl : public TComponent {
 public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass() {
    static const TPropInfo props[] = {TextProp<&TTestControl::Caption>("Caption"),
                                      TextProp<&TTestControl::Hint>("Hint"),
                                      StringsProp<&TTestControl::Items>("Items"),
                                      IntProp<&TTestControl::FontCharset>("FontCharset")};
    static const TClassInfo cls{"TTestControl", &TComponent::StaticClass(), props, std::size(props)};
    return cls;
  }
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  std::string Caption, Hint;
  TStrings Items;
  int32_t FontCharset = 1;
};

const char kGerman[] = "EN:>Request timeout\nDE:>Zeit\xc3\xbc" "berschreitung\n\n";

std::string Tr(TWtransl& t, std::string_view target, std::string text) {
  t.TranslateText(target, text, "EN");
  return text;
}

TEST(LanguageFile, BlocksNeedBothLinesAndAClosingEmptyLine) {
  TWtransl t;
  t.LanguageFile = WriteLng("de", std::string("Encoding=utf-8\n") + kGerman);
  EXPECT_EQ(Tr(t, "DE", "Request timeout"), "Zeit\xc3\xbc" "berschreitung");
  EXPECT_EQ(Tr(t, "DE", "request timeout"), "Zeit\xc3\xbc" "berschreitung");  // lower-case table
  EXPECT_EQ(Tr(t, "DE", "  Request timeout "), "Zeit\xc3\xbc" "berschreitung");

  TWtransl last;
  last.LanguageFile = WriteLng("de", "Encoding=utf-8\nEN:>Request timeout\nDE:>Zeit\n");  // no empty line after
  EXPECT_EQ(Tr(last, "DE", "Request timeout"), "Request timeout");
  EXPECT_EQ(last.Table().Count(), 0u);

  TWtranslLanguagesList table;
  EXPECT_EQ(LoadLanguageData("EN:>A\n\nEN:>B\nFR:>b\n\nEN:>C\nDE:>\n\nDE:>x\n\n", "EN", "DE", table, nullptr), 0u);
}

TEST(LanguageFile, EncodingsAndCodePages) {
  // UTF-16 LE with a byte-order mark, an unpaired surrogate and a truncated last unit.
  std::u16string text = u"EN:>Yes\r\nDE:>Ja\xD800!\r\n\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  bytes.push_back('x');
  TWtranslLanguagesList table;
  EXPECT_EQ(LoadLanguageData(bytes, "EN", "DE", table, nullptr), 1u);
  EXPECT_EQ(*table.FindExact("Yes"), u"Ja\xFFFD!");

  // An 8-bit file in windows-1251.
  TLanguageFileHeader h;
  table.Clear();
  LoadLanguageData("Charset=windows-1251\nLocale=0x419\nBiDiMode=righttoleft\nEN:>Yes\nRU:>\xc4\xe0\n\n", "EN", "RU",
                   table, &h);
  EXPECT_EQ(*table.FindExact("Yes"), u"\x0414\x0430");
  EXPECT_EQ(h.charset, 204);
  EXPECT_EQ(h.locale, 0x419);
  EXPECT_EQ(h.biDiMode, TLngBiDiMode::RightToLeft);
  EXPECT_EQ(CodePageToUtf16("\x80\xe9", 1252), u"\x20AC\xE9");
  EXPECT_EQ(CodePageToUtf16("\xa3\xb3", 1250), u"\x0141\x0142");
}

TEST(Translator, LookupFallbacks) {
  TWtransl t;
  t.LanguageFile = WriteLng("fb", "EN:>Open\nDE:>\xc3\x96" "ffnen\n\nEN:>Line1%0D%0ALine2\nDE:>Zeile1%0D%0AZeile2\n\n"
                                  "EN:>Save && close\nDE:>&Speichern\n\n");
  EXPECT_EQ(Tr(t, "DE", "&Open"), "\xc3\x96" "ffnen");  // marker-free key, translation as written
  EXPECT_EQ(Tr(t, "DE", "Line1\r\nLine2"), "Zeile1\r\nZeile2");
  EXPECT_EQ(Tr(t, "DE", "Save && close"), "&Speichern");
  EXPECT_EQ(Tr(t, "DE", "Unknown"), "Unknown");
}

TEST(Translator, ComponentTreeRulesAndTags) {
  TWtransl t;
  t.LanguageFile = WriteLng("tags", "Charset=windows-1250\nEN:>Title\nDE:>Titel\n\nEN:>Tip\nDE:>Tipp\n\nEN:>One\nDE:>Eins\n\n");
  TTestControl root;
  root.Caption = "Title";
  auto* plain = new TTestControl(&root);
  plain->Caption = "Title";
  plain->Hint = "Tip";
  plain->Items.AssignLines({"One", "Two"});
  auto* skipped = new TTestControl(&root);
  skipped->SetTag(9999);
  skipped->Caption = "Title";
  auto* underSkipped = new TTestControl(skipped);
  underSkipped->Caption = "Title";
  auto* noCaption = new TTestControl(&root);
  noCaption->SetTag(10002);
  noCaption->Caption = "Title";
  noCaption->Hint = "Tip";
  auto* hidden = new TTestControl(&root);
  hidden->SetName("__hidden");
  hidden->Caption = "Title";
  auto* leaf = new TTestControl(&root);
  leaf->SetName("_leaf");
  leaf->Caption = "Title";
  auto* belowLeaf = new TTestControl(leaf);
  belowLeaf->Caption = "Title";
  t.ComponentProperties.Add("ITEMS");

  int custom = 0;
  t.OnCustomTranslate = [&](TWtransl&, TComponent&) { ++custom; };
  ASSERT_TRUE(t.Translate("DE", &root, "EN"));
  EXPECT_EQ(root.Caption, "Titel");
  EXPECT_EQ(plain->Caption, "Titel");
  EXPECT_EQ(plain->Hint, "Tipp");
  EXPECT_EQ(plain->Items.Lines(), (std::vector<std::string>{"Eins", "Two"}));
  EXPECT_EQ(plain->FontCharset, 238);
  EXPECT_EQ(skipped->Caption, "Title");
  EXPECT_EQ(underSkipped->Caption, "Title");
  EXPECT_EQ(noCaption->Caption, "Title");
  EXPECT_EQ(noCaption->Hint, "Tipp");
  EXPECT_EQ(hidden->Caption, "Title");
  EXPECT_EQ(leaf->Caption, "Titel");
  EXPECT_EQ(belowLeaf->Caption, "Title");
  EXPECT_EQ(custom, 4);  // root, plain, noCaption, leaf
  EXPECT_EQ(t.LoadCount(), 1u);
  ASSERT_TRUE(t.Translate("DE", &root, "EN"));
  EXPECT_EQ(t.LoadCount(), 1u);  // same pair: the files are read once
  EXPECT_EQ(root.Caption, "Titel");
}

TEST(Translator, NewLanguageStartsFromTheOriginalTexts) {
  TWtransl t;
  t.LanguageFile = WriteLng("multi", "EN:>Title\nDE:>Titel\nFR:>Titre\n\n");
  TTestControl c;
  c.Caption = "Title";
  t.Translate("DE", &c, "EN");
  EXPECT_EQ(c.Caption, "Titel");
  t.Translate("FR", &c, "EN");
  EXPECT_EQ(c.Caption, "Titre");
  t.Translate("EN", &c, "EN");  // no table for EN: the original comes back
  EXPECT_EQ(c.Caption, "Title");
  c.Caption = "Title";
  c.Caption = "Changed by code";
  t.Translate("DE", &c, "EN");
  EXPECT_EQ(c.Caption, "Changed by code");
}

TEST(Translator, TextResourcesReachTheirHandlerOnlyDirectly) {
  TWtransl t;
  t.LanguageFile = WriteLng("res", std::string(kGerman) + "EN:>Error response [%s]\nDE:>Fehlerantwort [%s]\n\n");
  TComponent owner;
  auto* res = new TTextResources(&owner);
  EXPECT_EQ(res->Tag(), 9997);
  t.Translate("DE", &owner, "EN");
  EXPECT_EQ(res->TextRequestTimeout, "Request timeout");  // owned: only OnCustomTranslate
  t.Translate("DE", res, "EN");
  EXPECT_EQ(res->TextRequestTimeout, "Zeit\xc3\xbc" "berschreitung");
  EXPECT_EQ(res->TextErrorResponse, "Fehlerantwort [%s]");
  EXPECT_EQ(res->TextInvalidCrc, "Invalid CRC (%.2x,%.2x)");
  t.Translate("EN", res, "EN");
  EXPECT_EQ(res->TextRequestTimeout, "Request timeout");
}

TEST(Translator, AFailureLeavesOnlyThatTextUnchanged) {
  TWtransl t;
  t.LanguageFile = WriteLng("fail", std::string(kGerman) + "EN:>Title\nDE:>Titel\n\nEN:>Tip\nDE:>Tipp\n\n"
                                                           "EN:>One\nDE:>Eins\n\nEN:>Two\nDE:>Zwei\n\n");
  t.ComponentProperties.Add("Items");
  t.OnPropertyTranslate = [](TWtransl&, TComponent*, std::string_view, const std::u16string& source,
                             std::u16string&) {
    if (source == u"Tip" || source == u"One" || source == u"Request timeout") throw std::runtime_error("broken");
  };
  TTestControl c;
  c.Caption = "Title";
  c.Hint = "Tip";
  c.Items.AssignLines({"One", "Two"});
  EXPECT_TRUE(t.Translate("DE", &c, "EN"));
  EXPECT_EQ(c.Caption, "Titel");
  EXPECT_EQ(c.Hint, "Tip");
  EXPECT_EQ(c.Items.Lines(), (std::vector<std::string>{"One", "Zwei"}));

  TTextResources res;
  res.TextErrorResponse = "Title";
  EXPECT_TRUE(t.Translate("DE", &res, "EN"));
  EXPECT_EQ(res.TextRequestTimeout, "Request timeout");
  EXPECT_EQ(res.TextErrorResponse, "Titel");

  std::string single = "Tip";
  EXPECT_NO_THROW(t.TranslateText("DE", single, "EN"));
  EXPECT_EQ(single, "Tip");
}

TEST(Translator, MissingFilesAndLanguagesSection) {
  TWtransl none;
  none.LanguageFile = "/nonexistent/x.lng|";
  TTestControl c;
  c.Caption = "Title";
  EXPECT_FALSE(none.Translate("DE", &c, "EN"));
  EXPECT_EQ(none.GetLanguages(), "");

#ifndef _WIN32
  // Devices are passed over: /dev/zero would never end.
  TWtransl dev;
  dev.LanguageFile = std::string("/dev/zero|") + WriteLng("dev", kGerman);
  EXPECT_EQ(Tr(dev, "DE", "Request timeout"), "Zeit\xc3\xbc" "berschreitung");
  EXPECT_EQ(dev.GetLanguages(), "");
#endif
  // Files above the size limit are not read at all.
  std::string small = WriteLng("small", kGerman), bytes = "untouched";
  EXPECT_FALSE(port::ReadFile(small, &bytes, 10));
  EXPECT_EQ(bytes, "untouched");
  EXPECT_TRUE(port::ReadFile(small, &bytes, sizeof kGerman - 1));

  std::string first = WriteLng("l1", "[Languages]\nDefault=DE\n");
  std::string second = WriteLng("l2", "[Languages]\n$EN = #1\n_DE=Deutsch\n_FR=Fran\xc3\xa7" "ais\nDefault=FR\n[Other]\n_XX=no\n");
  TWtransl t;
  t.LanguageFile = "/nonexistent.lng|" + first + " | " + second;
  TStrings list;
  EXPECT_EQ(t.GetLanguages(&list), "DE");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"DE,Deutsch", "FR,Fran\xc3\xa7" "ais"}));
}

TEST(Translator, SavesUntranslatedTexts) {
  std::string path = WriteLng("save", "//saveuntr\n//filerewrite\nEN:>Known\nDE:>Bekannt\n\n");
  {
    TWtransl t;
    t.LanguageFile = path;
    EXPECT_EQ(Tr(t, "DE", "Known"), "Bekannt");
    EXPECT_EQ(Tr(t, "DE", "New\ttext"), "New\ttext");
    Tr(t, "DE", "New\ttext");
  }
  std::string saved;
  ASSERT_TRUE(port::ReadFile(path + ".new", &saved));
  EXPECT_NE(saved.find("[Languages]\r\n$EN = #1\r\n$DE = #2 (Default)\r\nDefault = DE\r\n"), std::string::npos);
  EXPECT_NE(saved.find("EN:>New%09text\r\nDE:>\r\n\r\n"), std::string::npos);
  EXPECT_EQ(saved.find("Known"), std::string::npos);
  EXPECT_EQ(saved.find("New", saved.find("New") + 1), std::string::npos);  // once
  // The written file is itself a language file that reads back.
  TWtranslLanguagesList table;
  std::string filled = saved;
  filled.replace(filled.find("DE:>\r\n"), 6, "DE:>Neu%09\r\n");
  LoadLanguageData(filled, "EN", "DE", table, nullptr);
  EXPECT_NE(table.FindExact("New%09text"), nullptr);
  port::RemoveFile(path + ".new");
}

TEST(SampleLanguageFile, GermanCoversTheModuleTexts) {
  TWtransl t;
  t.LanguageFile = BACNETIP_LANG_DIR "/bacnetip.lng";
  TStrings langs;
  EXPECT_EQ(t.GetLanguages(&langs), "EN");
  EXPECT_GE(langs.IndexOf("DE,Deutsch"), 0);
  TTextResources res;
  ASSERT_TRUE(t.Translate("DE", &res, "EN"));
  for (const std::string* text : {&res.TextInvalidCrc, &res.TextErrorResponse, &res.TextConfigLoadError, &res.TextRequestTimeout})
    EXPECT_EQ(text->find("e response"), std::string::npos) << *text;
  EXPECT_EQ(res.TextErrorResponse, "Fehlerantwort [%s]");
  EXPECT_EQ(res.TextInvalidCrc, "Ung\xc3\xbcltige CRC (%.2x,%.2x)");
  EXPECT_EQ(res.TextConfigLoadError, "Fehler beim Laden der Konfiguration (%s)");
  for (const char* msg : {"No data for processing", "Data have been processed successfully",
                          "Data have been processed with errors", "Request timeout", "Not enough timers available"})
    EXPECT_NE(Tr(t, "DE", msg), msg);
}

}  // namespace
}  // namespace kel
