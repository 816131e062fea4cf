// The frames the module hands over with data kind 129: the text "<<TO:",
// the destination address, ":", its decimal port, ">>", then the frame
// octets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

struct SendEnvelope {
  std::string address;  // dotted IPv4
  uint16_t port = 0;    // 1..65535
  const uint8_t* frame = nullptr;
  size_t frameSize = 0;  // at least 1
};

// The header is short: an address and a port never need more than this many
// bytes between "<<TO:" and ">>", so a frame without ">>" is not searched to
// its end.
constexpr size_t kMaxEnvelopeAddress = 64;

// False (with a reason) for a null or negative-sized block, a missing
// "<<TO:" or ">>", an address that is not IPv4, a port outside 1..65535 or
// an empty frame.  The frame points into data.
bool ParseSendEnvelope(const void* data, int32_t count, SendEnvelope* out, std::string* reason);

}  // namespace host
