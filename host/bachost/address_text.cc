#include "address_text.h"

namespace host {

namespace {

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

bool IsIpv4Address(std::string_view text) {
  int parts = 0;
  size_t at = 0;
  while (true) {
    size_t dot = text.find('.', at);
    std::string_view part = text.substr(at, dot == std::string_view::npos ? std::string_view::npos : dot - at);
    if (!AllDigits(part) || part.size() > 3) return false;
    int value = 0;
    for (char c : part) value = value * 10 + (c - '0');
    if (value > 255) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    at = dot + 1;
  }
  return parts == 4;
}

bool ParsePort(std::string_view text, uint16_t* port) {
  if (!AllDigits(text) || text.size() > 5) return false;
  uint32_t value = 0;
  for (char c : text) value = value * 10 + static_cast<uint32_t>(c - '0');
  if (value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

bool ParseEndpoint(std::string_view text, uint16_t defaultPort, std::string* address, uint16_t* port,
                   std::string* reason) {
  size_t colon = text.find(':');
  std::string_view addr = text.substr(0, colon);
  if (!IsIpv4Address(addr)) {
    *reason = "'" + std::string(addr) + "' is not an IPv4 address";
    return false;
  }
  uint16_t p = defaultPort;
  if (colon != std::string_view::npos && !ParsePort(text.substr(colon + 1), &p)) {
    *reason = "'" + std::string(text.substr(colon + 1)) + "' is not a port (0..65535)";
    return false;
  }
  *address = std::string(addr);
  *port = p;
  return true;
}

std::string EndpointText(const std::string& address, uint16_t port) { return address + ":" + std::to_string(port); }

}  // namespace host
