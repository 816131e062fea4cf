// A UDP socket of a test on a loopback address, standing in for a device or
// a client: it sends datagrams and waits for the next one with a bound.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace testutil {

struct UdpPeerOptions {
  uint32_t address = INADDR_LOOPBACK;  // host order
  uint16_t port = 0;                   // 0: one the system picks
  bool reuseAddress = false;           // SO_REUSEADDR, to share a port
  int receiveBuffer = 0;               // octets asked for; 0: the system's
};

class UdpPeer {
 public:
  explicit UdpPeer(const UdpPeerOptions& options = {});
  ~UdpPeer();
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  bool Bound() const { return port_ != 0; }
  uint16_t Port() const { return port_; }
  // "a.b.c.d:port" of the socket.
  std::string Endpoint() const;

  // False unless the whole datagram went out.
  bool SendTo(const sockaddr_in& to, const void* data, size_t size);
  bool SendTo(const sockaddr_in& to, const std::string& bytes) { return SendTo(to, bytes.data(), bytes.size()); }
  bool SendTo(uint32_t address, uint16_t port, const void* data, size_t size);

  // The next datagram within the bound, and who sent it; empty on time-out.
  std::string Receive(sockaddr_in* from, int boundMs = 20000);

 private:
  int fd_ = -1;
  uint32_t address_ = 0;
  uint16_t port_ = 0;
};

}  // namespace testutil
