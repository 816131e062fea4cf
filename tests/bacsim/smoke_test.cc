// The simulator over real loopback UDP: in process on ports the system
// picks, and as the bacsim program with its "ready" line, signals and exit
// codes. Every wait is on an event (poll with a bound), none sleeps.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdio>
#include <set>
#include <string>
#include <thread>

#include "common/child_process.h"
#include "common/udp_peer.h"
#include "server.h"
#include "sim_building.h"

using namespace bacsim;
using namespace bacsim_test;
using testutil::ChildProcess;

namespace {

constexpr int kBoundMs = 10000;
constexpr std::chrono::milliseconds kBound{kBoundMs};

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

// The test's socket on 127.0.0.1, with room for a thousand answers at once.
class Client {
 public:
  void Send(const Endpoint& to, const std::string& hex) {
    const Bytes f = Hex(hex);
    ASSERT_TRUE(peer_.SendTo(to.ip, to.port, f.data(), f.size()));
  }
  // The next datagram within the bound: sender and hex; false if none.
  bool Receive(Endpoint& from, std::string& hex, int boundMs = kBoundMs) {
    sockaddr_in a{};
    const std::string d = peer_.Receive(&a, boundMs);
    if (d.empty()) return false;
    from = {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
    hex = HexText(Bytes(d.begin(), d.end()));
    return true;
  }

 private:
  static testutil::UdpPeerOptions Roomy() {
    testutil::UdpPeerOptions o;
    o.receiveBuffer = 8 << 20;
    return o;
  }
  testutil::UdpPeer peer_{Roomy()};
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
std::unique_ptr<ChildProcess> Spawn(std::vector<std::string> args) {
  args.insert(args.begin(), BACSIM_EXE);
  return std::make_unique<ChildProcess>(args);
}

uint16_t SomeFreePort() { return testutil::UdpPeer().Port(); }

TEST(SimProgram, ServesTheSampleBuildingUntilSigterm) {
  std::unique_ptr<ChildProcess> p;
  uint16_t port = 0;
  bool ready = false;
  // A port taken on one of the sample's addresses makes the program fail
  // with exit 2; try another one then.
  for (int attempt = 0; attempt < 5 && !ready; ++attempt) {
    port = SomeFreePort();
    p = Spawn({"--config", BACSIM_EXAMPLES_DIR "/building.json", "--port", std::to_string(port), "--static",
               "--max-seconds", "60"});
    ready = p->WaitForOutLineWith("ready devices=6 sockets=6 broadcast=127.0.0.255:" + std::to_string(port), kBound) != "";
    if (!ready) p->Wait(kBound);
  }
  ASSERT_TRUE(ready) << "bacsim did not become ready";
  Client c;
  c.Send({0x7F000002, port}, "81 0A 00 11 01 04 00 05 03 0C 0C 00 00 00 01 19 55");
  Endpoint from;
  std::string hex;
  ASSERT_TRUE(c.Receive(from, hex));
  EXPECT_EQ(hex, "81 0A 00 17 01 00 30 03 0C 0C 00 00 00 01 19 55 3E 44 41 90 00 00 3F");  // 18.0
  EXPECT_NE(p->WaitForOutLineWith("rp 127.0.0.2 dev=1001 AI:1 pv -> real 18 id=3 from=127.0.0.1:", kBound), "")
      << p->Out();
  c.Send({0x7F0000FF, port}, "81 0B 00 0C 01 20 FF FF 00 FF 10 08");
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(c.Receive(from, hex)) << i;
  EXPECT_NE(p->WaitForOutLineWith("matched=6", kBound), "");
  p->Signal(SIGTERM);
  EXPECT_NE(p->WaitForOutLineWith("stop reason=signal", kBound), "");
  EXPECT_EQ(p->Wait(kBound), 0);
}

TEST(SimProgram, ErrorsAreOneLineAndExitStatus2) {
  std::unique_ptr<ChildProcess> p = Spawn({"--devices", "x"});
  const int status = p->Wait(kBound);
  EXPECT_EQ(status, 2);

  std::unique_ptr<ChildProcess> q = Spawn({"--frobnicate"});
  int st = q->Wait(kBound);
  const std::string err = q->Err();
  EXPECT_EQ(st, 2);
  EXPECT_EQ(err, "bacsim: unknown option --frobnicate (see --help)\n");

  // A bind failure: the address is taken.
  testutil::UdpPeerOptions second;
  second.address = 0x7F000002;
  testutil::UdpPeer taken(second);
  ASSERT_TRUE(taken.Bound());
  const std::string port = std::to_string(taken.Port());
  q = Spawn({"--port", port, "--broadcast", "none"});
  st = q->Wait(kBound);
  const std::string bindErr = q->Err();
  EXPECT_EQ(st, 2);
  EXPECT_EQ(bindErr.rfind("bacsim: bind 127.0.0.2:" + port + " (device): ", 0), 0u) << bindErr;
  EXPECT_EQ(std::count(bindErr.begin(), bindErr.end(), '\n'), 1);

  q = Spawn({"--help"});
  st = q->Wait(kBound);
  const std::string help = q->Out();
  EXPECT_EQ(st, 0);
  EXPECT_NE(help.find("--max-seconds"), std::string::npos);
}

TEST(SimProgram, MaxSecondsEndsIt) {
  std::unique_ptr<ChildProcess> p = Spawn({"--port", "0", "--max-seconds", "0.2", "--quiet"});
  EXPECT_NE(p->WaitForOutLineWith("stop reason=time", kBound), "");
  EXPECT_EQ(p->Wait(kBound), 0);
}

}  // namespace
