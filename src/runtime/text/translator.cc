#include "runtime/text/translator.h"

#include "runtime/text/code_pages.h"
#include "runtime/text/text_resources.h"
#include "runtime/text/text_utils.h"

namespace kel {

// ---- Custom handlers -----------------------------------------------------------

namespace {

struct THandlerEntry {
  const TClassInfo* cls;
  std::string mask;
  TWtranslatorCustomFactory factory;
};

struct THandlerRegistry {
  port::CriticalSection cs;
  std::vector<THandlerEntry> entries GUARDED_BY(cs);
  THandlerRegistry() {
    entries.push_back({&TCustomTextResources::StaticClass(), "*",
                       []() -> std::unique_ptr<TWtranslatorCustom> {
                         return std::make_unique<TWtranslatorCustomTextResources>();
                       }});
  }
};

THandlerRegistry& Handlers() {
  static THandlerRegistry registry;
  return registry;
}

constexpr size_t kMaxCollected = 100000;
constexpr size_t kMaxLanguageFileBytes = size_t{64} << 20;

uint32_t ExclusionBit(std::string_view property) {
  static const struct {
    const char* name;
    uint32_t bit;
  } kBits[] = {{"hint", 1}, {"caption", 2}, {"items", 4}, {"strings", 8}, {"text", 16}, {"pages", 32}};
  for (const auto& b : kBits)
    if (SameTextAscii(property, b.name)) return b.bit;
  return 0;
}

std::u16string Trim16(std::u16string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] <= 32) ++b;
  while (e > b && s[e - 1] <= 32) --e;
  return std::u16string(s.substr(b, e - b));
}

// Removes the accelerator marker: a single "&" goes, "&&" stays.
std::string StripAccelerator(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '&') {
      if (i + 1 < s.size() && s[i + 1] == '&') {
        out += "&&";
        ++i;
      }
      continue;
    }
    out.push_back(s[i]);
  }
  return out;
}

// Only regular files are read (a device or a pipe named in the list would
// never end or never answer), and only up to a size no language file reaches.
bool ReadLanguageFile(const std::string& path, std::string* bytes) {
  return port::FileExists(path) && port::ReadFile(path, bytes, kMaxLanguageFileBytes);
}

std::vector<std::string> SplitPaths(std::string_view list) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i <= list.size()) {
    size_t e = list.find('|', i);
    if (e == std::string_view::npos) e = list.size();
    std::string p = Trim(list.substr(i, e - i));
    if (!p.empty()) out.push_back(std::move(p));
    i = e + 1;
  }
  return out;
}

std::string ComponentPath(const TComponent* c) {
  std::string path;
  for (; c; c = c->Owner()) path = path.empty() ? c->Name() : c->Name() + "." + path;
  return path;
}

}  // namespace

void RegisterTranslatorCustom(const TClassInfo& cls, std::string mask, TWtranslatorCustomFactory factory) {
  THandlerRegistry& r = Handlers();
  port::Guard g(r.cs);
  r.entries.push_back({&cls, std::move(mask), factory});
}

void TWtranslatorCustomTextResources::Translate(TWtransl& translator, TComponent& component) {
  if (component.InheritsFrom(TCustomTextResources::StaticClass()))
    static_cast<TCustomTextResources&>(component).Translate(translator);
}

// ---- The translator ---------------------------------------------------------------

const TClassInfo& TWtransl::StaticClass() {
  static const TPropInfo props[] = {
      StringsProp<&TWtransl::ComponentProperties>("ComponentProperties"),
      TextProp<&TWtransl::LanguageFile>("LanguageFile"),
  };
  static const TClassInfo cls{"TWtransl", &TComponent::StaticClass(), props, std::size(props)};
  return cls;
}

TWtransl::TWtransl(TComponent* owner) : TComponent(owner) {
  ComponentProperties.AssignLines({"CAPTION", "HINT", "TEXT", "TITLE", "CAPTIONS"});
}

std::string TWtransl::LoadedPair() const {
  port::Guard g(lock_);
  return loadedPair_;
}

size_t TWtransl::LoadCount() const {
  port::Guard g(lock_);
  return loadCount_;
}

int32_t TWtransl::Locale() const {
  port::Guard g(lock_);
  return header_.locale;
}

