// bacsim's BACnet/IP virtual link layer (ASHRAE 135 Annex J) and network
// layer header (clause 6), read from and written to octet frames.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "codec.h"

namespace bacsim {

// An IPv4 address (host byte order) and UDP port.
struct Endpoint {
  uint32_t ip = 0;
  uint16_t port = 0;
  std::string ToString() const;      // "127.0.0.2:47808"
  std::string AddressText() const;   // "127.0.0.2"
  bool IsLoopback() const { return (ip >> 24) == 127; }
  auto operator<=>(const Endpoint&) const = default;
};

// "a.b.c.d" with four decimal octets of 0..255, nothing else.
std::optional<uint32_t> ParseIPv4(std::string_view text);
// "a.b.c.d" or "a.b.c.d:port".
std::optional<Endpoint> ParseEndpoint(std::string_view text, uint16_t defaultPort);

namespace bvlc {
constexpr uint8_t kType = 0x81;
constexpr uint8_t kResult = 0x00, kWriteBdt = 0x01, kReadBdt = 0x02, kReadBdtAck = 0x03, kForwardedNpdu = 0x04,
                  kRegisterForeignDevice = 0x05, kReadFdt = 0x06, kReadFdtAck = 0x07, kDeleteFdtEntry = 0x08,
                  kDistributeBroadcast = 0x09, kOriginalUnicast = 0x0A, kOriginalBroadcast = 0x0B;
// BVLC-Result codes.
constexpr uint16_t kSuccess = 0x0000, kWriteBdtNak = 0x0010, kReadBdtNak = 0x0020, kRegisterFdNak = 0x0030,
                   kReadFdtNak = 0x0040, kDeleteFdtNak = 0x0050, kDistributeNak = 0x0060;
}  // namespace bvlc

// The BVLL header of one datagram.
struct Bvll {
  uint8_t function = 0;
  bool hasOrigin = false;  // Forwarded-NPDU: the original source B/IP address
  Endpoint origin;
  size_t payload = 0;      // offset of what follows the header (the NPDU for the NPDU functions)
};

// Fails for a datagram that is not BACnet/IP (type 0x81), whose length field
// differs from the datagram's size, or that ends inside its header.
bool ParseBvll(const uint8_t* data, size_t size, Bvll& out);
// Header + payload; origin only for Forwarded-NPDU.
Bytes BuildBvll(uint8_t function, const Bytes& payload, const Endpoint* origin = nullptr);
// BVLC-Result with a result code.
Bytes BuildBvlcResult(uint16_t code);

// The network layer header.
struct Npdu {
  bool expectingReply = false;
  uint8_t priority = 0;
  bool hasDest = false;
  uint16_t dnet = 0;
  Bytes dadr;  // empty: broadcast on dnet
  bool hasSource = false;
  uint16_t snet = 0;
  Bytes sadr;
  uint8_t hopCount = 255;
  bool networkMessage = false;
  uint8_t messageType = 0;
  uint16_t vendorId = 0;  // proprietary network messages (type 0x80 and above)
  size_t apdu = 0;        // offset of the APDU or of the network message's data

  bool IsGlobalBroadcast() const { return hasDest && dnet == 0xFFFF; }
};

// Reads the NPDU at pos. Fails for a version other than 1, reserved control
// bits set, an SNET of 65535 or an SLEN of 0, and a header that does not fit.
bool ParseNpdu(const uint8_t* data, size_t size, size_t pos, Npdu& out);
void WriteNpdu(Bytes& out, const Npdu& n);

// Network layer messages a router answers.
namespace netmsg {
constexpr uint8_t kWhoIsRouterToNetwork = 0x00, kIAmRouterToNetwork = 0x01, kRejectMessageToNetwork = 0x03;
}

}  // namespace bacsim
