#include "udp_peer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testutil {

UdpPeer::UdpPeer(const UdpPeerOptions& options) : address_(options.address) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  const int on = 1;
  if (options.reuseAddress) ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (options.receiveBuffer > 0) {
    // Past the system's limit where the test may (as root), else up to it.
    const int size = options.receiveBuffer;
    if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(options.address);
  sa.sin_port = htons(options.port);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return;
  socklen_t len = sizeof sa;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) == 0) port_ = ntohs(sa.sin_port);
}

UdpPeer::~UdpPeer() {
  if (fd_ >= 0) ::close(fd_);
}

std::string UdpPeer::Endpoint() const {
  in_addr a{htonl(address_)};
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return std::string(text) + ":" + std::to_string(port_);
}

bool UdpPeer::SendTo(const sockaddr_in& to, const void* data, size_t size) {
  return ::sendto(fd_, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) == static_cast<ssize_t>(size);
}

bool UdpPeer::SendTo(uint32_t address, uint16_t port, const void* data, size_t size) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(address);
  to.sin_port = htons(port);
  return SendTo(to, data, size);
}

std::string UdpPeer::Receive(sockaddr_in* from, int boundMs) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, boundMs) != 1) return {};
  char buf[2048];
  sockaddr_in ignored{};
  if (!from) from = &ignored;
  socklen_t len = sizeof *from;
  const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(from), &len);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

}  // namespace testutil
