// The simulator over real loopback UDP: in process on ports the system
// picks, and as the bacsim program with its "ready" line, signals and exit
// codes. Every wait is on an event (poll with a bound), none sleeps.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdio>
#include <set>
#include <string>
#include <thread>

#include "server.h"
#include "sim_building.h"

extern char** environ;

using namespace bacsim;
using namespace bacsim_test;

namespace {

constexpr int kBoundMs = 10000;

// Lines written to a descriptor, read as they come.
class Lines {
 public:
  explicit Lines(int fd) : fd_(fd) {}
  // The first line containing text, within the bound; "" if none came.
  std::string WaitFor(const std::string& text, int boundMs = kBoundMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    for (;;) {
      for (size_t nl; (nl = buf_.find('\n')) != std::string::npos;) {
        std::string line = buf_.substr(0, nl);
        buf_.erase(0, nl + 1);
        all_ += line + "\n";
        if (line.find(text) != std::string::npos) return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return "";
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
      char chunk[4096];
      const ssize_t n = read(fd_, chunk, sizeof chunk);
      if (n <= 0) return "";
      buf_.append(chunk, static_cast<size_t>(n));
    }
  }
  const std::string& Seen() const { return all_; }

 private:
  int fd_;
  std::string buf_, all_;
};

class Client {
 public:
  Client() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int big = 8 << 20;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) == 0 ||
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(0x7F000001);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  ~Client() { close(fd_); }
  void Send(const Endpoint& to, const std::string& hex) {
    const Bytes f = Hex(hex);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(to.port);
    a.sin_addr.s_addr = htonl(to.ip);
    ASSERT_EQ(sendto(fd_, f.data(), f.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
              static_cast<ssize_t>(f.size()));
  }
  // The next datagram within the bound: sender and hex; false if none.
  bool Receive(Endpoint& from, std::string& hex, int boundMs = kBoundMs) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, boundMs) <= 0) return false;
    uint8_t buf[2048];
    sockaddr_in a{};
    socklen_t len = sizeof a;
    const ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&a), &len);
    if (n < 0) return false;
    from = {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
    hex = ToHex(Bytes(buf, buf + n));
    return true;
  }

 private:
  int fd_ = -1;
};

// A server running on its own thread, printing into a pipe.
class Running {
 public:
  Running(Building b, ResponderOptions o = {}, ServerOptions so = {}) : responder_(std::move(b), o) {
    EXPECT_EQ(pipe2(pipe_, O_CLOEXEC), 0);
    out_ = fdopen(pipe_[1], "w");
    server_ = std::make_unique<Server>(responder_, so, out_);
    std::string error;
    bound_ = server_->Bind(error);
    EXPECT_TRUE(bound_) << error;
    if (bound_) thread_ = std::thread([this] { server_->Run(); });
  }
  ~Running() {
    server_->Stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
    std::fclose(out_);
    close(pipe_[0]);
  }
  Endpoint At(Role role, size_t index = 0) const {
    for (const auto& s : responder_.Sockets()) {
      if (s.role == role && s.index == index) return s.endpoint;
    }
    return {};
  }
  int LogFd() const { return pipe_[0]; }
  Server& server() { return *server_; }
  void Join() { thread_.join(); }

 private:
  Responder responder_;
  int pipe_[2] = {-1, -1};
  std::FILE* out_ = nullptr;
  std::unique_ptr<Server> server_;
  bool bound_ = false;
  std::thread thread_;
};

Building OnAnyPorts(Building b) {
  b.broadcast.port = 0;
  for (auto& d : b.devices) {
    d.address.port = 0;
    d.via.port = 0;
  }
  return b;
}

ServerOptions Static() {
  ServerOptions o;
  o.staticValues = true;
  return o;
}