int32_t TWtransl::Charset() const {
  port::Guard g(lock_);
  return header_.charset;
}

uint32_t TWtransl::CodePage() const {
  port::Guard g(lock_);
  return header_.codePage;
}

TLngBiDiMode TWtransl::BiDiMode() const {
  port::Guard g(lock_);
  return header_.biDiMode;
}

TLngSaveMode TWtransl::SaveMode() const {
  port::Guard g(lock_);
  return header_.saveMode;
}

TWtransl::~TWtransl() {
  try {
    SaveCollected();
  } catch (...) {
    // Nothing may leave a destructor; the collected texts are lost then.
  }
}

std::string TWtransl::GetLanguages(TStrings* list) {
  std::string def;
  bool listed = false;
  for (const std::string& path : SplitPaths(LanguageFile)) {
    std::string bytes;
    if (!ReadLanguageFile(path, &bytes)) continue;
    std::vector<std::pair<std::string, std::string>> langs;
    std::string d = ReadLanguagesSection(bytes, &langs);
    if (def.empty()) def = d;
    if (!listed && !langs.empty()) {
      if (list) {
        std::vector<std::string> lines;
        for (auto& [code, name] : langs) lines.push_back(code + "," + name);
        list->AssignLines(std::move(lines));
      }
      listed = true;
    }
    if (listed && !def.empty()) break;
  }
  return def;
}

void TWtransl::LoadTable(const std::string& source, const std::string& target) {
  table_.Clear();
  header_ = TLanguageFileHeader();
  saveFile_.clear();
  usedKeys_.clear();
  ++loadCount_;
  if (target.empty()) return;
  for (const std::string& path : SplitPaths(LanguageFile)) {
    std::string bytes;
    if (!ReadLanguageFile(path, &bytes)) continue;
    TLanguageFileHeader h;
    LoadLanguageData(bytes, source, target, table_, &h);
    if (h.locale > 0) header_.locale = h.locale;
    if (h.charset >= 0) {
      header_.charset = h.charset;
      header_.codePage = h.codePage;
    }
    if (h.biDiMode != TLngBiDiMode::None) header_.biDiMode = h.biDiMode;
    if (h.saveMode != TLngSaveMode::None) {
      header_.saveMode = h.saveMode;
      header_.writeMode = h.writeMode;
      saveFile_ = path;
    }
  }
}

bool TWtransl::BeginTranslation(std::string_view target, std::string_view source) {
  std::string src(source.empty() ? std::string_view(SourceLanguage) : source);
  std::string tgt(target.empty() ? GetLanguages() : std::string(target));
  std::string pair = src + ">" + tgt;
  if (pair != loadedPair_) {
    LoadTable(src, tgt);
    loadedPair_ = pair;
    sourceCode_ = src;
    targetCode_ = tgt;
  }
  // Once anything was translated, later runs go ahead even with an empty
  // table: they put the original texts back.
  bool run = table_.Count() > 0 || header_.saveMode != TLngSaveMode::None || everTranslated_;
  if (run) everTranslated_ = true;
  return run;
}

bool TWtransl::Translate(std::string_view target, TComponent* component, std::string_view source) {
  if (!component) return false;
  port::Guard g(lock_);
  if (!BeginTranslation(target, source)) return false;
  if (OnBeforeTranslate) OnBeforeTranslate(*this);
  TranslateTree(*component);
  if (OnAfterTranslate) OnAfterTranslate(*this);
  return true;
}

bool TWtransl::TranslateText(std::string_view target, std::string& text, std::string_view source) {
  port::Guard g(lock_);
  if (!BeginTranslation(target, source)) return false;
  if (OnBeforeTranslate) OnBeforeTranslate(*this);
  text = TranslateAnsi(text, nullptr, {});
  if (OnAfterTranslate) OnAfterTranslate(*this);
  return true;
}

