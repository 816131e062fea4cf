// bachost as a program: the command line's error paths, a run over
// loopback UDP with a stand-in plug-in (sockets, PeerAddress, row splitting,
// kind 9, the log, the summary, the shutdown order), a stop by SIGTERM, and
// a run with the real plug-in whose stored configuration the module reads
// back.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "cli_options.h"
#include "common/child_process.h"
#include "common/text_lines.h"
#include "common/udp_peer.h"
#include "config_files.h"
#include "host_entry_points.h"
#include "host_session.h"
#include "ini_settings.h"
#include "platform/port.h"
#include "plugin_library.h"
#include "request_config.h"
#include "runtime/settings/ini_file.h"

namespace {

using testutil::ChildProcess;
using testutil::Lines;
// A UDP socket of the test on 127.0.0.1, standing in for a device.
using testutil::UdpPeer;

std::string TempPath(const std::string& name) {
  return port::TempDirectory() + "bachost-test-" + std::to_string(::getpid()) + "-" + name;
}

std::vector<std::string> Args(std::initializer_list<std::string> rest) {
  std::vector<std::string> args = {BACHOST_PATH};
  args.insert(args.end(), rest);
  return args;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// ---- Error paths: one line, status 2, no crash --------------------------------

TEST(HostProgram, BadStartsEndWithOneLineAndStatusTwo) {
  UdpPeer taken;  // bound without SO_REUSEADDR: the host cannot share it
  const std::string missing = TempPath("missing.xml");
  const std::string notXml = TempPath("not.xml");
  ASSERT_TRUE(port::WriteFileAtomic(notXml, "<root/>"));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {Args({"--frobnicate"}), "unknown option '--frobnicate'"},
      {Args({"--items", "AI:1,AI:1"}), "used twice"},
      {Args({"--config", missing}), "cannot read configuration file"},
      {Args({"--config", notXml}), "no MODBUSRTUQUERY element"},
      {Args({"--plugin", TEST_PLUGIN_PATH, "--bind", taken.Endpoint()}), "cannot bind " + taken.Endpoint()},
      {Args({"--plugin", TEST_PLUGIN_PATH, "--bind", "127.0.0.1:0", "--ini", port::TempDirectory()}),
       "cannot write INI file"},
  };
  for (const auto& [args, message] : cases) {
    ChildProcess p(args);
    ASSERT_TRUE(p.Started());
    EXPECT_EQ(p.Wait(), 2) << args[1];
    auto lines = Lines(p.Err());
    ASSERT_EQ(lines.size(), 1u) << p.Err();
    EXPECT_TRUE(Contains(lines[0], message)) << lines[0];
    EXPECT_EQ(p.Out(), "");
  }
  port::RemoveFile(notXml);

  ChildProcess help(Args({"--help"}));
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_TRUE(Contains(help.Out(), "--records N"));
  // The options form as a host fetches it, and the show-options call whose
  // change reaches a second instance of another thread as message 1812.
  ChildProcess options(Args({"--plugin", BACNETIP_PLUGIN_PATH, "--options"}));
  EXPECT_EQ(options.Wait(), 0) << options.Err();
  EXPECT_TRUE(Contains(options.Out(), "<program name=\"frmOption\">"));
  EXPECT_TRUE(Contains(options.Out(), "TFRMOPTION"));
  EXPECT_TRUE(Contains(options.Out(), "lblParams.Caption,Parser config"));
  ChildProcess show(Args({"--plugin", BACNETIP_PLUGIN_PATH, "--show-options"}));
  EXPECT_EQ(show.Wait(), 0) << show.Err();
  EXPECT_TRUE(Contains(show.Out(), "status 1 (changed)"));
  EXPECT_TRUE(Contains(show.Out(), "message 1812"));
  ChildProcess noPlugin(Args({"--plugin", "/nonexistent/plugin.so", "--bind", "127.0.0.1:0"}));
  EXPECT_EQ(noPlugin.Wait(), 1);
  EXPECT_TRUE(Contains(noPlugin.Err(), "cannot load /nonexistent/plugin.so"));
}

// ---- One run over loopback UDP with the stand-in plug-in ------------------------

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
  uint16_t peerPort = 0;
  std::string records;  // --out file, when used
};

