#include "bacnet/bacnet_endpoint.h"

#include <algorithm>
#include <functional>

namespace bacnet {
namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Decimal integer with optional leading blanks and sign; false when the text
// is not one.  Values are kept to 64 bits (callers truncate).
bool ReadInteger(std::string_view s, int64_t& out) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || s.size() > 18) return false;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = negative ? -v : v;
  return true;
}

}  // namespace

uint8_t StationOctets(const TDeviceConnInfo& conn, std::array<uint8_t, kMaxStationAddress>& out) {
  const uint8_t n = conn.AddressLength;
  if (n == 0 || n > kMaxStationAddress) return 0;
  if (n == 1 || n == 2 || n == 4) {
    for (uint8_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(conn.Station >> (8 * (n - 1 - i)));
  } else {
    std::copy(conn.StationAddress.begin(), conn.StationAddress.begin() + n, out.begin());
  }
  return n;
}

void TDeviceConnInfo::SetStationAddress(const uint8_t* octets, uint8_t length) {
  AddressLength = length;
  StationAddress.fill(0);
  const uint8_t n = std::min(length, kMaxStationAddress);
  if (octets) std::copy(octets, octets + n, StationAddress.begin());
  Station = 0;
  if (octets && (length == 1 || length == 2 || length == 4))
    for (uint8_t i = 0; i < length; ++i) Station = (Station << 8) | octets[i];
}

TIpEndPoint ParseEndPoint(std::string_view text) {
  TIpEndPoint ep;
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    ep.Address = std::string(text);
    ep.Port = kBacnetIpPort;
  } else {
    ep.Address = std::string(Trim(text.substr(0, colon)));
    int64_t port = 0;
    ep.Port = ReadInteger(text.substr(colon + 1, 6), port) ? static_cast<uint16_t>(port) : kBacnetIpPort;
  }
  ep.IsBroadcast = IsBroadcastAddress(ep.Address);
  return ep;
}

std::array<uint8_t, 4> ParseIPv4(std::string_view text) {
  std::array<uint8_t, 4> octets{};
  if (text.empty()) return octets;
  for (size_t i = 0; i < 4; ++i) {
    const size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    int64_t v = 0;
    octets[i] = static_cast<uint8_t>(ReadInteger(part, v) ? v : -1);
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return octets;
}

bool IsBroadcastAddress(std::string_view text) {
  const auto o = ParseIPv4(text);
  return std::find(o.begin(), o.end(), uint8_t{255}) != o.end();
}

bool TryParseDottedQuad(std::string_view text, std::array<uint8_t, 4>& out) {
  for (size_t i = 0; i < 4; ++i) {
    const size_t dot = text.find('.');
    if ((i < 3) == (dot == std::string_view::npos)) return false;
    const std::string_view part = text.substr(0, dot);
    if (part.empty() || part.size() > 3) return false;
    unsigned v = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > 255) return false;
    out[i] = static_cast<uint8_t>(v);
    if (i < 3) text.remove_prefix(dot + 1);
  }
  return true;
}

bool SameHostAddress(std::string_view a, std::string_view b) {
  // Equal texts name the same host either way; only different texts need
  // reading as addresses ("192.168.001.020" is "192.168.1.20").
  if (a == b) return true;
  std::array<uint8_t, 4> qa{}, qb{};
  if (TryParseDottedQuad(a, qa) && TryParseDottedQuad(b, qb)) return qa == qb;
  return a == b;
}

bool SameEndPoint(const TIpEndPoint& a, const TIpEndPoint& b) {
  return a.Address == b.Address && a.Port == b.Port;
}

size_t ConnectionHash(std::string_view address, uint16_t port, uint32_t instance) {
  const uint64_t rest = (static_cast<uint64_t>(instance) << 16 | port) * 0x9E3779B97F4A7C15ull;
  return std::hash<std::string_view>{}(address) ^ static_cast<size_t>(rest ^ (rest >> 32));
}

bool SameConnection(const TDeviceConnInfo& a, const TDeviceConnInfo& b) {
  return SameEndPoint(a.EndPoint, b.EndPoint) && a.Instance == b.Instance;
}

bool MatchEndPoint(const TDeviceConnInfo& pattern, const TDeviceConnInfo& candidate) {
  const auto p = ParseIPv4(pattern.EndPoint.Address);
  const auto c = ParseIPv4(candidate.EndPoint.Address);
  for (size_t i = 0; i < 4; ++i)
    if (p[i] != 255 && p[i] != c[i]) return false;
  return pattern.Instance == AnyInstance || pattern.Instance == candidate.Instance;
}

}  // namespace bacnet
