// iamflood: N I-Ams with distinct device instances, sent as fast as the
// machine allows (or at a given rate) from many source addresses and, with
// --router, half of them from distinct stations behind one router, the way
// a looping router, a scanner or a hostile peer floods a BACnet/IP network.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kUsage[] =
    "usage: iamflood --to ADDR:PORT [--to ADDR:PORT ...] [options]\n"
    "  --count N            I-Ams to send, each with its own device instance (default 100000)\n"
    "  --first-instance I   instance of the first I-Am (default 1000000; at most 4194303 in all)\n"
    "  --sources N          local source addresses, one socket each (default 250)\n"
    "  --first-source ADDR  the first of them; the others follow it (default 127.1.0.1)\n"
    "  --router ADDR        every second I-Am comes from a station of its own behind\n"
    "                       this router (six-octet station addresses)\n"
    "  --network N          the network behind the router (default 77)\n"
    "  --rate N             frames per second (default 0: as fast as possible)\n"
    "Every I-Am goes to every --to.  Prints \"sent N frames in S s\" at the end.\n";

struct Options {
  std::vector<sockaddr_in> to;
  uint32_t count = 100000;
  uint32_t firstInstance = 1000000;
  uint32_t sources = 250;
  in_addr firstSource{};
  bool routed = false;
  in_addr router{};
  uint16_t network = 77;
  double rate = 0;
};

bool Number(const char* text, uint64_t max, uint64_t& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v > max) return false;
  out = v;
  return true;
}

bool EndPoint(const std::string& text, sockaddr_in& out) {
  const size_t colon = text.rfind(':');
  uint64_t port = 0;
  if (colon == std::string::npos || !Number(text.c_str() + colon + 1, 65535, port)) return false;
  out = sockaddr_in{};
  out.sin_family = AF_INET;
  out.sin_port = htons(static_cast<uint16_t>(port));
  return inet_pton(AF_INET, text.substr(0, colon).c_str(), &out.sin_addr) == 1;
}

bool Parse(int argc, char** argv, Options& o) {
  if (inet_pton(AF_INET, "127.1.0.1", &o.firstSource) != 1) return false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return false;
    const char* v = argv[++i];
    uint64_t n = 0;
    if (a == "--to") {
      sockaddr_in to;
      if (!EndPoint(v, to)) return false;
      o.to.push_back(to);
    } else if (a == "--count" && Number(v, 4194304, n)) {
      o.count = static_cast<uint32_t>(n);
    } else if (a == "--first-instance" && Number(v, 4194303, n)) {
      o.firstInstance = static_cast<uint32_t>(n);
    } else if (a == "--sources" && Number(v, 10000, n) && n > 0) {
      o.sources = static_cast<uint32_t>(n);
    } else if (a == "--first-source") {
      if (inet_pton(AF_INET, v, &o.firstSource) != 1) return false;
    } else if (a == "--router") {
      if (inet_pton(AF_INET, v, &o.router) != 1) return false;
      o.routed = true;
    } else if (a == "--network" && Number(v, 65534, n) && n > 0) {
      o.network = static_cast<uint16_t>(n);
    } else if (a == "--rate" && Number(v, 100000000, n)) {
      o.rate = static_cast<double>(n);
    } else {
      return false;
    }
  }
  return !o.to.empty() && o.firstInstance + static_cast<uint64_t>(o.count) <= 4194304;
}

// A socket bound to address (any port).
int Bound(in_addr address) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr = address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The I-Am of instance: BACnet/IP unicast, then the network layer (with
// the source network and a six-octet station address when routed), then
// the application layer.
size_t IAm(uint32_t instance, bool routed, uint16_t network, uint32_t station, uint8_t* f) {
  size_t n = 0;
  f[n++] = 0x81;
  f[n++] = 0x0A;
  n += 2;  // length
  f[n++] = 0x01;
  if (routed) {
    f[n++] = 0x08;  // source specifier present
    f[n++] = static_cast<uint8_t>(network >> 8);
    f[n++] = static_cast<uint8_t>(network);
    f[n++] = 6;
    f[n++] = 10;
    for (int shift = 24; shift >= 0; shift -= 8) f[n++] = static_cast<uint8_t>(station >> shift);
    f[n++] = 0x2A;
  } else {
    f[n++] = 0x00;
  }
  const uint32_t id = (8u << 22) | instance;  // Device object
  const uint8_t apdu[] = {0x10, 0x00, 0xC4, static_cast<uint8_t>(id >> 24), static_cast<uint8_t>(id >> 16),
                          static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), 0x22, 0x05, 0xC4,
                          0x91, 0x03, 0x21, 0x0F};
  std::memcpy(f + n, apdu, sizeof apdu);
  n += sizeof apdu;
  f[2] = static_cast<uint8_t>(n >> 8);
  f[3] = static_cast<uint8_t>(n);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!Parse(argc, argv, o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::vector<int> sockets;
  uint32_t host = ntohl(o.firstSource.s_addr);
  while (sockets.size() < o.sources) {
    const uint8_t last = static_cast<uint8_t>(host);
    if (last != 0 && last != 255) {
      const in_addr a{htonl(host)};
      const int fd = Bound(a);
      if (fd < 0) {
        std::perror("iamflood: binding a source address");
        return 1;
      }
      sockets.push_back(fd);
    }
    ++host;
  }
  const int routerFd = o.routed ? Bound(o.router) : -1;
  if (o.routed && routerFd < 0) {
    std::perror("iamflood: binding the router's address");
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  uint64_t sent = 0;
  uint8_t frame[64];
  for (uint32_t k = 0; k < o.count; ++k) {
    const bool routed = o.routed && (k & 1) != 0;
    const size_t n = IAm(o.firstInstance + k, routed, o.network, k, frame);
    const int fd = routed ? routerFd : sockets[(o.routed ? k / 2 : k) % sockets.size()];
    for (const sockaddr_in& to : o.to) {
      if (sendto(fd, frame, n, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
        std::perror("iamflood: sendto");
        return 1;
      }
      ++sent;
      if (o.rate > 0 && sent % 64 == 0)
        std::this_thread::sleep_until(start + std::chrono::duration<double>(static_cast<double>(sent) / o.rate));
    }
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("sent %llu frames in %.3f s\n", static_cast<unsigned long long>(sent), took.count());
  for (int fd : sockets) close(fd);
  if (routerFd >= 0) close(routerFd);
  return 0;
}
