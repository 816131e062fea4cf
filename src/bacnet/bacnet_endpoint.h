// Endpoints and device addressing: parsing, broadcast detection and the
// comparisons used for the device table and for discovery patterns.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace bacnet {

constexpr uint16_t kBacnetIpPort = 0xBAC0;  // 47808
// Instance value meaning "any device" in a configured pattern.
constexpr uint32_t AnyInstance = 0x400000;
// Longest station address a routed device may have on its network.
constexpr uint8_t kMaxStationAddress = 6;

struct TIpEndPoint {
  std::string Address;  // dotted IPv4 text as configured or as reported
  uint16_t Port = kBacnetIpPort;
  bool IsBroadcast = false;
};

struct TDeviceConnInfo {
  TIpEndPoint EndPoint{std::string(), 0, false};
  uint32_t Network = 0;       // low 16 bits used; 0 on the local network
  uint8_t AddressLength = 0;  // 0: local BACnet/IP device, no routing fields
  uint32_t Instance = 0;
  uint32_t Station = 0;  // station address as a number (1, 2 or 4 octets)
  uint8_t InvokeId = 0;  // carried by the next request to the device
  // The station address octets as learned from the router (the first
  // AddressLength of them, at most six).  Routed requests address the device
  // with these.
  std::array<uint8_t, kMaxStationAddress> StationAddress{};

  // The device's maximum APDU length accepted, from its I-Am; 0 when no
  // I-Am was seen.
  uint16_t MaxApdu = 0;

  // Sets AddressLength, StationAddress and Station from address octets.
  void SetStationAddress(const uint8_t* octets, uint8_t length);
};

// The octets that address conn's device on its network.  A 1-, 2- or 4-octet
// address is Station written big-endian (the low octet for an MS/TP station),
// which also serves connections an owner fills in by hand; other lengths use
// the learned address octets.  0 when the address is longer than the octets
// kept: such a device cannot be addressed without reaching another station.
uint8_t StationOctets(const TDeviceConnInfo& conn, std::array<uint8_t, kMaxStationAddress>& out);

// "addr" or "addr:port" as the configuration holds it.
TIpEndPoint ParseEndPoint(std::string_view text);
// Four octets from dotted text; parts that are not integers give 255.
std::array<uint8_t, 4> ParseIPv4(std::string_view text);
bool IsBroadcastAddress(std::string_view text);
// Strict dotted-quad reading (four decimal parts 0..255); false otherwise.
bool TryParseDottedQuad(std::string_view text, std::array<uint8_t, 4>& out);
// Whether two addresses name the same host: as IPv4 addresses when both are
// dotted quads, else as texts.
bool SameHostAddress(std::string_view a, std::string_view b);

bool SameEndPoint(const TIpEndPoint& a, const TIpEndPoint& b);
// A hash of an endpoint (address text and port) with an instance, for the
// indexes that find devices by them.
size_t ConnectionHash(std::string_view address, uint16_t port, uint32_t instance);
bool SameConnection(const TDeviceConnInfo& a, const TDeviceConnInfo& b);
// The pattern's address octets other than 255 equal the candidate's, and the
// pattern's instance is AnyInstance or the candidate's.  Ports are ignored.
bool MatchEndPoint(const TDeviceConnInfo& pattern, const TDeviceConnInfo& candidate);

}  // namespace bacnet
