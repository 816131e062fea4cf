// bacsim: a BACnet/IP device simulator for tests of BACnet clients.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "cli.h"
#include "server.h"

namespace {

int g_stopFd = -1;

void OnSignal(int) {
  if (g_stopFd >= 0) {
    const char c = 's';
    [[maybe_unused]] ssize_t n = write(g_stopFd, &c, 1);
  }
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "bacsim: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bacsim::CliOptions cli;
  std::string error;
  if (!bacsim::ParseCommandLine(argc, argv, cli, error)) return Fail(error + " (see --help)");
  if (cli.help) {
    std::fputs(bacsim::kUsage, stdout);
    return 0;
  }
  std::string text;
  if (!cli.configPath.empty()) {
    std::ifstream f(cli.configPath, std::ios::binary);
    if (!f) return Fail("cannot read " + cli.configPath);
    std::ostringstream s;
    s << f.rdbuf();
    text = s.str();
  }
  bacsim::Building building;
  if (!bacsim::MakeBuilding(cli, text, building, error)) return Fail(error);
  bacsim::Responder responder(std::move(building), cli.responder);
  bacsim::Server server(responder, cli.server, stdout);
  if (!server.Bind(error)) return Fail(error);
  g_stopFd = server.StopFd();
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  const std::string reason = server.Run();
  return reason == "poll-error" ? 1 : 0;
}
