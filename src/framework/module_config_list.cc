#include "framework/module_config_list.h"

namespace kel {

void TModuleConfigList::Add(const std::string& name, int32_t number) {
  const TWriteLocked<TThreadStringList> locked(*this);
  locked.Items().push_back(TStringEntry{name, reinterpret_cast<void*>(static_cast<intptr_t>(number))});
}

std::string TModuleConfigList::NameOf(int32_t number) {
  const TReadLocked<TThreadStringList> locked(*this);
  for (const auto& e : locked.Items())
    if (reinterpret_cast<intptr_t>(e.object) == number) return e.text;
  return std::string();
}

}  // namespace kel
