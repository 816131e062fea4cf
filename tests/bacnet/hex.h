// Octet sequences written as hex text in tests: "81 0A 00 11".
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace bacnet_test {

inline std::vector<uint8_t> Hex(std::string_view text) {
  std::vector<uint8_t> out;
  int nibble = -1;
  for (char c : text) {
    int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
    if (v < 0) continue;
    if (nibble < 0) {
      nibble = v;
    } else {
      out.push_back(static_cast<uint8_t>(nibble * 16 + v));
      nibble = -1;
    }
  }
  return out;
}

// The other way round: "81 0A 00 11 " (each octet followed by a blank).
inline std::string HexText(const std::vector<uint8_t>& octets) {
  std::string hex;
  char buf[4];
  for (uint8_t o : octets) {
    std::snprintf(buf, sizeof buf, "%02X ", o);
    hex += buf;
  }
  return hex;
}

}  // namespace bacnet_test
