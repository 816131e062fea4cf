// The registry: the real one on Windows, an emulation on POSIX.
//
// The POSIX emulation keeps one store per root as a file: the user roots
// under the configuration folder ($XDG_CONFIG_HOME or ~/.config, then
// "bacnetip"), HKEY_LOCAL_MACHINE under /var/lib/bacnetip only where that
// folder can be written (otherwise opening fails, so callers fall back to
// their second root, as on Windows when access is denied).  Every change
// rewrites its store atomically (temporary file, flush, rename) under a
// cross-process lock, after reading the store again, so a crash never
// leaves a torn store and concurrent writers do not lose each other's keys.
// A store that is truncated or corrupt reads as far as it makes sense.
//
// BACNETIP_REGISTRY_DIR (all roots) and BACNETIP_REGISTRY_MACHINE_DIR
// (HKEY_LOCAL_MACHINE only) move the stores, for tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace port {

constexpr uint32_t kHKEY_CLASSES_ROOT = 0x80000000u;
constexpr uint32_t kHKEY_CURRENT_USER = 0x80000001u;
constexpr uint32_t kHKEY_LOCAL_MACHINE = 0x80000002u;
constexpr uint32_t kHKEY_USERS = 0x80000003u;
constexpr uint32_t kHKEY_CURRENT_CONFIG = 0x80000005u;

enum class RegType { None, Integer, String, Binary };

// Key paths use "\" between keys; a path is absolute from the root when it
// starts with "\", else relative to the open key.  Names compare without
// regard to ASCII case.
class Registry {
 public:
  explicit Registry(uint32_t rootKey);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  uint32_t RootKey() const { return root_; }
  // Opens (and with create, creates) a key; false when it cannot be opened.
  bool OpenKey(const std::string& path, bool create);
  bool OpenKeyReadOnly(const std::string& path);
  void CloseKey();

  bool KeyExists(const std::string& path);
  // Deletes a key with everything below it.
  bool DeleteKey(const std::string& path);
  std::vector<std::string> GetKeyNames();
  std::vector<std::string> GetValueNames();
  bool HasSubKeys();

  bool ValueExists(const std::string& name);
  RegType GetDataType(const std::string& name);
  bool ReadInteger(const std::string& name, int32_t* value);
  bool ReadString(const std::string& name, std::string* value);  // 8-bit (ANSI) text
  bool ReadBinary(const std::string& name, std::string* value);
  bool WriteInteger(const std::string& name, int32_t value);
  bool WriteString(const std::string& name, const std::string& value);
  bool WriteBinary(const std::string& name, const std::string& value);
  bool DeleteValue(const std::string& name);

  // Groups the changes until EndUpdate into one rewrite of the store, with
  // the cross-process lock held throughout (no-ops on Windows).  EndUpdate
  // gives false when the changes could not be written.
  bool BeginUpdate();
  bool EndUpdate();

  struct Impl;

 private:
  std::string Resolve(const std::string& path) const;
  uint32_t root_;
  std::string current_;  // open key, absolute without leading "\"; empty when none
  bool open_ = false;
  bool readOnly_ = false;
  std::unique_ptr<Impl> impl_;
};

}  // namespace port
