#include "udp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace host {

namespace {

bool ToSockaddr(const std::string& address, uint16_t port, sockaddr_in* sa) {
  std::memset(sa, 0, sizeof *sa);
  sa->sin_family = AF_INET;
  sa->sin_port = htons(port);
  return ::inet_pton(AF_INET, address.c_str(), &sa->sin_addr) == 1;
}

}  // namespace

UdpSocket::~UdpSocket() { Close(); }

WaitHandle UdpSocket::Handle() const { return fd_; }

bool UdpSocket::Open(const std::string& address, uint16_t port, std::string* error) {
  Close();
  sockaddr_in sa;
  if (!ToSockaddr(address, port, &sa)) {
    *error = "'" + address + "' is not an IPv4 address";
    return false;
  }
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  const int on = 1;
  // A fixed port is shared on purpose (a simulator or another BACnet/IP
  // program on this machine); port 0 never: with SO_REUSEADDR two sockets
  // may be handed the same ephemeral port and one of them hears nothing.
  if ((port != 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) ||
      ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
      ::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    *error = std::strerror(errno);
    ::close(fd);
    return false;
  }
  // A thousand devices answer one Who-Is within a few milliseconds: room for
  // their I-Ams (the system may give less; the socket works either way).
  const int buffer = 8 << 20;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  sockaddr_in local;
  socklen_t len = sizeof local;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len);
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
  std::unique_lock<std::shared_mutex> g(lock_);
  fd_ = fd;
  localAddress_ = text;
  localPort_ = ntohs(local.sin_port);
  return true;
}

void UdpSocket::Close() {
  std::unique_lock<std::shared_mutex> g(lock_);
  if (fd_ >= 0) ::close(static_cast<int>(fd_));
  fd_ = kNoWaitHandle;
}

int32_t UdpSocket::SendTo(const std::string& address, uint16_t port, const uint8_t* data, size_t size) {
  sockaddr_in sa;
  if (!ToSockaddr(address, port, &sa)) return -3;
  std::shared_lock<std::shared_mutex> g(lock_);
  if (fd_ < 0) return -1;
  ssize_t n;
  do {
    n = ::sendto(static_cast<int>(fd_), data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -3 : static_cast<int32_t>(n);
}

UdpSocket::Received UdpSocket::Receive(uint8_t* buffer, size_t* size, std::string* peerAddress, uint16_t* peerPort) {
  if (fd_ < 0) return Received::Failed;
  sockaddr_in from;
  socklen_t len = sizeof from;
  ssize_t n;
  do {
    n = ::recvfrom(static_cast<int>(fd_), buffer, kMaxDatagram, 0, reinterpret_cast<sockaddr*>(&from), &len);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    // An ICMP "port unreachable" for an earlier send shows up here on Linux;
    // it is no reason to stop receiving.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNREFUSED) return Received::Nothing;
    return Received::Failed;
  }
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
  *size = static_cast<size_t>(n);
  *peerAddress = text;
  *peerPort = ntohs(from.sin_port);
  return Received::Datagram;
}

}  // namespace host
