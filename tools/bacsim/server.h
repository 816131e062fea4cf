// bacsim's sockets and its one-thread event loop: receives datagrams, lets
// the responder answer them and sends the answers when they are due.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "responder.h"

namespace bacsim {

struct ServerOptions {
  double maxSeconds = 0;     // 0: until stopped
  bool staticValues = false; // present values stay those at t = 0
  bool quiet = false;        // no line per request
  size_t maxPending = 100000;  // answers waiting for their delay
};

class Server {
 public:
  Server(Responder& responder, ServerOptions options, std::FILE* out);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds every socket of the responder; on failure a one-line reason.
  bool Bind(std::string& error);
  // Prints the "ready" line, then serves until Stop, a signal (through
  // StopFd) or the time limit. Returns the reason: "signal", "time".
  std::string Run();
  // Safe from any thread and from a signal handler.
  void Stop();
  int StopFd() const { return stopPipe_[1]; }

  uint64_t Answered() const { return answered_; }

 private:
  Responder& responder_;
  ServerOptions options_;
  std::FILE* out_;
  std::vector<int> fds_;
  int stopPipe_[2] = {-1, -1};
  uint64_t answered_ = 0;
  uint64_t dropped_ = 0;
};

}  // namespace bacsim
