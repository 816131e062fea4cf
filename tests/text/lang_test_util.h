// Temporary language files for the translator tests.
#pragma once

#include <atomic>
#include <string>

#include "platform/port.h"

namespace kel::testing {

inline std::string TempLngPath(const std::string& stem) {
  static std::atomic<int> counter{0};
  return port::TempDirectory() + "/kel_lng_" + std::to_string(port::CurrentThreadId()) + "_" +
         std::to_string(counter++) + "_" + stem + ".lng";
}

inline std::string WriteLng(const std::string& stem, const std::string& content) {
  std::string path = TempLngPath(stem);
  port::WriteFileAtomic(path, content);
  return path;
}

}  // namespace kel::testing