// The stand-in answers our "PING" by delivering two records in the output
// list and one through kind 9; the host stops after those three.
RunResult RunAgainstPeer(std::vector<std::string> extra, bool quiet = false) {
  UdpPeer device;
  RunResult r;
  r.peerPort = device.Port();
  auto args = Args({"--plugin", TEST_PLUGIN_PATH, "--bind", "127.0.0.1:0", "--poll", device.Endpoint(),
                    "--records", "3", "--duration", "60"});
  args.insert(args.end(), extra.begin(), extra.end());
  ChildProcess host(args);
  EXPECT_TRUE(host.Started());
  sockaddr_in from{};
  std::string ping = device.Receive(&from);
  EXPECT_EQ(ping, "PING1");
  if (!quiet) {
    const std::string bound = host.WaitForErrLine("bachost: source 1 UDP1 bound to ");
    EXPECT_EQ(bound, "bachost: source 1 UDP1 bound to 127.0.0.1:" + std::to_string(ntohs(from.sin_port)));
  }
  device.SendTo(from, "hello");
  // Sent from the stand-in's own thread while the loop runs.
  EXPECT_EQ(device.Receive(&from), "ACK1");
  r.status = host.Wait();
  r.out = host.Out();
  r.err = host.Err();
  return r;
}

TEST(HostProgram, PollsOverLoopbackAndWritesJsonLines) {
  RunResult r = RunAgainstPeer({});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string peer = "127.0.0.1:" + std::to_string(r.peerPort);
  auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_EQ(lines[0],
            "{\"source\":1,\"via\":\"output\",\"items\":{\"DATE_TIME_STAMP\":\"2025-12-09T12:00:00.000\","
            "\"DATA_SOURCE_ID\":1,\"PEER\":\"" + peer + "\",\"TEXT\":\"hello\",\"BYTES\":5,\"CALL_TYPES\":3,"
            "\"OK\":true,\"REAL\":1.5}}");
  EXPECT_EQ(lines[1], "{\"source\":1,\"via\":\"output\",\"items\":{\"ROW\":2,\"NAME, \\\"QUOTED\\\"\":\"a\\nb\"}}");
  EXPECT_EQ(lines[2], "{\"source\":1,\"via\":\"kind9\",\"items\":{\"VIA\":\"timer\",\"SENT\":4}}");

  // The refused envelopes (no ">>", port 0, empty frame, unknown data source).
  EXPECT_TRUE(Contains(r.err, "test-plugin: ping 1 5\n")) << r.err;
  EXPECT_TRUE(Contains(r.err, "test-plugin: refused -2 -2 -2 -1\n")) << r.err;
  EXPECT_TRUE(Contains(r.err, "test-plugin: SET-STATE call types 3\n"));
  EXPECT_TRUE(Contains(r.err, "log[1] Bacnet/IP. Request timeout: Request #1 (" + peer + ") x2\n"));
  EXPECT_TRUE(Contains(r.err, "log[2] Bacnet/IP. Data have been processed successfully\n"));
  // The shutdown a host does, in its order, and then the summary.
  const size_t ready = r.err.find("bachost: ready\n");
  const size_t unload = r.err.find("test-plugin: UNLOAD\n");
  const size_t freed = r.err.find("test-plugin: free 7\n");
  const size_t shutdown = r.err.find("test-plugin: shutdown\n");
  const size_t summary = r.err.find("bachost: summary frames-sent=2 frames-received=1 records=3 values=10 "
                                    "timeouts=2 error-answers=1 send-failures=4 dropped=0 ");
  ASSERT_NE(ready, std::string::npos) << r.err;
  ASSERT_NE(summary, std::string::npos) << r.err;
  EXPECT_LT(ready, unload);
  EXPECT_LT(unload, freed);
  EXPECT_LT(freed, shutdown);
  EXPECT_LT(shutdown, summary);
}

