#include "udp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

#include <cstring>
#include <mutex>

// The system's control code, not in every SDK's headers.
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace host {

namespace {

// Winsock is started once for the process and left running.
bool StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

std::string SocketError(int code) { return "Winsock error " + std::to_string(code); }

bool ToSockaddr(const std::string& address, uint16_t port, sockaddr_in* sa) {
  std::memset(sa, 0, sizeof *sa);
  sa->sin_family = AF_INET;
  sa->sin_port = htons(port);
  return inet_pton(AF_INET, address.c_str(), &sa->sin_addr) == 1;
}

}  // namespace

UdpSocket::~UdpSocket() { Close(); }

WaitHandle UdpSocket::Handle() const { return event_; }

bool UdpSocket::Open(const std::string& address, uint16_t port, std::string* error) {
  Close();
  sockaddr_in sa;
  if (!ToSockaddr(address, port, &sa)) {
    *error = "'" + address + "' is not an IPv4 address";
    return false;
  }
  if (!StartWinsock()) {
    *error = "Winsock did not start";
    return false;
  }
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    *error = SocketError(WSAGetLastError());
    return false;
  }
  const BOOL on = TRUE;
  WSAEVENT event = WSACreateEvent();
  const bool ok = event != WSA_INVALID_EVENT &&
                  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on) == 0 &&
                  setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) == 0 &&
                  bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 &&
                  // Also makes the socket non-blocking.
                  WSAEventSelect(s, event, FD_READ) == 0;
  if (!ok) {
    *error = SocketError(WSAGetLastError());
    if (event != WSA_INVALID_EVENT) WSACloseEvent(event);
    closesocket(s);
    return false;
  }
  // An ICMP "port unreachable" for an earlier send would otherwise fail the
  // next receive with WSAECONNRESET.
  BOOL report = FALSE;
  DWORD got = 0;
  WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &got, nullptr, nullptr);
  const int buffer = 8 << 20;
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
  sockaddr_in local;
  int len = sizeof local;
  getsockname(s, reinterpret_cast<sockaddr*>(&local), &len);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
  std::unique_lock<std::shared_mutex> g(lock_);
  fd_ = static_cast<WaitHandle>(s);
  event_ = reinterpret_cast<WaitHandle>(event);
  localAddress_ = text;
  localPort_ = ntohs(local.sin_port);
  return true;
}

void UdpSocket::Close() {
  std::unique_lock<std::shared_mutex> g(lock_);
  if (fd_ != kNoWaitHandle) closesocket(static_cast<SOCKET>(fd_));
  if (event_ != kNoWaitHandle) WSACloseEvent(reinterpret_cast<WSAEVENT>(event_));
  fd_ = event_ = kNoWaitHandle;
}

int32_t UdpSocket::SendTo(const std::string& address, uint16_t port, const uint8_t* data, size_t size) {
  sockaddr_in sa;
  if (!ToSockaddr(address, port, &sa)) return -3;
  std::shared_lock<std::shared_mutex> g(lock_);
  if (fd_ == kNoWaitHandle) return -1;
  const int n = sendto(static_cast<SOCKET>(fd_), reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
                       reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  return n == SOCKET_ERROR ? -3 : static_cast<int32_t>(n);
}

UdpSocket::Received UdpSocket::Receive(uint8_t* buffer, size_t* size, std::string* peerAddress, uint16_t* peerPort) {
  if (fd_ == kNoWaitHandle) return Received::Failed;
  // Reset before reading: the read re-arms the network event, so a datagram
  // that is left, or arrives after, sets it again.
  WSAResetEvent(reinterpret_cast<WSAEVENT>(event_));
  sockaddr_in from;
  int len = sizeof from;
  int n = SOCKET_ERROR;
  for (int attempt = 0; attempt < 16; ++attempt) {
    len = sizeof from;
    n = recvfrom(static_cast<SOCKET>(fd_), reinterpret_cast<char*>(buffer), static_cast<int>(kMaxDatagram), 0,
                 reinterpret_cast<sockaddr*>(&from), &len);
    // A port-unreachable report for an earlier send (where the option above
    // is not honoured) is no reason to stop receiving.
    if (n != SOCKET_ERROR || WSAGetLastError() != WSAECONNRESET) break;
  }
  if (n == SOCKET_ERROR) {
    const int e = WSAGetLastError();
    if (e == WSAEWOULDBLOCK || e == WSAECONNRESET || e == WSAEMSGSIZE) return Received::Nothing;
    return Received::Failed;
  }
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
  *size = static_cast<size_t>(n);
  *peerAddress = text;
  *peerPort = ntohs(from.sin_port);
  return Received::Datagram;
}

}  // namespace host
