// Where TWreg keeps values: an INI file, the registry, or the custom store.
// One store serves one operation.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/port.h"
#include "platform/registry.h"
#include "runtime/settings/ini_file.h"
#include "runtime/settings/persistence_map.h"

namespace kel {

class TWregStore {
 public:
  virtual ~TWregStore() = default;
  // Goes to the line's location (registry key, INI section); false skips the line.
  virtual bool Locate(const TMapLine& line, TWregOperation op) = 0;
  virtual bool Exists(const std::string& name) = 0;
  virtual bool ReadInteger(const std::string& name, int32_t* value) = 0;
  virtual bool ReadFloat(const std::string& name, double* value) = 0;
  virtual bool ReadText(const std::string& name, std::string* value) = 0;
  virtual bool WriteInteger(const std::string& name, int32_t value) = 0;
  virtual bool WriteFloat(const std::string& name, double value) = 0;
  virtual bool WriteText(const std::string& name, const std::string& value) = 0;
  virtual void DeleteValue(const std::string& name) = 0;
  // A value that could not be read, converted or assigned.
  virtual void Discard(const std::string& name) { (void)name; }
  virtual std::vector<std::string> KeyNames() = 0;
  virtual std::vector<std::string> ValueNames() = 0;
  virtual void DeleteLine(const TMapLine& line) = 0;
  // Ends the operation; false when what was changed could not be kept.
  virtual bool Finish() { return true; }
};

// Finds nothing and keeps nothing: only the events move values.
class TCustomWregStore : public TWregStore {
 public:
  bool Locate(const TMapLine&, TWregOperation) override { return true; }
  bool Exists(const std::string&) override { return false; }
  bool ReadInteger(const std::string&, int32_t*) override { return false; }
  bool ReadFloat(const std::string&, double*) override { return false; }
  bool ReadText(const std::string&, std::string*) override { return false; }
  bool WriteInteger(const std::string&, int32_t) override { return true; }
  bool WriteFloat(const std::string&, double) override { return true; }
  bool WriteText(const std::string&, const std::string&) override { return true; }
  void DeleteValue(const std::string&) override {}
  std::vector<std::string> KeyNames() override { return {}; }
  std::vector<std::string> ValueNames() override { return {}; }
  void DeleteLine(const TMapLine&) override {}
};

// The INI file, read when the operation starts and written back (atomically)
// when it ends, under a system-wide lock named after the file.
class TIniWregStore : public TWregStore {
 public:
  // Settings files are small; a bigger file is left alone rather than read.
  static constexpr size_t kMaxIniFileSize = 64u << 20;
  TIniWregStore(std::string path, std::string sectionPrefix);
  // Takes the lock and reads the file; false when the lock cannot be had.
  bool Begin();
  bool Locate(const TMapLine& line, TWregOperation op) override;
  bool Exists(const std::string& name) override;
  bool ReadInteger(const std::string& name, int32_t* value) override;
  bool ReadFloat(const std::string& name, double* value) override;
  bool ReadText(const std::string& name, std::string* value) override;
  bool WriteInteger(const std::string& name, int32_t value) override;
  bool WriteFloat(const std::string& name, double value) override;
  bool WriteText(const std::string& name, const std::string& value) override;
  void DeleteValue(const std::string& name) override;
  std::vector<std::string> KeyNames() override;
  std::vector<std::string> ValueNames() override;
  void DeleteLine(const TMapLine& line) override;
  bool Finish() override;

 private:
  std::string path_;
  std::string prefix_;
  std::string section_;
  port::NamedLock lock_;
  TIniFile ini_;
};

// The registry under the first root that can be used.
class TRegistryWregStore : public TWregStore {
 public:
  TRegistryWregStore(std::unique_ptr<port::Registry> reg, std::string basePath);
  bool Locate(const TMapLine& line, TWregOperation op) override;
  bool Exists(const std::string& name) override;
  bool ReadInteger(const std::string& name, int32_t* value) override;
  bool ReadFloat(const std::string& name, double* value) override;
  bool ReadText(const std::string& name, std::string* value) override;
  bool WriteInteger(const std::string& name, int32_t value) override;
  bool WriteFloat(const std::string& name, double value) override;
  bool WriteText(const std::string& name, const std::string& value) override;
  void DeleteValue(const std::string& name) override;
  void Discard(const std::string& name) override { DeleteValue(name); }
  std::vector<std::string> KeyNames() override;
  std::vector<std::string> ValueNames() override;
  void DeleteLine(const TMapLine& line) override;
  bool Finish() override { return reg_->EndUpdate(); }

 private:
  std::string KeyOf(const TMapLine& line) const;
  std::unique_ptr<port::Registry> reg_;
  std::string base_;  // RegistryPath without a trailing backslash
};

}  // namespace kel
