// A communication module's registration as a foreign device with a
// broadcast manager: registered when the data source opens, renewed at half
// the time to live, tried again with a growing pause after a refusal or no
// answer, and deleted when the data source closes.  While registered, the
// Who-Is of a broadcast endpoint goes to the manager to be distributed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "bacnet/bacnet_endpoint.h"
#include "bacnet/bacnet_utils.h"
#include "platform/port.h"
#include "runtime/timing/kel_timeout.h"

namespace bacnet_module {

// How long the manager has to answer a registration.
constexpr uint32_t kRegistrationAnswerMs = 3000;
// The pause after the first failed registration; it doubles with every
// further failure, up to the time to live.
constexpr uint32_t kRegistrationRetryMs = 30000;

class TForeignRegistration {
 public:
  // The frames go out through send (manager, octets); the warnings and the
  // notice after a recovery through log.
  struct TEvents {
    std::function<int32_t(const bacnet::TDeviceConnInfo& manager, bacnet::TBacBytes frame)> Send;
    // kind: the result code of a refusal, -1 for no answer, -2 for success
    // after failures; retrySeconds: when the next try follows.
    std::function<void(const std::string& manager, int32_t kind, uint32_t retrySeconds)> Log;
  };

  explicit TForeignRegistration(TEvents events) : events_(std::move(events)) {}
  ~TForeignRegistration();  // closes: the entry is deleted
  TForeignRegistration(const TForeignRegistration&) = delete;
  TForeignRegistration& operator=(const TForeignRegistration&) = delete;

  // The manager and the time to live from the options (ttl 0 or no address:
  // off); self is this data source's own endpoint, which the delete names
  // (empty: unknown, no delete is sent).  A change closes the registration
  // with the old manager and registers with the new one on the next Tick.
  void Configure(const std::string& address, uint16_t port, uint16_t ttlSeconds, const std::string& self);
  // Sends the registration when due; gives up waiting for a result.
  void Tick();
  // A BVLC-Result from address (ignored unless it is the manager's and a
  // registration waits for it).
  void OnResult(const std::string& address, uint16_t code);
  // Deletes the entry with the manager when registered; off until the next
  // Configure with a manager.
  void Close();

  bool Enabled() const;
  // Registered, and the manager answered the last registration.
  bool Registered() const;
  // On, and the first registration has had neither a result nor its
  // time-out yet: a broadcast waits for it rather than go out locally.
  bool AwaitingFirstResult() const;
  bacnet::TDeviceConnInfo Manager() const;

 private:
  void SendRegistration() REQUIRES(lock_);
  void Failed(int32_t kind) REQUIRES(lock_);
  void CloseLocked() REQUIRES(lock_);

  TEvents events_;
  mutable port::CriticalSection lock_;  // innermost but the log's
  bacnet::TDeviceConnInfo manager_ GUARDED_BY(lock_);
  std::string self_ GUARDED_BY(lock_);
  uint16_t ttl_ GUARDED_BY(lock_) = 0;
  bool registered_ GUARDED_BY(lock_) = false;
  bool failing_ GUARDED_BY(lock_) = false;  // the last try failed
  bool waiting_ GUARDED_BY(lock_) = false;  // a registration is out
  uint32_t backoffMs_ GUARDED_BY(lock_) = kRegistrationRetryMs;
  kel::TkelTimeout next_ GUARDED_BY(lock_);    // when the next registration is due (clear: now)
  kel::TkelTimeout answer_ GUARDED_BY(lock_);  // since the registration went out
};

}  // namespace bacnet_module
