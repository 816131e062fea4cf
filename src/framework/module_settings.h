// Where an instance keeps its data and settings, how it loads and saves
// them, and how it follows the host's language.
#pragma once

#include <string>

#include "framework/kel_plugin.h"
#include "runtime/component/component.h"
#include "runtime/component/string_list.h"
#include "runtime/settings/wreg.h"

namespace kel {

// " * / : < > ? \ | become "-"; device names get a leading "_".
std::string MakeValidFileName(const std::string& name);

// The machine-wide application-data folder of the host application (from the
// 4th field of ModuleRegistryPath), ending with a separator.
std::string GetAppDataPath(const TkelPlugin& p);
// The configuration identifier taken from INISectionPrefix ("{label:name}").
std::string GetModuleConfigId(const TkelPlugin& p) REQUIRES(p.CommandLock);
// The instance's data folder, ending with a separator.  subFolder "*" drops
// the configuration identifier; create makes the folder (failures ignored).
std::string GetModuleDataPath(TkelPlugin& p, const std::string& subFolder = "", bool create = false)
    REQUIRES(p.CommandLock);

// Load and save through a persistence map; the INI file is iniFile when not
// empty, else the instance's INIFile.  False for a null map.
bool LoadSettings(TkelPlugin& p, const TStrings* components, const TWregRoot& target, const std::string& iniFile)
    REQUIRES(p.CommandLock);
bool SaveSettings(TkelPlugin& p, const TStrings* components, const TWregRoot& target, const std::string& iniFile)
    REQUIRES(p.CommandLock);

// Language set-up at creation, the first translation after it, a switch of
// language (LOAD), and the translation of one component.  Each takes the
// write side of SettingsLock for the texts it changes.
void SetUpLanguage(TkelPlugin& p);
void TranslateAfterCreation(TkelPlugin& p);
void SwitchLanguage(TkelPlugin& p, const std::string& language) REQUIRES(p.CommandLock);
void TranslateComponent(TkelPlugin& p, TComponent* component);

}  // namespace kel
