// Hex text <-> octets for the simulator's tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bacsim_test {

inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> out;
  int hi = -1;
  for (char c : text) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else continue;
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<uint8_t>(hi * 16 + v));
      hi = -1;
    }
  }
  return out;
}

inline std::string ToHex(const std::vector<uint8_t>& b) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < b.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
    s += buf;
  }
  return s;
}

}  // namespace bacsim_test
