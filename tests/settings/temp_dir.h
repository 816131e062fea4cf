// A fresh temporary folder for a test, removed afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace kel::testing {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "bacnetip-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Points the registry emulation at a folder for the life of the object.
class ScopedRegistryDir {
 public:
  explicit ScopedRegistryDir(const std::string& dir) {
    Save("BACNETIP_REGISTRY_DIR", dir_);
    Save("BACNETIP_REGISTRY_MACHINE_DIR", machine_);
    setenv("BACNETIP_REGISTRY_DIR", dir.c_str(), 1);
  }
  // Puts back what was set before, so a later test never reaches the
  // machine's own stores.
  ~ScopedRegistryDir() {
    Restore("BACNETIP_REGISTRY_DIR", dir_);
    Restore("BACNETIP_REGISTRY_MACHINE_DIR", machine_);
  }

 private:
  struct Saved {
    bool set = false;
    std::string value;
  };
  static void Save(const char* name, Saved& s) {
    const char* v = getenv(name);
    s.set = v != nullptr;
    s.value = v ? v : "";
  }
  static void Restore(const char* name, const Saved& s) {
    if (s.set) setenv(name, s.value.c_str(), 1);
    else unsetenv(name);
  }
  Saved dir_, machine_;
};

}  // namespace kel::testing
