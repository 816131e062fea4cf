// Octet sequences written as hex text in tests, "81 0A 00 11", both ways.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace testutil {

// The octets of text: pairs of hex digits; anything else between them (blanks)
// is passed over.
inline std::vector<uint8_t> Hex(std::string_view text) {
  std::vector<uint8_t> out;
  int high = -1;
  for (char c : text) {
    const int v = (c >= '0' && c <= '9')   ? c - '0'
                  : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                  : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                           : -1;
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

// The other way round: upper-case pairs, one blank between them.
inline std::string HexText(const std::vector<uint8_t>& octets) {
  std::string hex;
  char buf[4];
  for (size_t i = 0; i < octets.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", octets[i]);
    hex += buf;
  }
  return hex;
}

}  // namespace testutil
