#include "runtime/settings/app_data.h"

#include "platform/port.h"

namespace kel {

namespace {

std::string WithSeparator(std::string path) {
  char sep = port::PathSeparator();
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path.push_back(sep);
  return path;
}

std::string ModuleFolder() {
  std::string f = port::ModuleFileName();
  size_t cut = f.find_last_of("/\\");
  return cut == std::string::npos ? std::string() : f.substr(0, cut + 1);
}

}  // namespace

std::string SafeFolderName(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (c == '"' || c == '*' || c == '/' || c == ':' || c == '<' || c == '>' || c == '?' || c == '\\' || c == '|')
      c = ' ';
  std::string upper = port::AnsiUpper(out);
  if (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0 || upper == "CON" || upper == "AUX" ||
      upper == "PRN" || upper == "NUL")
    out.insert(out.begin(), '_');
  return out;
}

std::string AppDataFolder(int folderId, const std::string& name, bool fallback) {
  std::string safe = SafeFolderName(name);
  std::string base = port::AppDataDirectory(folderId == kFolderCommonAppData);
  if (base.empty()) base = port::GetEnv("CommonProgramFiles");
  if (base.empty() && fallback) base = ModuleFolder();
  if (base.empty()) return {};
  std::string result = WithSeparator(base) + safe;
  return WithSeparator(result);
}

}  // namespace kel
