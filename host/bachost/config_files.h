// The files the host keeps for the plug-in: the request configuration it
// reads and the INI file it stores the module's options in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// Reads the configuration XML (at most 16 MiB; a UTF-8 byte-order mark is
// dropped); false when the file cannot be read or holds no MODBUSRTUQUERY
// element.
bool ReadRequestConfigFile(const std::string& path, std::string* xml, std::string* error);

// Stores the configuration XML under "Parser config" and the device
// properties switch under "Read dev props" (True/False) in the [Common]
// section of the INI file, and "Fresh values only" when it is chosen or the
// file has it already, keeping whatever else the file holds.  The file is
// replaced atomically while the module's lock for that file is held.
// More opt-in options are written likewise: when chosen, or when the file
// has them already.
struct OptInValue {
  std::string key;
  std::string value;
  bool chosen = false;
};
bool StoreModuleSettings(const std::string& iniPath, const std::string& xml, bool readDeviceProperties,
                         std::string* error, bool freshValuesOnly = false, const std::vector<OptInValue>& more = {});

// A file of this process in the temporary folder.
std::string DefaultIniPath();

}  // namespace host
