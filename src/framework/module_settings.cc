#include "framework/module_settings.h"

#include <exception>

#include "framework/exports_impl.h"
#include "framework/kel_plugin.h"
#include "framework/module_config_list.h"
#include "platform/port.h"
#include "runtime/settings/app_data.h"
#include "runtime/text/text_utils.h"

namespace kel {

namespace {

bool IsBadFileChar(char c) {
  return c == '"' || c == '*' || c == '/' || c == ':' || c == '<' || c == '>' || c == '?' || c == '\\' || c == '|';
}

std::string WithSeparator(std::string path) {
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path.push_back(port::PathSeparator());
  return path;
}

// Text after the first occurrence of c; the whole text when c is missing.
std::string_view After(std::string_view s, char c) {
  size_t at = s.find(c);
  return at == std::string_view::npos ? s : s.substr(at + 1);
}

// The settings component of one load or save; SettingsBusy while it lives.
class SettingsScope {
 public:
  explicit SettingsScope(TkelPlugin& p) REQUIRES(p.CommandLock) : p_(p) { p_.SettingsBusy = true; }
  ~SettingsScope() { p_.SettingsBusy = false; }
  SettingsScope(const SettingsScope&) = delete;
  SettingsScope& operator=(const SettingsScope&) = delete;

 private:
  TkelPlugin& p_;
};

void Configure(TWreg& w, const TkelPlugin& p, const TStrings& components, const std::string& iniFile)
    REQUIRES(p.CommandLock) {
  auto root = [](uint8_t r) {
    return r <= static_cast<uint8_t>(TRegistryRoot::rrNone) ? static_cast<TRegistryRoot>(r) : TRegistryRoot::rrNone;
  };
  w.RegistryRoot = root(p.ModuleRegistryRoot1);
  w.SecondRegistryRoot = root(p.ModuleRegistryRoot2);
  w.RegistryPath = p.ModuleRegistryPath.Get();
  w.INIFileSectionPrefix = p.INISectionPrefix;
  w.INIFile = iniFile.empty() ? p.INIFile : iniFile;
  w.Components.Assign(components);
}

}  // namespace

std::string MakeValidFileName(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (IsBadFileChar(c)) c = '-';
  std::string upper = port::AnsiUpper(out);
  if (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0 || upper == "CON" || upper == "AUX" ||
      upper == "PRN" || upper == "NUL")
    out.insert(out.begin(), '_');
  return out;
}

std::string GetAppDataPath(const TkelPlugin& p) {
  std::string field;
  const std::string path = p.ModuleRegistryPath.Get();
  size_t at = 0;
  for (int n = 1; at <= path.size(); ++n) {
    size_t end = path.find('\\', at);
    if (end == std::string::npos) end = path.size();
    if (n == 4) {
      field = Trim(std::string_view(path).substr(at, end - at));
      break;
    }
    at = end + 1;
  }
  for (char& c : field)
    if (IsBadFileChar(c)) c = ' ';
  std::string base = port::AppDataDirectory(true);
  if (base.empty()) base = p.ModulePath;  // no common folder: the module's own
  return WithSeparator(WithSeparator(base) + field);
}

std::string GetModuleConfigId(const TkelPlugin& p) {
  std::string_view prefix = p.INISectionPrefix;
  size_t close = prefix.find('}');
  std::string_view id = close == std::string_view::npos ? prefix : prefix.substr(0, close);
  id = After(id, '{');
  std::string_view name = After(id, ':');
  if (!name.empty()) id = name;
  return std::string(id);
}

std::string GetModuleDataPath(TkelPlugin& p, const std::string& subFolder, bool create) {
  std::string id = GetModuleConfigId(p);
  if (subFolder == "*") id.clear();
  else if (!subFolder.empty()) id = id.empty() ? subFolder : subFolder + port::PathSeparator() + id;
  std::string name;
  if (p.ModuleConfigs && p.ModuleConfigs->Count() > 0)
    name = MakeValidFileName(p.ModuleConfigs->NameOf(p.ModuleLoadForConfig));
  if (name.empty()) {
    ReadGuard texts(p.SettingsLock);
    std::string first = p.Description.substr(0, p.Description.find_first_of("\r\n"));
    name = MakeValidFileName(first);
  }
  if (name.empty()) {
    std::string file = p.ModuleName;
    size_t dot = file.rfind('.');
    if (dot != std::string::npos) file.resize(dot);
    name = AsciiLowerCopy(file);
  }
  std::string path = GetAppDataPath(p);
  if (!id.empty()) path = WithSeparator(path + id);
  path = WithSeparator(path + name);
  if (create && !port::DirectoryExists(path)) port::CreateDirectories(path);
  return path;
}

namespace {

// One settings component for one load or save; SettingsBusy while it lives.
bool RunSettings(TkelPlugin& p, const TStrings* components, const TWregRoot& target, const std::string& iniFile,
                 bool save) REQUIRES(p.CommandLock) {
  if (!components) return false;
  SettingsScope busy(p);
  TWreg w;
  Configure(w, p, *components, iniFile);
  return save ? w.Save(target) : w.Load(target);
}

}  // namespace

bool LoadSettings(TkelPlugin& p, const TStrings* components, const TWregRoot& target, const std::string& iniFile) {
  return RunSettings(p, components, target, iniFile, false);
}

bool SaveSettings(TkelPlugin& p, const TStrings* components, const TWregRoot& target, const std::string& iniFile) {
  return RunSettings(p, components, target, iniFile, true);
}

void SetUpLanguage(TkelPlugin& p) {
  if (!p.Translator) return;
  TWtransl& t = *p.Translator;
  std::string program = port::ProgramFileName();
  size_t cut = program.find_last_of("/\\");
  std::string hostFolder = cut == std::string::npos ? std::string() : program.substr(0, cut + 1);
  std::string own = p.ModuleName;
  size_t dot = own.rfind('.');
  own = (dot == std::string::npos ? own : own.substr(0, dot)) + ".lng";
  std::string ownFile = p.ModulePath + own;
  t.LanguageFile = hostFolder + "plugins.lng|" + ownFile;
  t.SourceLanguage = "EN";
  // At creation, before the instance is shared: the lock is free.
  WriteGuard texts(p.SettingsLock);
  p.Language = "EN";
  if (port::FileExists(ownFile)) {
    std::string def = t.GetLanguages();
    if (!def.empty()) p.Language = def;
  } else {
    t.LanguageFile.clear();  // no language files: no translation
  }
  for (const char* name : {"MsgNoData", "MsgWriteComplete", "MsgWriteCompleteError"})
    if (t.ComponentProperties.IndexOf(name) < 0) t.ComponentProperties.Add(name);
}

void TranslateAfterCreation(TkelPlugin& p) {
  if (!p.Translator || p.Translator->LanguageFile.empty()) return;
  WriteGuard texts(p.SettingsLock);
  if (!p.Translated && !p.Language.empty()) {
    p.Translator->Translate(p.Language, &p, "EN");
    p.Translated = true;
  }
}

void SwitchLanguage(TkelPlugin& p, const std::string& language) {
  if (language.empty()) return;
  {
    ReadGuard texts(p.SettingsLock);
    if (language == p.Language) return;
  }
  {
    // Processing threads read the texts under the read side.
    WriteGuard texts(p.SettingsLock);
    p.Language = language;
    p.Translated = false;
    if (p.Translator && !p.Translator->LanguageFile.empty()) {
      p.Translator->Translate(p.Language, &p, "EN");
      p.Translated = true;
    }
  }
  if (p.OnLanguageChanged) {
    try {
      p.OnLanguageChanged(p);
    } catch (const std::exception& e) {
      ReportError(&p, "TRANSL", e.what());
    } catch (...) {
      ReportError(&p, "TRANSL", "unknown failure");
    }
  }
}

void TranslateComponent(TkelPlugin& p, TComponent* component) {
  WriteGuard texts(p.SettingsLock);
  if (p.Language.empty()) p.Language = "NONE";
  if (p.Translator && component) p.Translator->Translate(p.Language, component, "EN");
}

}  // namespace kel
