#include "module/foreign_device.h"

#include <algorithm>
#include <array>

#include "bacnet/bacnet_bvlc.h"
#include "runtime/text/text_utils.h"

namespace bacnet_module {

namespace {

// "a.b.c.d:port" at the end of text (a data source's full name names its
// endpoint there); false for a wildcard address or port 0.
bool TrailingEndPoint(const std::string& text, std::array<uint8_t, 4>& address, uint16_t& port) {
  const size_t space = text.find_last_of(" \t");
  const std::string word = space == std::string::npos ? text : text.substr(space + 1);
  const size_t colon = word.rfind(':');
  if (colon == std::string::npos) return false;
  if (!bacnet::TryParseDottedQuad(word.substr(0, colon), address)) return false;
  const int32_t p = kel::StrToIntDef(word.substr(colon + 1), -1);
  if (p <= 0 || p > 0xFFFF) return false;
  port = static_cast<uint16_t>(p);
  return address != std::array<uint8_t, 4>{0, 0, 0, 0};
}

}  // namespace

TForeignRegistration::~TForeignRegistration() {
  try {
    Close();
  } catch (...) {
  }
}

void TForeignRegistration::Configure(const std::string& address, uint16_t port, uint16_t ttlSeconds,
                                     const std::string& self) {
  port::Guard g(lock_);
  const std::string trimmed(kel::TrimView(address));
  const bool on = ttlSeconds > 0 && !trimmed.empty();
  if (on && trimmed == manager_.EndPoint.Address && port == manager_.EndPoint.Port && ttlSeconds == ttl_ &&
      self == self_)
    return;  // as it is
  CloseLocked();
  if (!on) return;
  manager_.EndPoint = bacnet::TIpEndPoint{trimmed, port, false};
  ttl_ = ttlSeconds;
  self_ = self;
  next_.Clear();  // due on the next tick
}

bool TForeignRegistration::Enabled() const {
  port::Guard g(lock_);
  return ttl_ > 0;
}

bool TForeignRegistration::Registered() const {
  port::Guard g(lock_);
  return ttl_ > 0 && registered_;
}

bool TForeignRegistration::AwaitingFirstResult() const {
  port::Guard g(lock_);
  return ttl_ > 0 && !registered_ && !failing_;
}

bacnet::TDeviceConnInfo TForeignRegistration::Manager() const {
  port::Guard g(lock_);
  return manager_;
}

void TForeignRegistration::Tick() {
  port::Guard g(lock_);
  if (ttl_ == 0) return;
  if (waiting_) {
    if (answer_.Expired(kRegistrationAnswerMs)) Failed(-1);
    return;
  }
  if (next_.IsClear() || next_.Expired()) SendRegistration();
}

void TForeignRegistration::SendRegistration() {
  std::array<uint8_t, bacnet::kRegisterForeignDeviceLength> frame{};
  bacnet::BuildRegisterForeignDevice(frame, ttl_);
  waiting_ = true;
  answer_.Start();
  if (events_.Send) events_.Send(manager_, bacnet::TBacBytes(frame.data(), frame.size()));
}

void TForeignRegistration::Failed(int32_t kind) {
  waiting_ = false;
  registered_ = false;
  failing_ = true;
  const uint32_t delay = std::min<uint32_t>(backoffMs_, static_cast<uint32_t>(ttl_) * 1000u);
  backoffMs_ = backoffMs_ > UINT32_MAX / 2 ? UINT32_MAX : backoffMs_ * 2;
  next_.StartWith(delay);
  if (events_.Log)
    events_.Log(manager_.EndPoint.Address + ":" + std::to_string(manager_.EndPoint.Port), kind, delay / 1000);
}

void TForeignRegistration::OnResult(const std::string& address, uint16_t code) {
  port::Guard g(lock_);
  if (ttl_ == 0 || !waiting_ || !bacnet::SameHostAddress(address, manager_.EndPoint.Address)) return;
  if (code != bacnet::kBvlcSuccess) return Failed(code);
  waiting_ = false;
  registered_ = true;
  backoffMs_ = kRegistrationRetryMs;
  // Renewed at half the time to live, so the entry never runs out.
  next_.StartWith(std::max<uint32_t>(static_cast<uint32_t>(ttl_) * 500u, 1000u));
  if (failing_ && events_.Log)
    events_.Log(manager_.EndPoint.Address + ":" + std::to_string(manager_.EndPoint.Port), -2, 0);
  failing_ = false;
}

void TForeignRegistration::Close() {
  port::Guard g(lock_);
  CloseLocked();
}

void TForeignRegistration::CloseLocked() {
  std::array<uint8_t, 4> self{};
  uint16_t selfPort = 0;
  // Only an entry the manager may hold is deleted, and only when this data
  // source's own endpoint is known.
  if (ttl_ > 0 && (registered_ || waiting_) && TrailingEndPoint(self_, self, selfPort) && events_.Send) {
    std::array<uint8_t, bacnet::kDeleteFdtEntryLength> frame{};
    bacnet::BuildDeleteFdtEntry(frame, self, selfPort);
    events_.Send(manager_, bacnet::TBacBytes(frame.data(), frame.size()));
  }
  ttl_ = 0;
  registered_ = waiting_ = failing_ = false;
  backoffMs_ = kRegistrationRetryMs;
  manager_ = bacnet::TDeviceConnInfo{};
  self_.clear();
  next_.Clear();
  answer_.Clear();
}

}  // namespace bacnet_module
