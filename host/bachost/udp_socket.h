// A UDP socket of one data source.  The loop thread receives; any thread
// may send (the module sends from its timer); Close waits for sends that
// are under way.  The POSIX version is udp_socket_posix.cc, the Winsock one
// udp_socket_win32.cc (its wait handle is an event set on arrival).
#pragma once

#include <cstddef>
#include <cstdint>
#include <shared_mutex>
#include <string>

#include "wait_set.h"

namespace host {

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // Binds to an IPv4 address and port (0: any free port) with SO_BROADCAST
  // set, and SO_REUSEADDR for a fixed port, never for port 0 (on Windows,
  // where that option lets a second socket take over a bound port,
  // SO_EXCLUSIVEADDRUSE instead); false with the system's reason.
  bool Open(const std::string& address, uint16_t port, std::string* error);
  void Close();

  // Sends one datagram; the number of bytes sent, or a negative value when
  // the socket is closed (-1) or the system refused (-3).
  int32_t SendTo(const std::string& address, uint16_t port, const uint8_t* data, size_t size);

  enum class Received { Datagram, Nothing, Failed };
  // Takes one waiting datagram without blocking.  buffer must hold
  // kMaxDatagram bytes.
  Received Receive(uint8_t* buffer, size_t* size, std::string* peerAddress, uint16_t* peerPort);
  static constexpr size_t kMaxDatagram = 65536;

  WaitHandle Handle() const;
  std::string LocalAddress() const { return localAddress_; }
  uint16_t LocalPort() const { return localPort_; }

 private:
  mutable std::shared_mutex lock_;  // shared for sends, exclusive for Close
  WaitHandle fd_ = kNoWaitHandle;
#if defined(_WIN32)
  WaitHandle event_ = kNoWaitHandle;  // set when a datagram arrives
#endif
  std::string localAddress_;
  uint16_t localPort_ = 0;
};

}  // namespace host
