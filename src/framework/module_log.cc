// Writing to the instance log and telling the host about it.
#include "framework/kel_plugin.h"

namespace kel {

namespace {

constexpr uint32_t kNotifySendTimeoutMs = 1000;

}  // namespace

void TkelPlugin::AddLog(uint8_t level, const std::string& message, bool flag) {
  if (!Log || destroying_) return;
  try {
    const std::string title = LogTitle.Get();
    std::string line;
    line.reserve(1 + title.size() + 2 + message.size());
    line.push_back(static_cast<char>(static_cast<uint8_t>(level + 1) | (flag ? 0x80 : 0)));
    if (!title.empty()) {
      line += title;
      line += ". ";
    }
    for (char c : message) line.push_back(c == '\r' || c == '\n' ? ' ' : c);
    Log->AddLine(std::move(line));
    NotifyLogChanged();
  } catch (...) {
  }
}

void TkelPlugin::NotifyLogChanged() {
  const uintptr_t target = MsgProcHandle.load();
  if (target == 0) return;
  const auto index = static_cast<uint32_t>(ModuleIndex.load());
  if (!port::PostNotify(target, KEL_MSG_LOG_CHANGED, index, 0))
    port::SendNotifyTimeout(target, KEL_MSG_LOG_CHANGED, index, 0, kNotifySendTimeoutMs);
}

}  // namespace kel
