#include "config_files.h"

#include "ini_settings.h"
#include "platform/port.h"
#include "process.h"
#include "request_config.h"

namespace host {

namespace {
constexpr size_t kMaxConfigBytes = 16u << 20;
constexpr size_t kMaxIniBytes = 64u << 20;
}  // namespace

bool ReadRequestConfigFile(const std::string& path, std::string* xml, std::string* error) {
  std::string text;
  if (!port::ReadFile(path, &text, kMaxConfigBytes)) {
    *error = "cannot read configuration file '" + path + "'";
    return false;
  }
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  if (!HasRequestRoot(text)) {
    *error = "configuration file '" + path + "' has no MODBUSRTUQUERY element";
    return false;
  }
  *xml = std::move(text);
  return true;
}

bool StoreModuleSettings(const std::string& iniPath, const std::string& xml, bool readDeviceProperties,
                         std::string* error, bool freshValuesOnly, const std::vector<OptInValue>& more) {
  port::NamedLock lock(IniLockName(iniPath));
  if (!lock.Acquire(10000)) {
    *error = "INI file '" + iniPath + "' stays locked by another process";
    return false;
  }
  std::string text;
  if (port::FileExists(iniPath) && !port::ReadFile(iniPath, &text, kMaxIniBytes)) {
    *error = "cannot read INI file '" + iniPath + "'";
    return false;
  }
  std::vector<std::pair<std::string, std::string>> values = {
      {kParserConfigKey, PercentEncode(xml)}, {kReadDevPropsKey, readDeviceProperties ? "True" : "False"}};
  // The opt-in option is written when chosen, or to switch it off again; a
  // file that never had it stays as it was.
  if (freshValuesOnly || IniHasKey(text, kIniSection, kFreshOnlyKey))
    values.emplace_back(kFreshOnlyKey, freshValuesOnly ? "True" : "False");
  for (const OptInValue& v : more)
    if (v.chosen || IniHasKey(text, kIniSection, v.key)) values.emplace_back(v.key, v.value);
  text = UpdateIniText(text, kIniSection, values);
  if (!port::WriteFileAtomic(iniPath, text)) {
    *error = "cannot write INI file '" + iniPath + "'";
    return false;
  }
  return true;
}

std::string DefaultIniPath() {
  return port::TempDirectory() + "bachost-" + std::to_string(CurrentProcessId()) + ".ini";
}

}  // namespace host
