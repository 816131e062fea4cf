#include "framework/log_data_list.h"

#include <cstring>

namespace kel {

void TLogDataList::AddLine(const std::string& line) {
  auto& list = LockWrite();
  if (limit_ > 0)
    while (static_cast<int32_t>(list.size()) >= limit_) list.pop_front();
  list.push_back(TStringEntry{line, nullptr});
  UnlockWrite();
}

int32_t TLogDataList::Drain(const TPluginValue& input, uint32_t* length) {
  WriteGuard g(Sync());
  auto& list = LockWrite();
  std::string text;
  for (const auto& e : list) {
    text += e.text;
    text += "\r\n";
  }
  UnlockWrite();
  *length = static_cast<uint32_t>(text.size());
  if (text.empty()) return 0;
  if (input.Size == 0) {
    LockWrite().clear();
    UnlockWrite();
    return 0;
  }
  if (text.size() > input.Size || !input.Value) return 0;
  std::memcpy(reinterpret_cast<void*>(input.Value), text.data(), text.size());
  LockWrite().clear();
  UnlockWrite();
  return static_cast<int32_t>(text.size());
}

}  // namespace kel
