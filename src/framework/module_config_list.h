// The host's configurations an instance can be loaded for: names paired with
// configuration numbers.  The framework adds no entries of its own.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/thread_object.h"

namespace kel {

class TModuleConfigList : public TThreadStringList {
 public:
  void Add(const std::string& name, int32_t number);
  // The name paired with number; empty when there is none.
  std::string NameOf(int32_t number);
};

}  // namespace kel
