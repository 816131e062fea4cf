#include "frame.h"

#include <algorithm>
#include <charconv>

namespace bacsim {

std::string Endpoint::AddressText() const {
  return std::to_string(ip >> 24) + "." + std::to_string((ip >> 16) & 0xFF) + "." + std::to_string((ip >> 8) & 0xFF) +
         "." + std::to_string(ip & 0xFF);
}

std::string Endpoint::ToString() const { return AddressText() + ":" + std::to_string(port); }

std::optional<uint32_t> ParseIPv4(std::string_view text) {
  uint32_t ip = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (text.empty() || text.front() != '.') return std::nullopt;
      text.remove_prefix(1);
    }
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    unsigned v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + std::min<size_t>(text.size(), 3), v);
    if (ec != std::errc() || v > 255) return std::nullopt;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    ip = (ip << 8) | v;
  }
  if (!text.empty()) return std::nullopt;
  return ip;
}

std::optional<Endpoint> ParseEndpoint(std::string_view text, uint16_t defaultPort) {
  Endpoint ep;
  ep.port = defaultPort;
  const size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    std::string_view p = text.substr(colon + 1);
    unsigned v = 0;
    auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), v);
    if (p.empty() || ec != std::errc() || end != p.data() + p.size() || v > 65535) return std::nullopt;
    ep.port = static_cast<uint16_t>(v);
    text = text.substr(0, colon);
  }
  auto ip = ParseIPv4(text);
  if (!ip) return std::nullopt;
  ep.ip = *ip;
  return ep;
}

bool ParseBvll(const uint8_t* data, size_t size, Bvll& out) {
  if (size < 4 || data[0] != bvlc::kType) return false;
  const size_t length = (static_cast<size_t>(data[2]) << 8) | data[3];
  if (length != size) return false;
  Bvll b;
  b.function = data[1];
  b.payload = 4;
  if (b.function == bvlc::kForwardedNpdu) {
    if (size < 10) return false;
    b.hasOrigin = true;
    b.origin.ip = (static_cast<uint32_t>(data[4]) << 24) | (data[5] << 16) | (data[6] << 8) | data[7];
    b.origin.port = static_cast<uint16_t>((data[8] << 8) | data[9]);
    b.payload = 10;
  }
  out = b;
  return true;
}

Bytes BuildBvll(uint8_t function, const Bytes& payload, const Endpoint* origin) {
  Bytes f = {bvlc::kType, function, 0, 0};
  if (origin) {
    f.push_back(static_cast<uint8_t>(origin->ip >> 24));
    f.push_back(static_cast<uint8_t>(origin->ip >> 16));
    f.push_back(static_cast<uint8_t>(origin->ip >> 8));
    f.push_back(static_cast<uint8_t>(origin->ip));
    f.push_back(static_cast<uint8_t>(origin->port >> 8));
    f.push_back(static_cast<uint8_t>(origin->port));
  }
  f.insert(f.end(), payload.begin(), payload.end());
  f[2] = static_cast<uint8_t>(f.size() >> 8);
  f[3] = static_cast<uint8_t>(f.size());
  return f;
}

Bytes BuildBvlcResult(uint16_t code) {
  return {bvlc::kType, bvlc::kResult, 0x00, 0x06, static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)};
}

bool ParseNpdu(const uint8_t* data, size_t size, size_t pos, Npdu& out) {
  Reader r(data, size);
  r.Skip(pos);
  if (r.Pos() != pos) return false;
  uint8_t version = 0, control = 0;
  if (!r.ReadOctet(version) || version != 1 || !r.ReadOctet(control)) return false;
  if (control & 0x50) return false;  // reserved bits
  Npdu n;
  n.networkMessage = (control & 0x80) != 0;
  n.hasDest = (control & 0x20) != 0;
  n.hasSource = (control & 0x08) != 0;
  n.expectingReply = (control & 0x04) != 0;
  n.priority = control & 0x03;
  if (n.hasDest) {
    uint8_t len = 0;
    if (!r.ReadWord(n.dnet) || n.dnet == 0 || !r.ReadOctet(len) || !r.ReadOctets(len, n.dadr)) return false;
  }
  if (n.hasSource) {
    uint8_t len = 0;
    if (!r.ReadWord(n.snet) || n.snet == 0 || n.snet == 0xFFFF || !r.ReadOctet(len) || len == 0 ||
        !r.ReadOctets(len, n.sadr)) {
      return false;
    }
  }
  if (n.hasDest && !r.ReadOctet(n.hopCount)) return false;
  if (n.networkMessage) {
    if (!r.ReadOctet(n.messageType)) return false;
    if (n.messageType >= 0x80 && !r.ReadWord(n.vendorId)) return false;
  }
  n.apdu = r.Pos();
  out = std::move(n);
  return true;
}

void WriteNpdu(Bytes& out, const Npdu& n) {
  out.push_back(1);
  uint8_t control = n.priority & 0x03;
  if (n.networkMessage) control |= 0x80;
  if (n.hasDest) control |= 0x20;
  if (n.hasSource) control |= 0x08;
  if (n.expectingReply) control |= 0x04;
  out.push_back(control);
  if (n.hasDest) {
    out.push_back(static_cast<uint8_t>(n.dnet >> 8));
    out.push_back(static_cast<uint8_t>(n.dnet));
    out.push_back(static_cast<uint8_t>(n.dadr.size()));
    out.insert(out.end(), n.dadr.begin(), n.dadr.end());
  }
  if (n.hasSource) {
    out.push_back(static_cast<uint8_t>(n.snet >> 8));
    out.push_back(static_cast<uint8_t>(n.snet));
    out.push_back(static_cast<uint8_t>(n.sadr.size()));
    out.insert(out.end(), n.sadr.begin(), n.sadr.end());
  }
  if (n.hasDest) out.push_back(n.hopCount);
  if (n.networkMessage) {
    out.push_back(n.messageType);
    if (n.messageType >= 0x80) {
      out.push_back(static_cast<uint8_t>(n.vendorId >> 8));
      out.push_back(static_cast<uint8_t>(n.vendorId));
    }
  }
}

}  // namespace bacsim
