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

}  // namespace
}  // namespace kel
