#include "framework/module_config_list.h"

namespace kel {

void TModuleConfigList::Add(const std::string& name, int32_t number) {
  auto& list = LockWrite();
  list.push_back(TStringEntry{name, reinterpret_cast<void*>(static_cast<intptr_t>(number))});
  UnlockWrite();
}

std::string TModuleConfigList::NameOf(int32_t number) {
  const auto& list = LockRead();
  std::string name;
  for (const auto& e : list) {
    if (reinterpret_cast<intptr_t>(e.object) == number) {
      name = e.text;
      break;
    }
  }
  UnlockRead();
  return name;
}

}  // namespace kel
