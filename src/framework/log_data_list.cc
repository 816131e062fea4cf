#include "framework/log_data_list.h"

#include <cstring>
#include <limits>

namespace kel {

void TLogDataList::FlushRepeatSuffix(List& list) {
  if (lastRepeat_ > 0 && !list.empty()) list.back().text += " x" + std::to_string(lastRepeat_ + 1);
  lastRepeat_ = 0;
}

void TLogDataList::AddLine(std::string line) {
  const TWriteLocked<TThreadStringList> locked(*this);
  List& list = locked.Items();
  if (!list.empty() && list.back().text == line) {
    ++lastRepeat_;
  } else {
    FlushRepeatSuffix(list);
    list.push_back(TStringEntry{std::move(line), nullptr});
    if (limit_ > 0)
      while (list.size() > static_cast<size_t>(limit_)) list.pop_front();
  }
}

int32_t TLogDataList::Drain(void* buffer, uint32_t capacity, uint32_t* length) {
  *length = 0;
  const TWriteLocked<TThreadStringList> locked(*this);
  List& list = locked.Items();
  FlushRepeatSuffix(list);
  size_t total = 0;
  for (const auto& e : list) total += e.text.size() + 2;
  // A log beyond 2 GiB cannot be reported exactly; it can only be discarded.
  const bool fits32 = total <= static_cast<size_t>(std::numeric_limits<int32_t>::max());
  *length = fits32 ? static_cast<uint32_t>(total) : static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
  if (total == 0) return 0;
  if (capacity == 0) {
    list.clear();
    return 0;
  }
  if (!fits32 || total > capacity || !buffer) return 0;
  auto* out = static_cast<char*>(buffer);
  for (const auto& e : list) {
    std::memcpy(out, e.text.data(), e.text.size());
    out += e.text.size();
    *out++ = '\r';
    *out++ = '\n';
  }
  list.clear();
  return static_cast<int32_t>(total);
}

int32_t TLogDataList::LastRepeatCount() {
  const TWriteLocked<TThreadStringList> locked(*this);
  return lastRepeat_;
}

}  // namespace kel
