// TWtransl: translates component texts and single texts from language files.
// Loading and translating run under the translator's lock; the table is loaded
// lazily on the first translation and kept until the language pair changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/port.h"
#include "runtime/component/component.h"
#include "runtime/text/language_file.h"

namespace kel {

class TWtransl;

// Tags that steer the translation of a component tree (TComponent::Tag).
inline constexpr int64_t kTagSkipTree = 9999;    // neither it nor what it owns
inline constexpr int64_t kTagSkipSelf = 9998;    // not it, but what it owns
inline constexpr int64_t kTagCustomOnly = 9997;  // only the custom handler (unless it is the root)
// 10000 + n: not the properties whose exclusion bits are set in n (hint 1,
// caption 2, items 4, strings 8, text 16, pages 32).
inline constexpr int64_t kTagExcludeFirst = 10000;
inline constexpr int64_t kTagExcludeLast = 10047;

// A handler for the components of one class (and its descendants), called
// after the component's listed properties have been translated.
class TWtranslatorCustom {
 public:
  virtual ~TWtranslatorCustom() = default;
  virtual void Translate(TWtransl& translator, TComponent& component) = 0;
};
using TWtranslatorCustomFactory = std::unique_ptr<TWtranslatorCustom> (*)();

// Class-wide registry, in registration order; the first entry whose class the
// component inherits from is used.  The text-resources handler is built in.
void RegisterTranslatorCustom(const TClassInfo& cls, std::string mask, TWtranslatorCustomFactory factory);

// Makes a TCustomTextResources translate its own texts.
class TWtranslatorCustomTextResources : public TWtranslatorCustom {
 public:
  void Translate(TWtransl& translator, TComponent& component) override;
};

class TWtransl : public TComponent {
 public:
  explicit TWtransl(TComponent* owner = nullptr);
  // Writes the collected texts when a save mode was declared.
  ~TWtransl() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  // Published.
  TStrings ComponentProperties;          // names ignoring case; CAPTION HINT TEXT TITLE CAPTIONS
  std::string LanguageFile = "app.lng";  // paths separated by "|"
  std::function<void(TWtransl&, TComponent&)> OnCustomTranslate;
  std::function<void(TWtransl&)> OnBeforeTranslate;
  std::function<void(TWtransl&)> OnAfterTranslate;
  std::function<void(TWtransl&, TComponent&, const TPropInfo&, TComponent* value)> OnCustomObjectPropertyTranslate;
  std::function<void(TWtransl&, TComponent&, bool& translate)> OnBeforeTranslateComponent;
  // May override the result of a look-up (component is null for single texts).
  std::function<void(TWtransl&, TComponent* component, std::string_view property, const std::u16string& source,
                     std::u16string& result)>
      OnPropertyTranslate;

  std::string SourceLanguage;  // the language the texts are written in

  // Default language of the first file that names one; languages of the first
  // file that lists any, as "code,name".
  std::string GetLanguages(TStrings* list = nullptr);

  // Translates a component tree (or one text, given as ANSI text) from source
  // (default SourceLanguage) into target (default: GetLanguages' default).
  // Gives whether translation ran.
  bool Translate(std::string_view target, TComponent* component, std::string_view source = {});
  bool TranslateText(std::string_view target, std::string& text, std::string_view source = {});

  // For custom handlers during a translation: the translation of one text, or
  // the text unchanged; collects untranslated texts when a save mode is set.
  std::u16string TranslateString(const std::u16string& text, TComponent* component, std::string_view property);
  // The same for ANSI text; on any failure the text comes back unchanged.
  std::string TranslateAnsi(const std::string& text, TComponent* component, std::string_view property);
  // The bare look-up with its fallbacks; false when there is no translation.
  bool LookupText(std::u16string_view text, std::u16string* result);

  // "source>target" of the loaded table, empty before the first load.  These
  // read under the lock, so any thread may ask while another translates.
  std::string LoadedPair() const;
  size_t LoadCount() const;
  int32_t Locale() const;
  int32_t Charset() const;
  uint32_t CodePage() const;
  TLngBiDiMode BiDiMode() const;
  TLngSaveMode SaveMode() const;
  // The table itself: only while no other thread translates (a look the
  // lock cannot cover: the reference outlives any scope here).
  const TWtranslLanguagesList& Table() const NO_THREAD_SAFETY_ANALYSIS { return table_; }

  // Writes the collected texts now (also done on destruction); gives the file
  // written, empty when nothing was.
  std::string SaveCollected();

 private:
  // A translation runs under lock_ from its beginning to its end.
  bool BeginTranslation(std::string_view target, std::string_view source) REQUIRES(lock_);
  void LoadTable(const std::string& source, const std::string& target) REQUIRES(lock_);
  void TranslateTree(TComponent& root) REQUIRES(lock_);
  void TranslateProperties(TComponent& c) REQUIRES(lock_);
  void CallCustomHandler(TComponent& c) REQUIRES(lock_);
  void Collect(const std::u16string& text, TComponent* component, std::string_view property) REQUIRES(lock_);

  mutable port::CriticalSection lock_;
  TWtranslLanguagesList table_ GUARDED_BY(lock_);
  TLanguageFileHeader header_ GUARDED_BY(lock_);
  std::string loadedPair_ GUARDED_BY(lock_), sourceCode_ GUARDED_BY(lock_), targetCode_ GUARDED_BY(lock_);
  std::string saveFile_ GUARDED_BY(lock_);  // the file whose header asked for saving
  size_t loadCount_ GUARDED_BY(lock_) = 0;
  bool everTranslated_ GUARDED_BY(lock_) = false;
  // Collected texts (UTF-8, with an optional "component.property" note).
  std::vector<std::pair<std::string, std::string>> collected_ GUARDED_BY(lock_);
  std::unordered_set<std::string> collectedKeys_ GUARDED_BY(lock_), usedKeys_ GUARDED_BY(lock_);
};

}  // namespace kel