TEST(HostProgram, WritesCsvToAFileAndOnlyRecordsWhenQuiet) {
  const std::string out = TempPath("records.csv");
  RunResult r = RunAgainstPeer({"--format", "csv", "--out", out, "--quiet"}, true);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string csv;
  ASSERT_TRUE(port::ReadFile(out, &csv));
  port::RemoveFile(out);
  const std::string peer = "127.0.0.1:" + std::to_string(r.peerPort);
  EXPECT_EQ(csv,
            "source,via,DATE_TIME_STAMP,DATA_SOURCE_ID,PEER,TEXT,BYTES,CALL_TYPES,OK,REAL\r\n"
            "1,output,2025-12-09T12:00:00.000,1," + peer + ",hello,5,3,true,1.5\r\n"
            "source,via,ROW,\"NAME, \"\"QUOTED\"\"\"\r\n"
            "1,output,2,\"a\nb\"\r\n"
            "source,via,VIA,SENT\r\n"
            "1,kind9,timer,4\r\n");
  EXPECT_EQ(r.out, "");
  // Only the stand-in's own lines are left on standard error.
  for (const auto& line : Lines(r.err)) EXPECT_EQ(line.rfind("test-plugin: ", 0), 0u) << line;
}

TEST(HostProgram, StopsOnSigtermAsAHostDoes) {
  UdpPeer device;
  ChildProcess host(Args({"--plugin", TEST_PLUGIN_PATH, "--bind", "127.0.0.1:0", "--poll", device.Endpoint()}));
  ASSERT_FALSE(host.WaitForErrLine("bachost: ready").empty()) << host.Err();
  sockaddr_in from{};
  EXPECT_EQ(device.Receive(&from), "PING1");
  host.Signal(SIGTERM);
  EXPECT_EQ(host.Wait(), 0) << host.Err();
  EXPECT_EQ(host.Out(), "");
  const size_t unload = host.Err().find("test-plugin: UNLOAD\n");
  const size_t shutdown = host.Err().find("test-plugin: shutdown\n");
  const size_t summary = host.Err().find("bachost: summary frames-sent=1 frames-received=0 records=0");
  ASSERT_NE(unload, std::string::npos) << host.Err();
  EXPECT_LT(unload, shutdown);
  EXPECT_LT(shutdown, summary);
}

// Two data sources, each its own socket and id: what arrives on one goes
// to the module as that data source, and what the module sends through one
// leaves from its socket.
TEST(HostProgram, TwoDataSourcesKeepApart) {
  UdpPeer device;
  ChildProcess host(Args({"--plugin", TEST_PLUGIN_PATH, "--source", "1:Plant@127.0.0.1:0", "--source",
                         "2:Lab@127.0.0.1:0", "--poll", device.Endpoint(), "--records", "6", "--duration", "60"}));
  std::map<std::string, uint16_t> pings;  // payload -> the host port it came from
  for (int i = 0; i < 2; ++i) {
    sockaddr_in from{};
    std::string ping = device.Receive(&from);
    pings[ping] = ntohs(from.sin_port);
    device.SendTo(from, "hello");
  }
  ASSERT_EQ(pings.size(), 2u);
  ASSERT_EQ(pings.count("PING1") + pings.count("PING2"), 2u);
  EXPECT_NE(pings["PING1"], pings["PING2"]);
  for (int i = 0; i < 2; ++i) {
    sockaddr_in from{};
    std::string ack = device.Receive(&from);
    ASSERT_EQ(ack.rfind("ACK", 0), 0u) << ack;
    EXPECT_EQ(ntohs(from.sin_port), pings["PING" + ack.substr(3)]) << ack;
  }
  ASSERT_EQ(host.Wait(), 0) << host.Err();
  EXPECT_TRUE(Contains(host.Err(), "bachost: source 1 Plant bound to 127.0.0.1:" + std::to_string(pings["PING1"])));
  EXPECT_TRUE(Contains(host.Err(), "bachost: source 2 Lab bound to 127.0.0.1:" + std::to_string(pings["PING2"])));
  auto lines = Lines(host.Out());
  ASSERT_EQ(lines.size(), 6u) << host.Out();
  for (int id : {1, 2}) {
    const std::string source = "{\"source\":" + std::to_string(id) + ",";
    int count = 0;
    for (const auto& l : lines) count += l.rfind(source, 0) == 0;
    EXPECT_EQ(count, 3) << id;
    EXPECT_TRUE(Contains(host.Out(), source + "\"via\":\"output\",\"items\":{\"DATE_TIME_STAMP\":\"2025-12-09T12:00:00.000\","
                                     "\"DATA_SOURCE_ID\":" + std::to_string(id) + ","));
    EXPECT_TRUE(Contains(host.Out(), source + "\"via\":\"kind9\",\"items\":{\"VIA\":\"timer\",\"SENT\":4}}"));
  }
}

