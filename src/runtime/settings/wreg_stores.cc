#include "runtime/settings/wreg_stores.h"

#include <cstring>

#include "runtime/text/text_utils.h"

namespace kel {

// ---- INI ---------------------------------------------------------------------

TIniWregStore::TIniWregStore(std::string path, std::string sectionPrefix)
    : path_(std::move(path)), prefix_(std::move(sectionPrefix)), lock_(IniLockName(path_)) {}

bool TIniWregStore::Begin() {
  if (!lock_.Acquire(30000)) return false;
  // A file that is there but cannot be read (or is far too big to be a
  // settings file) fails the operation: writing it back would replace it with
  // only the keys of this operation.
  std::string text;
  if (port::ReadFile(path_, &text, kMaxIniFileSize)) {
    ini_.Parse(text);
  } else if (port::FileExists(path_)) {
    lock_.Release();
    return false;
  }
  return true;
}

bool TIniWregStore::Locate(const TMapLine& line, TWregOperation op) {
  section_ = IniSection(line.subPath, prefix_, op);
  return true;
}

bool TIniWregStore::Exists(const std::string& name) { return ini_.ValueExists(section_, name); }

// A value that is not a number of the kind is not read, so that the
// property keeps its value instead of becoming 0.
bool TIniWregStore::ReadInteger(const std::string& name, int32_t* value) {
  return ini_.TryReadInteger(section_, name, value);
}

bool TIniWregStore::ReadFloat(const std::string& name, double* value) {
  return ini_.TryReadFloat(section_, name, value);
}

bool TIniWregStore::ReadText(const std::string& name, std::string* value) {
  return ini_.Read(section_, name, value);
}

bool TIniWregStore::WriteInteger(const std::string& name, int32_t value) {
  return ini_.WriteInteger(section_, name, value);
}

bool TIniWregStore::WriteFloat(const std::string& name, double value) {
  return ini_.WriteFloat(section_, name, value);
}

bool TIniWregStore::WriteText(const std::string& name, const std::string& value) {
  return ini_.WriteString(section_, name, value);
}

void TIniWregStore::DeleteValue(const std::string& name) { ini_.DeleteKey(section_, name); }

std::vector<std::string> TIniWregStore::KeyNames() {
  std::vector<std::string> out;
  auto sections = ini_.SectionNames();
  if (section_.empty()) return sections;
  for (const auto& s : sections) {
    if (!StartsTextAscii(s, section_)) continue;
    std::string rest = s.substr(section_.size());
    if (!rest.empty() && rest[0] == '.') rest.erase(0, 1);
    size_t dot = rest.find('.');
    if (dot != std::string::npos) rest.resize(dot);
    if (rest.empty()) continue;
    bool seen = false;
    for (const auto& o : out)
      if (SameTextAscii(o, rest)) seen = true;
    if (!seen) out.push_back(rest);
  }
  return out;
}

std::vector<std::string> TIniWregStore::ValueNames() { return ini_.SectionKeys(section_); }

void TIniWregStore::DeleteLine(const TMapLine& line) {
  std::string n = section_.empty() ? line.valueName : section_ + "." + line.valueName;
  bool erased = false;
  for (const auto& s : ini_.SectionNames()) {
    if (SameTextAscii(s, n) || StartsTextAscii(s, n + ".")) {
      ini_.EraseSection(s);
      erased = true;
    }
  }
  if (!erased) ini_.DeleteKey(section_, line.valueName);
}

bool TIniWregStore::Finish() {
  bool ok = true;
  if (ini_.Modified()) ok = port::WriteFileAtomic(path_, ini_.Text());
  lock_.Release();
  return ok;
}

// ---- Registry -------------------------------------------------------------

TRegistryWregStore::TRegistryWregStore(std::unique_ptr<port::Registry> reg, std::string basePath)
    : reg_(std::move(reg)), base_(std::move(basePath)) {
  reg_->BeginUpdate();
  while (!base_.empty() && base_.back() == '\\') base_.pop_back();
}

std::string TRegistryWregStore::KeyOf(const TMapLine& line) const {
  std::string key = base_;
  if (!key.empty() && key[0] != '\\') key.insert(key.begin(), '\\');
  return line.subPath.empty() ? key : key + "\\" + line.subPath;
}

bool TRegistryWregStore::Locate(const TMapLine& line, TWregOperation op) {
  std::string key = KeyOf(line);
  if (op == TWregOperation::Load || op == TWregOperation::ListKeys || op == TWregOperation::ListValues)
    return reg_->OpenKey(key, false);
  return reg_->OpenKey(key, true);
}

bool TRegistryWregStore::Exists(const std::string& name) { return reg_->ValueExists(name); }

bool TRegistryWregStore::ReadInteger(const std::string& name, int32_t* value) {
  return reg_->ReadInteger(name, value);
}

bool TRegistryWregStore::ReadFloat(const std::string& name, double* value) {
  std::string b;
  if (!reg_->ReadBinary(name, &b) || b.size() != sizeof(double)) return false;
  std::memcpy(value, b.data(), sizeof(double));
  return true;
}

bool TRegistryWregStore::ReadText(const std::string& name, std::string* value) {
  switch (reg_->GetDataType(name)) {
    case port::RegType::String:
      return reg_->ReadString(name, value);
    case port::RegType::Integer: {
      int32_t n;
      if (!reg_->ReadInteger(name, &n)) return false;
      *value = std::to_string(n);
      return true;
    }
    case port::RegType::Binary: {
      double d;
      if (!ReadFloat(name, &d)) return false;
      *value = FloatText(d);
      return true;
    }
    default:
      return false;
  }
}

bool TRegistryWregStore::WriteInteger(const std::string& name, int32_t value) {
  return reg_->WriteInteger(name, value);
}

bool TRegistryWregStore::WriteFloat(const std::string& name, double value) {
  return reg_->WriteBinary(name, std::string(reinterpret_cast<const char*>(&value), sizeof value));
}

bool TRegistryWregStore::WriteText(const std::string& name, const std::string& value) {
  return reg_->WriteString(name, value);
}

void TRegistryWregStore::DeleteValue(const std::string& name) { reg_->DeleteValue(name); }

std::vector<std::string> TRegistryWregStore::KeyNames() { return reg_->GetKeyNames(); }

std::vector<std::string> TRegistryWregStore::ValueNames() { return reg_->GetValueNames(); }

void TRegistryWregStore::DeleteLine(const TMapLine& line) {
  std::string key = KeyOf(line);
  std::string full = key + "\\" + line.valueName;
  size_t backslashes = 0;
  for (char c : full)
    if (c == '\\') ++backslashes;
  // Guard against wiping a whole branch of the registry by a short path.
  if (full.size() <= 5 || backslashes < 3) return;
  if (reg_->KeyExists(full)) {
    reg_->DeleteKey(full);
    return;
  }
  if (!reg_->OpenKey(key, false)) return;
  reg_->DeleteValue(line.valueName);
  if (reg_->GetValueNames().empty() && !reg_->HasSubKeys()) {
    reg_->CloseKey();
    reg_->DeleteKey(key);
  }
}

}  // namespace kel
