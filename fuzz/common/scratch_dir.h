// A private scratch folder for fuzz targets that write files: in memory
// (/dev/shm) where the machine has it, so that the writes and flushes of
// settings stores cost no disk time, else under $TMPDIR or /tmp.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace fuzzutil {

inline std::string MakeScratchDir(const std::string& prefix) {
  const char* tmp = getenv("TMPDIR");
  const std::string bases[] = {"/dev/shm", tmp && *tmp ? tmp : "/tmp", "/tmp"};
  for (const std::string& base : bases) {
    if (access(base.c_str(), W_OK | X_OK) != 0) continue;
    std::string tmpl = base + "/" + prefix + "-XXXXXX";
    if (mkdtemp(tmpl.data())) return tmpl;
  }
  return "/tmp";
}

}  // namespace fuzzutil