TEST(SimSmoke, ReadPropertyAndWhoIsOverLoopback) {
  Running sim(OnAnyPorts(TestBuilding()), {}, Static());
  Lines log(sim.LogFd());
  ASSERT_NE(log.WaitFor("ready devices=6"), "");
  Client c;
  const Endpoint dev = sim.At(Role::kDevice, 0);
  c.Send(dev, "81 0A 00 11 01 04 00 05 07 0C 0C 00 00 00 01 19 55");
  Endpoint from;
  std::string hex;
  ASSERT_TRUE(c.Receive(from, hex));
  EXPECT_EQ(from, dev);
  EXPECT_EQ(hex, "81 0A 00 17 01 00 30 07 0C 0C 00 00 00 01 19 55 3E 44 41 AC 00 00 3F");
  EXPECT_NE(log.WaitFor("rp 127.0.0.2 dev=1001 AI:1 pv -> real 21.5 id=7"), "") << log.Seen();

  // A global Who-Is at the broadcast address: every device, each from its
  // own address, the routed ones from the router, the relayed one from the BBMD.
  c.Send(sim.At(Role::kBroadcast), "81 0B 00 0C 01 20 FF FF 00 FF 10 08");
  std::multiset<std::string> senders;
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(c.Receive(from, hex)) << i;
    senders.insert(from.AddressText());
  }
  EXPECT_EQ(senders, (std::multiset<std::string>{"127.0.0.2", "127.0.0.3", "127.0.0.10", "127.0.0.10", "127.0.0.10",
                                                 "127.0.0.20"}));
  EXPECT_NE(log.WaitFor("matched=6"), "");
  // The routed and relayed devices through their sockets.
  c.Send(sim.At(Role::kRouter), "81 0A 00 1B 01 24 00 05 06 7F 00 00 09 BA C0 FF 00 05 09 0C 0C 02 00 07 D3 19 4D");
  ASSERT_TRUE(c.Receive(from, hex));
  EXPECT_EQ(from, sim.At(Role::kRouter));
  EXPECT_EQ(hex.substr(12, 38), "01 08 00 05 06 7F 00 00 09 BA C0 30 09");
  c.Send(sim.At(Role::kDevice, 5), "81 0A 00 11 01 04 00 05 0A 0C 0C 02 00 0B B9 19 4B");
  ASSERT_TRUE(c.Receive(from, hex));
  EXPECT_EQ(from, sim.At(Role::kBbmd));
  EXPECT_EQ(hex.substr(0, 12), "81 04 00 1D ");

  sim.server().Stop();
  EXPECT_NE(log.WaitFor("stop reason=signal"), "");
}

TEST(SimSmoke, DelayedAnswersLeaveInOrder) {
  Building b = OnAnyPorts(TestBuilding());
  b.devices[0].knobs.delayMs = 40;
  Running sim(b);
  Lines log(sim.LogFd());
  ASSERT_NE(log.WaitFor("ready"), "");
  Client c;
  const Endpoint slow = sim.At(Role::kDevice, 0), quick = sim.At(Role::kDevice, 1);
  c.Send(slow, "81 0A 00 11 01 04 00 05 01 0C 0C 00 00 00 01 19 55");
  c.Send(quick, "81 0A 00 11 01 04 00 05 02 0C 0C 00 00 00 01 19 55");
  Endpoint first, second;
  std::string hex;
  ASSERT_TRUE(c.Receive(first, hex));
  ASSERT_TRUE(c.Receive(second, hex));
  EXPECT_EQ(first, quick);
  EXPECT_EQ(second, slow);
}

TEST(SimSmoke, AThousandDevicesAnswerOneWhoIs) {
  Building b;
  b.devices.clear();
  GenerateSpec g;
  g.local = 1000;
  g.firstAddress = {0x7F000102, 0};  // 127.0.1.2 ...
  g.objectsPerType = 0;
  std::string error;
  ASSERT_TRUE(Generate(b, g, error)) << error;
  b.broadcast = {0x7F00FFFF, 0};
  ServerOptions quiet;
  quiet.quiet = true;
  ResponderOptions spread;
  spread.iamSpreadMs = 200;  // as real devices do, so that no receive buffer overflows
  Running sim(b, spread, quiet);
  Lines log(sim.LogFd());
  ASSERT_NE(log.WaitFor("ready devices=1000 sockets=1001"), "");
  Client c;
  c.Send(sim.At(Role::kBroadcast), "81 0B 00 0C 01 20 FF FF 00 FF 10 08");
  std::set<uint32_t> instances;
  Endpoint from;
  std::string hex;
  while (instances.size() < 1000 && c.Receive(from, hex)) {
    const Bytes f = Hex(hex);
    ASSERT_EQ(f.size(), 21u);
    instances.insert((static_cast<uint32_t>(f[10] & 0x3F) << 16) | (f[11] << 8) | f[12]);
  }
  EXPECT_EQ(instances.size(), 1000u);
}

// The program itself.
struct Process {
  pid_t pid = -1;
  int out = -1, err = -1;
};

