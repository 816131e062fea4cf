// Locating the application-data folders.
#pragma once

#include <string>

namespace kel {

constexpr int kFolderUserAppData = 26;
constexpr int kFolderCommonAppData = 35;

// A name made safe for the file system: " * / : < > ? \ | become blanks, and
// device names (COM.., LPT.., CON, AUX, PRN, NUL) get a leading "_".
std::string SafeFolderName(const std::string& name);

// The folder (26: per user, 35: machine-wide) joined with name, ending with
// a separator.  Without a usable folder: the module's own folder when
// fallback is set, else empty.
std::string AppDataFolder(int folderId, const std::string& name, bool fallback);

}  // namespace kel
