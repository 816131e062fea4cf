#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "lang_test_util.h"
#include "runtime/text/text_resources.h"
#include "runtime/text/translator.h"

namespace kel {
namespace {

TEST(TranslatorThreads, TwoThreadsTranslateAtOnce) {
  TWtransl t;
  t.LanguageFile = testing::WriteLng("threads", "EN:>Request timeout\nDE:>Zeit\nFR:>Temps\n\nEN:>Title\nDE:>Titel\nFR:>Titre\n\n");
  std::atomic<int> wrong{0};
  auto worker = [&](const char* lang, const char* timeout, const char* title) {
    for (int i = 0; i < 300; ++i) {
      std::string a = "Request timeout", b = "Title";
      // The table may be reloaded by the other thread between the two calls,
      // but each call sees one consistent table.
      t.TranslateText(lang, a, "EN");
      t.TranslateText(lang, b, "EN");
      if (a != timeout || b != title) ++wrong;
    }
  };
  std::thread x(worker, "DE", "Zeit", "Titel");
  std::thread y(worker, "FR", "Temps", "Titre");
  x.join();
  y.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(t.LoadCount(), 1u);
}

TEST(TranslatorThreads, StateCanBeReadWhileAnotherThreadTranslates) {
  TWtransl t;
  t.LanguageFile = testing::WriteLng("state", "Charset=windows-1250\nEN:>Title\nDE:>Titel\nFR:>Titre\n\n");
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 200; ++i) {
      std::string a = "Title";
      t.TranslateText(i % 2 ? "DE" : "FR", a, "EN");
    }
    done = true;
  });
  size_t seen = 0;
  while (!done) {
    std::string pair = t.LoadedPair();
    if (!pair.empty()) {
      EXPECT_TRUE(pair == "EN>DE" || pair == "EN>FR") << pair;
      ++seen;
    }
    (void)t.LoadCount();
    (void)t.Charset();
    (void)t.CodePage();
    (void)t.SaveMode();
  }
  writer.join();
  EXPECT_EQ(t.LoadCount(), 200u);
}

}  // namespace
}  // namespace kel
