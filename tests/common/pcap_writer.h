// Writes UDP/IPv4 datagrams into a classic pcap file (Ethernet link type) so
// that an independent dissector can read the frames a test built.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testutil {

class PcapWriter {
 public:
  explicit PcapWriter(const std::string& path) : f_(std::fopen(path.c_str(), "wb")) {
    const uint32_t header[6] = {0xA1B2C3D4, 0x00040002, 0, 0, 65535, 1};
    if (f_) std::fwrite(header, sizeof header, 1, f_);
  }
  ~PcapWriter() {
    if (f_) std::fclose(f_);
  }
  bool ok() const { return f_ != nullptr; }

  // srcHost/dstHost: last octet of 127.0.0.x.
  void Udp(uint8_t srcHost, uint16_t srcPort, uint8_t dstHost, uint16_t dstPort, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> p(14, 0);
    p[12] = 0x08;  // IPv4 ethertype
    const size_t ipLen = 20 + 8 + payload.size();
    const uint8_t ip[20] = {0x45, 0, static_cast<uint8_t>(ipLen >> 8), static_cast<uint8_t>(ipLen), 0, 1, 0, 0, 64, 17,
                            0, 0, 127, 0, 0, srcHost, 127, 0, 0, dstHost};
    p.insert(p.end(), ip, ip + 20);
    uint32_t sum = 0;
    for (size_t i = 14; i < 34; i += 2) sum += (p[i] << 8) | p[i + 1];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    p[24] = static_cast<uint8_t>(~sum >> 8);
    p[25] = static_cast<uint8_t>(~sum);
    const size_t udpLen = 8 + payload.size();
    const uint8_t udp[8] = {static_cast<uint8_t>(srcPort >> 8), static_cast<uint8_t>(srcPort),
                            static_cast<uint8_t>(dstPort >> 8), static_cast<uint8_t>(dstPort),
                            static_cast<uint8_t>(udpLen >> 8),  static_cast<uint8_t>(udpLen), 0, 0};
    p.insert(p.end(), udp, udp + 8);
    p.insert(p.end(), payload.begin(), payload.end());
    const uint32_t rec[4] = {++seconds_, 0, static_cast<uint32_t>(p.size()), static_cast<uint32_t>(p.size())};
    std::fwrite(rec, sizeof rec, 1, f_);
    std::fwrite(p.data(), p.size(), 1, f_);
  }

 private:
  std::FILE* f_;
  uint32_t seconds_ = 1700000000;
};

}  // namespace testutil