Process Spawn(const std::vector<std::string>& args) {
  int out[2], err[2];
  EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
  EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  std::vector<char*> argv;
  std::string exe = BACSIM_EXE;
  argv.push_back(exe.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  Process p;
  EXPECT_EQ(posix_spawn(&p.pid, exe.c_str(), &fa, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  close(err[1]);
  p.out = out[0];
  p.err = err[0];
  return p;
}

// Exit status, or -1 when the process did not end within the bound (it is
// then killed). The process's end is the event: its output pipe closes.
int Wait(Process& p, int boundMs = kBoundMs) {
  bool ended = false;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
  while (!ended) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd pfd{p.out, POLLIN, 0};
    if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[4096];
    ended = read(p.out, buf, sizeof buf) <= 0;
  }
  int status = 0;
  if (!ended) kill(p.pid, SIGKILL);
  waitpid(p.pid, &status, 0);
  status = !ended ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : -2;
  close(p.out);
  close(p.err);
  return status;
}

std::string ReadAll(int fd) {
  std::string s;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
  return s;
}

uint16_t SomeFreePort() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(0x7F000001);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

TEST(SimProgram, ServesTheSampleBuildingUntilSigterm) {
  Process p;
  uint16_t port = 0;
  Lines* log = nullptr;
  std::unique_ptr<Lines> holder;
  // A port taken on one of the sample's addresses makes the program fail
  // with exit 2; try another one then.
  for (int attempt = 0; attempt < 5 && !log; ++attempt) {
    port = SomeFreePort();
    p = Spawn({"--config", BACSIM_EXAMPLES_DIR "/building.json", "--port", std::to_string(port), "--static",
               "--max-seconds", "60"});
    holder = std::make_unique<Lines>(p.out);
    if (holder->WaitFor("ready devices=6 sockets=6 broadcast=127.0.0.255:" + std::to_string(port)) != "") {
      log = holder.get();
    } else {
      Wait(p);
    }
  }
  ASSERT_TRUE(log) << "bacsim did not become ready";
  Client c;
  c.Send({0x7F000002, port}, "81 0A 00 11 01 04 00 05 03 0C 0C 00 00 00 01 19 55");
  Endpoint from;
  std::string hex;
  ASSERT_TRUE(c.Receive(from, hex));
  EXPECT_EQ(hex, "81 0A 00 17 01 00 30 03 0C 0C 00 00 00 01 19 55 3E 44 41 90 00 00 3F");  // 18.0
  EXPECT_NE(log->WaitFor("rp 127.0.0.2 dev=1001 AI:1 pv -> real 18 id=3 from=127.0.0.1:"), "") << log->Seen();
  c.Send({0x7F0000FF, port}, "81 0B 00 0C 01 20 FF FF 00 FF 10 08");
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(c.Receive(from, hex)) << i;
  EXPECT_NE(log->WaitFor("matched=6"), "");
  kill(p.pid, SIGTERM);
  EXPECT_NE(log->WaitFor("stop reason=signal"), "");
  EXPECT_EQ(Wait(p), 0);
}

TEST(SimProgram, ErrorsAreOneLineAndExitStatus2) {
  Process p = Spawn({"--devices", "x"});
  const int status = Wait(p);
  EXPECT_EQ(status, 2);

  Process q = Spawn({"--frobnicate"});
  int st = 0;
  waitpid(q.pid, &st, 0);
  const std::string err = ReadAll(q.err);
  close(q.out);
  close(q.err);
  EXPECT_EQ(WEXITSTATUS(st), 2);
  EXPECT_EQ(err, "bacsim: unknown option --frobnicate (see --help)\n");

  // A bind failure: the address is taken.
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(0x7F000002);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  const std::string port = std::to_string(ntohs(a.sin_port));
  q = Spawn({"--port", port, "--broadcast", "none"});
  waitpid(q.pid, &st, 0);
  const std::string bindErr = ReadAll(q.err);
  close(q.out);
  close(q.err);
  close(fd);
  EXPECT_EQ(WEXITSTATUS(st), 2);
  EXPECT_EQ(bindErr.rfind("bacsim: bind 127.0.0.2:" + port + " (device): ", 0), 0u) << bindErr;
  EXPECT_EQ(std::count(bindErr.begin(), bindErr.end(), '\n'), 1);

  q = Spawn({"--help"});
  const std::string help = ReadAll(q.out);
  waitpid(q.pid, &st, 0);
  close(q.out);
  close(q.err);
  EXPECT_EQ(WEXITSTATUS(st), 0);
  EXPECT_NE(help.find("--max-seconds"), std::string::npos);
}

TEST(SimProgram, MaxSecondsEndsIt) {
  Process p = Spawn({"--port", "0", "--max-seconds", "0.2", "--quiet"});
  Lines log(p.out);
  EXPECT_NE(log.WaitFor("stop reason=time"), "");
  EXPECT_EQ(Wait(p), 0);
}

}  // namespace
