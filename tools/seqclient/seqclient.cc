// seqclient: reads the present value of one object of one device over and
// over, one request at a time, for a given time, and prints how many round
// trips were answered.  A plain sequential client, the yardstick of the
// module's pace.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "usage: seqclient --to ADDR:PORT [--seconds S] [--type T] [--instance I]\n"
    "  reads present-value of object T:I (default 0:1, an analog input) of the\n"
    "  device at ADDR:PORT for S seconds (default 10), one request at a time;\n"
    "  prints \"answered N in S s: R per s (M lost)\"\n";

bool ParseTo(const std::string& text, sockaddr_in* to) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  to->sin_family = AF_INET;
  to->sin_port = htons(static_cast<uint16_t>(std::atoi(text.c_str() + colon + 1)));
  return inet_pton(AF_INET, text.substr(0, colon).c_str(), &to->sin_addr) == 1;
}

}  // namespace

int main(int argc, char** argv) {
  sockaddr_in to{};
  double seconds = 10;
  uint32_t type = 0, instance = 1;
  bool haveTo = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i], value = argv[i + 1];
    if (arg == "--to") {
      haveTo = ParseTo(value, &to);
    } else if (arg == "--seconds") {
      seconds = std::atof(value.c_str());
    } else if (arg == "--type") {
      type = static_cast<uint32_t>(std::atoi(value.c_str()));
    } else if (arg == "--instance") {
      instance = static_cast<uint32_t>(std::atoi(value.c_str()));
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (!haveTo || seconds <= 0) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    std::perror("seqclient: socket");
    return 1;
  }
  // BVLC Original-Unicast-NPDU, NPDU expecting a reply, confirmed
  // ReadProperty of (type, instance) present-value (85).
  const uint32_t oid = (type << 22) | (instance & 0x3FFFFF);
  uint8_t frame[] = {0x81, 0x0A, 0x00, 0x11, 0x01, 0x04, 0x00, 0x05, 0x00, 0x0C, 0x0C,
                     static_cast<uint8_t>(oid >> 24), static_cast<uint8_t>(oid >> 16), static_cast<uint8_t>(oid >> 8),
                     static_cast<uint8_t>(oid), 0x19, 0x55};
  uint8_t reply[1500];
  uint64_t answered = 0, lost = 0;
  uint8_t invoke = 0;
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
  while (std::chrono::steady_clock::now() < end) {
    frame[8] = ++invoke;
    if (sendto(fd, frame, sizeof frame, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
      std::perror("seqclient: sendto");
      return 1;
    }
    bool got = false;
    while (!got) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) break;  // lost: the next request goes out
      const ssize_t n = recv(fd, reply, sizeof reply, 0);
      // A Complex-ACK (after a 6-octet BVLC + NPDU header) with our invoke id.
      got = n >= 8 && reply[0] == 0x81 && (reply[6] & 0xF0) == 0x30 && reply[7] == invoke;
    }
    got ? ++answered : ++lost;
  }
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("answered %llu in %.1f s: %.0f per s (%llu lost)\n", static_cast<unsigned long long>(answered), took,
              static_cast<double>(answered) / took, static_cast<unsigned long long>(lost));
  close(fd);
  return 0;
}