// ---- The real plug-in -------------------------------------------------------------

// The module reads back exactly the configuration the host stored: what it
// saves again from its options is the same text.
TEST(HostSettings, TheModuleReadsTheStoredConfigurationBack) {
  const std::string ini = TempPath("module.ini");
  const std::string saved = TempPath("saved.ini");
  host::PollSpec p = host::DefaultPoll();
  p.caption = "  Caf\xC3\xA9 100% <\"&\">  ";
  std::string reason;
  ASSERT_TRUE(host::ParseItemList("AI:1=Temp + 1,MSV:3", &p.items, &reason));
  const std::string xml = host::BuildRequestXml({p, host::DefaultPoll()});
  ASSERT_TRUE(port::WriteFileAtomic(ini, "[Common]\r\nLeft=77\r\n"));
  std::string error;
  ASSERT_TRUE(host::StoreModuleSettings(ini, xml, false, &error)) << error;

  host::PluginLibrary lib;
  ASSERT_TRUE(lib.Load(BACNETIP_PLUGIN_PATH, &error)) << error;
  {
    host::HostSession session(lib.Exports());
    ASSERT_EQ(session.Create(), 0);
    ASSERT_EQ(session.Command("LOAD", {{"INI-FILE", host::Text(ini)}}).code, 0);
    session.Command("SAVE-SETTINGS-NOW", {{"INI-FILE", host::Text(saved)}});
    // The same INI file at UNLOAD: nothing is saved elsewhere.
    EXPECT_EQ(session.Command("UNLOAD", {{"INI-FILE", host::Text(ini)}}).code, 0);
  }
  lib.Unload();
  std::string text;
  ASSERT_TRUE(port::ReadFile(saved, &text));
  kel::TIniFile back(text);
  EXPECT_EQ(back.ReadString("Common", "Parser config", "?"), host::PercentEncode(xml));
  EXPECT_EQ(back.ReadString("Common", "Read dev props", "?"), "False");
  EXPECT_EQ(back.ReadString("Common", "Left", "?"), "77");
  port::RemoveFile(ini);
  port::RemoveFile(saved);
}

TEST(HostProgram, RunsWithTheRealPlugin) {
  const std::string ini = TempPath("real.ini");
  ChildProcess host(Args({"--bind", "127.0.0.1:0", "--duration", "0", "--ini", ini, "--device-properties", "off"}));
  EXPECT_EQ(host.Wait(), 0) << host.Err();
  EXPECT_TRUE(Contains(host.Err(), "bachost: plug-in Bacnet/IP 5.0")) << host.Err();
  EXPECT_TRUE(Contains(host.Err(), "bachost: ready\n"));
  EXPECT_TRUE(Contains(host.Err(), "bachost: summary frames-sent="));
  std::string text;
  ASSERT_TRUE(port::ReadFile(ini, &text));
  kel::TIniFile stored(text);
  EXPECT_EQ(stored.ReadString("Common", "Parser config", "?"), host::PercentEncode(host::BuildRequestXml({host::DefaultPoll()})));
  EXPECT_EQ(stored.ReadString("Common", "Read dev props", "?"), "False");
  port::RemoveFile(ini);
}

}  // namespace
