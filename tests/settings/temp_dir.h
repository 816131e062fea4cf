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
  explicit ScopedRegistryDir(const std::string& dir) { setenv("BACNETIP_REGISTRY_DIR", dir.c_str(), 1); }
  ~ScopedRegistryDir() {
    unsetenv("BACNETIP_REGISTRY_DIR");
    unsetenv("BACNETIP_REGISTRY_MACHINE_DIR");
  }
};

}  // namespace kel::testing
