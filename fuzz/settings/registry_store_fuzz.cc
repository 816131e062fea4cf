// Any bytes as a registry store file: every key and value is read.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../common/scratch_dir.h"
#include "platform/port.h"
#include "platform/registry.h"

namespace {

const std::string& StoreDir() {
  static std::string dir = [] {
    std::string d = fuzzutil::MakeScratchDir("bacnetip-fuzz-registry");
    setenv("BACNETIP_REGISTRY_DIR", d.c_str(), 1);
    setenv("TMPDIR", d.c_str(), 1);  // the store's lock file too
    return d;
  }();
  return dir;
}

void Walk(port::Registry& reg, const std::string& path, int depth) {
  if (depth > 8 || !reg.OpenKey(path, false)) return;
  for (const auto& v : reg.GetValueNames()) {
    int32_t i;
    std::string s;
    reg.ReadInteger(v, &i);
    reg.ReadString(v, &s);
    reg.ReadBinary(v, &s);
  }
  for (const auto& k : reg.GetKeyNames()) {
    Walk(reg, path + "\\" + k, depth + 1);
    reg.OpenKey(path, false);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string file = StoreDir() + "/user.reg";
  std::string text = "BACNETIP-REGISTRY 1\n" + std::string(reinterpret_cast<const char*>(data), size);
  if (!port::WriteFileAtomic(file, text)) return 0;
  port::Registry reg(port::kHKEY_CURRENT_USER);
  Walk(reg, "\\", 0);
  return 0;
}