bool TWtransl::LookupText(std::u16string_view text, std::u16string* result) {
  port::Guard g(lock_);
  std::u16string t = Trim16(text);
  if (t.empty() || table_.Count() == 0) return false;
  const std::string key = port::Utf16ToUtf8(t);
  auto take = [&](const std::u16string* r, const std::string& k, bool encoded) REQUIRES(lock_) {
    if (!r) return false;
    *result = encoded ? DecodeControls(*r) : *r;
    if (header_.saveMode == TLngSaveMode::Unused) usedKeys_.insert(k);
    return true;
  };
  if (take(table_.FindExact(key), key, false)) return true;
  const std::string enc = EncodeControls(key);
  const bool encoded = enc != key;
  if (encoded && take(table_.FindExact(enc), enc, true)) return true;
  const std::string bare = StripAccelerator(enc);
  if (bare != enc && take(table_.FindExact(bare), bare, encoded)) return true;
  for (const std::string* k : {&enc, &bare}) {
    std::string lower = LowerKey(*k);
    if (take(table_.FindLower(lower), lower, encoded)) return true;
    if (lower != *k && take(table_.FindExact(lower), lower, encoded)) return true;
  }
  return false;
}

std::u16string TWtransl::TranslateString(const std::u16string& text, TComponent* component,
                                         std::string_view property) {
  port::Guard g(lock_);
  std::u16string result;
  const bool found = LookupText(text, &result);
  if (!found) result = text;
  if (OnPropertyTranslate) OnPropertyTranslate(*this, component, property, text, result);
  const TLngSaveMode mode = header_.saveMode;
  if (mode == TLngSaveMode::All ||
      (!found && (mode == TLngSaveMode::Untranslated || mode == TLngSaveMode::UntranslatedObjects)))
    Collect(text, component, property);
  return result;
}

std::string TWtransl::TranslateAnsi(const std::string& text, TComponent* component, std::string_view property) {
  // A failure on one text (a handler that throws, memory) leaves that text as
  // it was; the others are still translated.
  try {
    return port::Utf16ToAnsi(TranslateString(port::AnsiToUtf16(text), component, property));
  } catch (...) {
    return text;
  }
}

void TWtransl::Collect(const std::u16string& text, TComponent* component, std::string_view property) {
  std::string key = port::Utf16ToUtf8(Trim16(text));
  if (key.empty() || collected_.size() >= kMaxCollected || !collectedKeys_.insert(key).second) return;
  std::string note;
  if (header_.saveMode == TLngSaveMode::UntranslatedObjects && component) {
    note = ComponentPath(component);
    if (!property.empty()) {
      note.push_back('.');
      note.append(property);
    }
  }
  collected_.emplace_back(std::move(key), std::move(note));
}

void TWtransl::TranslateTree(TComponent& root) {
  struct Item {
    TComponent* c;
    bool isRoot;
  };
  std::vector<Item> stack{{&root, true}};
  while (!stack.empty()) {
    Item it = stack.back();
    stack.pop_back();
    TComponent& c = *it.c;
    if (c.Tag() == kTagSkipTree || c.Name().rfind("__", 0) == 0) continue;  // with all it owns
    bool allow = true;
    if (OnBeforeTranslateComponent) OnBeforeTranslateComponent(*this, c, allow);
    if (allow) {
      if (c.Tag() == kTagSkipSelf) {
        // the component itself is left as it is
      } else if (c.Tag() == kTagCustomOnly && !it.isRoot) {
        if (OnCustomTranslate) OnCustomTranslate(*this, c);
      } else {
        TranslateProperties(c);
        CallCustomHandler(c);
        if (OnCustomTranslate) OnCustomTranslate(*this, c);
      }
    }
    if (c.Name().rfind('_', 0) == 0) continue;  // not descended into
    for (size_t i = c.ComponentCount(); i-- > 0;) stack.push_back({c.Components(i), false});
  }
}

