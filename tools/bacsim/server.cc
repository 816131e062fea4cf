#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <queue>

namespace bacsim {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in ToSockaddr(const Endpoint& e) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(e.port);
  a.sin_addr.s_addr = htonl(e.ip);
  return a;
}

const char* RoleName(Role r) {
  switch (r) {
    case Role::kBroadcast: return "broadcast";
    case Role::kDevice: return "device";
    case Role::kRouter: return "router";
    case Role::kBbmd: return "bbmd";
  }
  return "?";
}

struct Pending {
  Clock::time_point due;
  uint64_t seq;
  Outgoing frame;
  bool operator>(const Pending& o) const { return due != o.due ? due > o.due : seq > o.seq; }
};

}  // namespace

Server::Server(Responder& responder, ServerOptions options, std::FILE* out)
    : responder_(responder), options_(options), out_(out) {
  if (pipe2(stopPipe_, O_NONBLOCK | O_CLOEXEC) != 0) stopPipe_[0] = stopPipe_[1] = -1;
}

Server::~Server() {
  for (int fd : fds_) close(fd);
  for (int fd : stopPipe_) {
    if (fd >= 0) close(fd);
  }
}

void Server::Stop() {
  const char c = 's';
  if (stopPipe_[1] >= 0) {
    [[maybe_unused]] ssize_t n = write(stopPipe_[1], &c, 1);
  }
}

bool Server::Bind(std::string& error) {
  if (stopPipe_[0] < 0) {
    error = "cannot make a pipe";
    return false;
  }
  const auto& sockets = responder_.Sockets();
  rlimit lim{};
  if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < sockets.size() + 64) {
    lim.rlim_cur = std::min<rlim_t>(lim.rlim_max, sockets.size() + 64);
    setrlimit(RLIMIT_NOFILE, &lim);
  }
  for (size_t i = 0; i < sockets.size(); ++i) {
    const Endpoint& e = sockets[i].endpoint;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      error = "socket for " + e.ToString() + ": " + std::strerror(errno);
      return false;
    }
    fds_.push_back(fd);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    // As on a BACnet/IP node: a logger bound to 0.0.0.0:47808 on the same
    // machine (also with SO_REUSEADDR) can live beside the devices.
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = ToSockaddr(e);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      error = "bind " + e.ToString() + " (" + RoleName(sockets[i].role) + "): " + std::strerror(errno);
      return false;
    }
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
      responder_.SetBound(i, {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)});
    }
  }
  return true;
}

std::string Server::Run() {
  const auto& sockets = responder_.Sockets();
  const Building& b = responder_.GetBuilding();
  if (!options_.quiet && sockets.size() <= 64) {
    for (const auto& s : sockets) {
      std::string line = "listen " + s.endpoint.ToString() + " " + RoleName(s.role);
      if (s.role == Role::kDevice) line += " dev=" + std::to_string(b.devices[s.index].instance);
      std::fprintf(out_, "%s\n", line.c_str());
    }
  }
  std::fprintf(out_, "ready devices=%zu sockets=%zu broadcast=%s\n", b.devices.size(), sockets.size(),
               b.hasBroadcast ? b.broadcast.ToString().c_str() : "none");
  std::fflush(out_);

  std::vector<pollfd> pfds;
  for (int fd : fds_) pfds.push_back({fd, POLLIN, 0});
  pfds.push_back({stopPipe_[0], POLLIN, 0});

  std::priority_queue<Pending, std::vector<Pending>, std::greater<>> pending;
  uint64_t seq = 0;
  const Clock::time_point start = Clock::now();
  const bool limited = options_.maxSeconds > 0;
  const Clock::time_point deadline =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limited ? options_.maxSeconds : 0));
  std::vector<Outgoing> out;
  std::vector<std::string> log;
  uint8_t buf[2048];
  std::string reason;

  auto transmit = [&](const Outgoing& o) {
    if (o.socket >= fds_.size()) return;
    sockaddr_in to = ToSockaddr(o.to);
    if (sendto(fds_[o.socket], o.data.data(), o.data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
      ++dropped_;
    } else {
      ++answered_;
    }
  };

  Clock::time_point now = start;
  // Sends what the responder made now, or later when it is delayed, and
  // prints its log lines.
  auto emit = [&] {
    now = Clock::now();
    for (auto& o : out) {
      if (o.delayMs == 0) {
        transmit(o);
      } else if (pending.size() < options_.maxPending) {
        pending.push({now + std::chrono::milliseconds(o.delayMs), seq++, std::move(o)});
      } else {
        ++dropped_;
      }
    }
    if (!options_.quiet && !log.empty()) {
      for (const auto& line : log) std::fprintf(out_, "%s\n", line.c_str());
      std::fflush(out_);
    }
  };
  // Change-of-value work (notifications, resends, expiry) runs at this pace
  // while there is any.
  const auto covTick = std::chrono::milliseconds(100);
  Clock::time_point nextTick = start;

  while (reason.empty()) {
    now = Clock::now();
    if (responder_.HasCovWork() && now >= nextTick) {
      out.clear();
      log.clear();
      const double seconds = options_.staticValues ? 0 : std::chrono::duration<double>(now - start).count();
      responder_.Tick(seconds, out, log);
      emit();
      nextTick = now + covTick;
    }
    while (!pending.empty() && pending.top().due <= now) {
      transmit(pending.top().frame);
      pending.pop();
    }
    if (limited && now >= deadline) {
      reason = "time";
      break;
    }
    int timeout = -1;
    auto until = [&](Clock::time_point t) {
      const auto ms = std::chrono::ceil<std::chrono::milliseconds>(t - now).count();
      const int v = static_cast<int>(std::max<long long>(0, std::min<long long>(ms, 60000)));
      if (timeout < 0 || v < timeout) timeout = v;
    };
    if (!pending.empty()) until(pending.top().due);
    if (limited) until(deadline);
    if (responder_.HasCovWork()) until(nextTick);
    if (poll(pfds.data(), pfds.size(), timeout) < 0) {
      if (errno == EINTR) continue;
      reason = "poll-error";
      break;
    }
    if (pfds.back().revents & POLLIN) {
      reason = "signal";
      break;
    }
    for (size_t i = 0; i + 1 < pfds.size(); ++i) {
      if (!(pfds[i].revents & POLLIN)) continue;
      for (int k = 0; k < 64; ++k) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = recvfrom(pfds[i].fd, buf, sizeof buf, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) break;
        if (static_cast<size_t>(n) > sizeof buf) continue;  // larger than any BACnet/IP frame
        const double seconds =
            options_.staticValues ? 0 : std::chrono::duration<double>(Clock::now() - start).count();
        Incoming in{i, {ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)}, buf, static_cast<size_t>(n),
                    std::chrono::duration<double>(Clock::now() - start).count()};
        out.clear();
        log.clear();
        responder_.Handle(in, seconds, out, log);
        emit();
      }
    }
  }
  std::fprintf(out_, "stop reason=%s sent=%llu dropped=%llu\n", reason.c_str(),
               static_cast<unsigned long long>(answered_), static_cast<unsigned long long>(dropped_));
  std::fflush(out_);
  return reason;
}

}  // namespace bacsim
