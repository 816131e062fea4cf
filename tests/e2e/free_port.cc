#include "free_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace e2e {
namespace {

bool CanBind(const std::string& address, int port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = inet_pton(AF_INET, address.c_str(), &a.sin_addr) == 1 &&
                  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

}  // namespace

std::string FreeUdpPort(const std::vector<std::string>& addresses) {
  constexpr int kFirst = 20000, kSpan = 30000;
  const int start = static_cast<int>((static_cast<unsigned>(getpid()) * 7919u) % kSpan);
  for (int i = 0; i < kSpan; ++i) {
    const int port = kFirst + (start + i) % kSpan;
    bool free = true;
    for (const std::string& a : addresses) free = free && CanBind(a, port);
    if (free) return std::to_string(port);
  }
  return {};
}

}  // namespace e2e