void TWtransl::TranslateProperties(TComponent& c) {
  uint32_t excluded = 0;
  if (c.Tag() >= kTagExcludeFirst && c.Tag() <= kTagExcludeLast) excluded = static_cast<uint32_t>(c.Tag() - kTagExcludeFirst);
  TTranslationMemo& memo = c.TranslationTexts();
  for (const TPropInfo* p : c.Properties()) {
    if (ComponentProperties.IndexOf(p->name) < 0 || (ExclusionBit(p->name) & excluded) != 0) continue;
    auto m = memo.find(p->name);
    if (p->kind == TPropKind::Text) {
      const std::string cur = p->getText(c);
      // The original stays the source as long as nobody changed the text since.
      const std::string src = (m != memo.end() && m->second.second == cur) ? m->second.first : cur;
      if (src.empty() && m == memo.end()) continue;
      std::string out = src.empty() ? src : TranslateAnsi(src, &c, p->name);
      if (out != src || m != memo.end()) memo[p->name] = {src, out};
      if (out != cur) p->setText(c, out);
    } else if (p->kind == TPropKind::Strings) {
      TStrings* list = p->strings(c);
      const std::string cur = list->Text();
      TStrings src;
      src.SetText((m != memo.end() && m->second.second == cur) ? m->second.first : cur);
      std::vector<std::string> lines;
      for (const std::string& line : src.Lines())
        lines.push_back(line.empty() ? line : TranslateAnsi(line, &c, p->name));
      TStrings out;
      out.AssignLines(lines);
      if (out.Text() != src.Text() || m != memo.end()) memo[p->name] = {src.Text(), out.Text()};
      if (out.Text() != cur) list->AssignLines(std::move(lines));
    } else if (p->kind == TPropKind::Component) {
      if (OnCustomObjectPropertyTranslate) OnCustomObjectPropertyTranslate(*this, c, *p, p->getRef(c));
    }
  }
  // Fonts take the file's character set; the reading order applies where the
  // component has one.
  if (header_.charset >= 0)
    if (const TPropInfo* p = c.FindProperty("FontCharset"); p && p->kind == TPropKind::Integer)
      p->setInt(c, header_.charset);
  if (header_.biDiMode != TLngBiDiMode::None)
    if (const TPropInfo* p = c.FindProperty("BiDiMode")) {
      static const char* const kNames[] = {"bdLeftToRight", "bdRightToLeft", "bdRightToLeftNoAlign",
                                           "bdRightToLeftReadingOnly"};
      SetPropValue(c, *p, Variant(std::string(kNames[static_cast<int>(header_.biDiMode)])));
    }
}

void TWtransl::CallCustomHandler(TComponent& c) {
  TWtranslatorCustomFactory factory = nullptr;
  {
    THandlerRegistry& r = Handlers();
    port::Guard g(r.cs);
    for (const auto& e : r.entries)
      if (c.InheritsFrom(*e.cls)) {
        factory = e.factory;
        break;
      }
  }
  if (factory)
    if (auto h = factory()) h->Translate(*this, c);
}

std::string TWtransl::SaveCollected() {
  port::Guard g(lock_);
  const TLngSaveMode mode = header_.saveMode;
  if (mode == TLngSaveMode::None || saveFile_.empty()) return {};
  std::vector<std::pair<std::string, std::string>> entries;
  std::string file = saveFile_;
  if (mode == TLngSaveMode::Unused) {
    file += ".unused";
    for (const auto& [k, v] : table_.Exact())
      if (!usedKeys_.count(k)) entries.emplace_back(k, std::string());
    usedKeys_.clear();
    header_.saveMode = TLngSaveMode::None;  // written once
  } else {
    file += ".new";
    entries.swap(collected_);
    collectedKeys_.clear();
  }
  if (entries.empty()) return {};
  std::string blocks;
  for (const auto& [text, note] : entries) {
    if (!note.empty()) blocks += "// " + EncodeControls(note) + "\r\n";
    blocks += sourceCode_ + ":>" + EncodeControls(text) + "\r\n" + targetCode_ + ":>\r\n\r\n";
  }
  const bool exists = port::FileExists(file);
  std::string content;
  if (exists && header_.writeMode == TLngWriteMode::New) return {};
  if (exists && header_.writeMode == TLngWriteMode::Append) {
    if (!port::ReadFile(file, &content)) return {};
    if (!content.empty() && content.back() != '\n') content += "\r\n";
    content += "\r\n" + blocks;
  } else {
    content = "Encoding=utf-8\r\n[Languages]\r\n$" + sourceCode_ + " = #1\r\n$" + targetCode_ +
              " = #2 (Default)\r\nDefault = " + targetCode_ + "\r\n\r\n" + blocks;
  }
  return port::WriteFileAtomic(file, content) ? file : std::string();
}

}  // namespace kel
