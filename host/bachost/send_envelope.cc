#include "send_envelope.h"

#include <string_view>

#include "address_text.h"

namespace host {

bool ParseSendEnvelope(const void* data, int32_t count, SendEnvelope* out, std::string* reason) {
  static constexpr std::string_view kOpen = "<<TO:";
  static constexpr std::string_view kClose = ">>";
  if (!data || count <= 0) {
    *reason = "no data";
    return false;
  }
  const std::string_view all(static_cast<const char*>(data), static_cast<size_t>(count));
  if (all.substr(0, kOpen.size()) != kOpen) {
    *reason = "no \"<<TO:\" header";
    return false;
  }
  const std::string_view head = all.substr(kOpen.size(), kMaxEnvelopeAddress + kClose.size());
  const size_t close = head.find(kClose);
  if (close == std::string_view::npos) {
    *reason = "no \">>\" after the address";
    return false;
  }
  const std::string_view target = head.substr(0, close);
  const size_t colon = target.rfind(':');
  if (colon == std::string_view::npos) {
    *reason = "no port in the header";
    return false;
  }
  const std::string_view address = target.substr(0, colon);
  if (!IsIpv4Address(address)) {
    *reason = "the address is not IPv4";
    return false;
  }
  uint16_t port = 0;
  if (!ParsePort(target.substr(colon + 1), &port) || port == 0) {
    *reason = "the port is not 1..65535";
    return false;
  }
  const size_t frameAt = kOpen.size() + close + kClose.size();
  if (frameAt >= all.size()) {
    *reason = "empty frame";
    return false;
  }
  out->address = std::string(address);
  out->port = port;
  out->frame = static_cast<const uint8_t*>(data) + frameAt;
  out->frameSize = all.size() - frameAt;
  return true;
}

}  // namespace host
