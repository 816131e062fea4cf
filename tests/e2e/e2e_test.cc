// The whole system over real loopback UDP: the reference data logger with
// the plug-in polling the simulated building, every run bounded in time and
// every wait on an event (a line, an exit), never on a sleep.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "common/text_lines.h"
#include "free_port.h"
#include "records.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using testutil::ChildProcess;
using testutil::Lines;

// The simulated building serves a port of this run's own on 127.0.0.x, clear
// of a logger or simulator on the BACnet/IP port itself and of another run
// of the suite.
const std::string kPort = FreeUdpPort({"127.0.0.2", "127.0.0.3", "127.0.0.10", "127.0.0.20", "127.0.0.255", "127.0.1.5"});
const std::string kInteropPort = FreeUdpPort({"127.0.0.61"});
// The generated devices of the fast pace's cases, on 127.0.2.1 and on.
const std::string kFastPort = FreeUdpPort({"127.0.2.1", "127.0.2.50", "127.0.2.100"});

struct HostRun {
  int status = -1;
  std::vector<Record> records;
  std::vector<std::string> log;  // the module's log lines, level prefix kept
  std::map<std::string, long> summary;
  std::string err;
};

class EndToEnd : public ::testing::Test {
 protected:
  // The sample building on kPort, with extra simulator options.
  void StartBuilding(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {BACSIM_EXE, "--config", EXAMPLES_DIR "/building.json", "--port", kPort,
                                     "--max-seconds", "120"};
    args.insert(args.end(), extra.begin(), extra.end());
    sim_ = std::make_unique<ChildProcess>(args);
    ASSERT_TRUE(sim_->WaitForOutLine("ready", 20s)) << sim_->Out() << sim_->Err();
  }
  // A building of the test's own (JSON text) on kPort.
  void StartOwnBuilding(const std::string& json) {
    const std::string path = TempFile("building.json", json);
    sim_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{BACSIM_EXE, "--config", path, "--port", kPort, "--max-seconds", "120"});
    ASSERT_TRUE(sim_->WaitForOutLine("ready", 20s)) << sim_->Out() << sim_->Err();
    std::remove(path.c_str());
  }
  // A file of this run with the given text; removed by the caller.
  static std::string TempFile(const std::string& name, const std::string& text) {
    const std::string path = std::string(TEMP_DIR) + "/e2e-" + std::to_string(getpid()) + "-" + name;
    FILE* f = std::fopen(path.c_str(), "w");
    EXPECT_NE(f, nullptr) << path;
    if (f) {
      std::fputs(text.c_str(), f);
      std::fclose(f);
    }
    return path;
  }
  void TearDown() override {
    if (sim_) sim_->Stop(SIGTERM, 10s);
  }

  // Runs bachost to its end (it stops by itself through --records or
  // --duration; the bound only catches a hang).  E2E_HOST_COMMAND, when
  // set, is the command that starts the logger instead of the built one
  // (words separated by spaces, e.g. "wine build/win64/bachost.exe"); its
  // outputs then go through files.
  HostRun Host(std::vector<std::string> args, std::chrono::seconds bound = 60s) {
    const std::vector<std::string> command = HostCommand();
    args.insert(args.begin(), command.begin(), command.end());
    const bool other = command.front() != BACHOST_EXE;
    const std::string files = std::string(TEMP_DIR) + "/e2e-host-" + std::to_string(getpid());
    std::unique_ptr<ChildProcess> host =
        other ? std::make_unique<ChildProcess>(args, files) : std::make_unique<ChildProcess>(args);
    const int status = host->Wait(bound);
    const HostRun r = Collect(status, host->Out(), host->Err());
    if (other) {
      std::remove((files + ".out").c_str());
      std::remove((files + ".err").c_str());
    }
    return r;
  }
  // The run as bachost left it: records, log lines, summary.
  static HostRun Collect(int status, const std::string& out, const std::string& err) {
    HostRun r;
    r.status = status;
    r.err = err;
    bool ok = true;
    r.records = ParseRecords(out, &ok);
    EXPECT_TRUE(ok) << "bachost wrote a line that is no record:\n" << out;
    static const std::regex field("([a-z-]+)=([0-9]+)");
    for (const std::string& line : Lines(r.err)) {
      if (line.rfind("log[", 0) == 0) r.log.push_back(line);
      if (line.rfind("bachost: summary", 0) == 0)
        for (std::sregex_iterator it(line.begin(), line.end(), field), end; it != end; ++it)
          r.summary[(*it)[1]] = std::stol((*it)[2]);
    }
    return r;
  }
  static std::vector<std::string> HostCommand() {
    std::vector<std::string> words;
    const char* text = std::getenv("E2E_HOST_COMMAND");
    std::istringstream in(text ? text : "");
    for (std::string w; in >> w;) words.push_back(w);
    if (words.empty()) words.push_back(BACHOST_EXE);
    return words;
  }
  static long Count(const std::vector<std::string>& lines, const std::string& part) {
    long n = 0;
    for (const auto& l : lines) n += l.find(part) != std::string::npos;
    return n;
  }
  // bachost started with its outputs read as they come, once it is ready;
  // livePort_ is its data source's port.
  void StartLiveHost(std::vector<std::string> args) {
    args.insert(args.begin(), BACHOST_EXE);
    live_ = std::make_unique<ChildProcess>(args);
    std::smatch m;
    static const std::regex bound("bound to [0-9.]+:([0-9]+)");
    ASSERT_TRUE(live_->WaitFor([](const std::string&, const std::string& err) {
      return err.find("bachost: ready") != std::string::npos;
    }, 30s)) << live_->Err();
    const std::string err = live_->Err();
    ASSERT_TRUE(std::regex_search(err, m, bound)) << err;
    livePort_ = m[1];
  }
  size_t LiveRecords() { return ParseRecords(live_->Out()).size(); }
  HostRun StopLiveHost() {
    const int status = live_->Stop(SIGINT, 60s);
    return Collect(status, live_->Out(), live_->Err());
  }

  // The simulator's request lines so far.
  std::vector<std::string> SimLines(const std::string& part) {
    std::vector<std::string> out;
    for (const std::string& l : Lines(sim_->Out()))
      if (l.rfind("rp ", 0) == 0 && l.find(part) != std::string::npos) out.push_back(l);
    return out;
  }

  std::unique_ptr<ChildProcess> sim_;
  std::unique_ptr<ChildProcess> live_;
  std::string livePort_;
};

const std::vector<std::string> kStandard = {"DATE_TIME_STAMP", "DATA_SOURCE_ID",  "DATA_SOURCE_FULL_NAME",
                                            "DATA_SOURCE_NAME", "REMOTE_ADDRESS", "DEV_ID", "REQUEST_DESC"};

TEST_F(EndToEnd, EveryObjectTypeArrivesInOneRecordInTheConfiguredOrder) {
  StartBuilding();
  HostRun r = Host({"--bind", "127.0.0.1:0", "--device-properties", "off", "--poll", "127.0.0.2:" + kPort,
                    "--instance", "1001", "--caption", "AHU",
                    "--items", "AI:1,AO:1,AV:1,BI:1,BO:1,BV:1,MSI:1,MSO:1,MSV:1,NC:1,AI:99=MISSING",
                    "--interval", "200ms", "--records", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.records.size(), 3u);
  std::vector<std::string> expected = kStandard;
  for (const char* n : {"AI_1", "AO_1", "AV_1", "BI_1", "BO_1", "BV_1", "MSI_1", "MSO_1", "MSV_1"}) expected.push_back(n);
  for (const Record& rec : r.records) {
    EXPECT_EQ(rec.via, "output");
    EXPECT_EQ(rec.Names(), expected) << "the notification class has no present value, AI:99 no object";
    EXPECT_EQ(rec.Text("REMOTE_ADDRESS"), "127.0.0.2:" + kPort);
    EXPECT_EQ(rec.Number("DEV_ID"), 1001);
    EXPECT_EQ(rec.Text("REQUEST_DESC"), "AHU");
    for (size_t i = kStandard.size(); i < rec.items.size(); ++i)
      EXPECT_EQ(rec.items[i].second.kind, JsonValue::Number) << rec.items[i].first;
  }
  EXPECT_NEAR(r.records[0].Number("AV_1"), 18.0, 1e-6) << "the building's fixed set point";
  // Each give-up of an unknown object is one error line per answer.
  EXPECT_EQ(Count(r.log, "Error response [Object, Unknown Object]"), 3);
  EXPECT_EQ(Count(r.log, "Error response [Property, Unknown Property]"), 3);
  EXPECT_EQ(r.summary["timeouts"], 0);
}

TEST_F(EndToEnd, ADeviceThatDropsRequestsStillDeliversThroughResends) {
  StartBuilding({"--drop-every", "3"});
  // Texts beyond ASCII that every ANSI code page of the Windows build has.
  HostRun r = Host({"--bind", "127.0.0.1:0", "--device-properties", "off", "--poll", "127.0.0.2:" + kPort,
                    "--instance", "1001", "--caption", "Zuluft Caf\xC3\xA9", "--items",
                    "AI:1=Zuluft\xC2\xB0" "C,AI:2,BI:1", "--interval", "100ms", "--timeout", "200ms",
                    "--records", "4"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.records.size(), 4u);
  for (const Record& rec : r.records) {
    EXPECT_EQ(rec.Names().size(), kStandard.size() + 3);
    EXPECT_NE(rec.Find("Zuluft\xC2\xB0" "C"), nullptr);
    EXPECT_EQ(rec.Text("REQUEST_DESC"), "Zuluft Caf\xC3\xA9");
  }
  EXPECT_GT(r.summary["frames-sent"], r.summary["frames-received"]) << "some were resent";
  EXPECT_EQ(r.summary["timeouts"], 0) << "a resend was always answered";
  EXPECT_GE(SimLines("drop").size(), 1u);
}

TEST_F(EndToEnd, ASilentDeviceGivesOneWarningPerGiveUpAndNoRecord) {
  StartBuilding();
  // Unanswered property reads are the item's tries too.
  for (const char* properties : {"off", "on"}) {
  SCOPED_TRACE(std::string("device properties ") + properties);
  HostRun r = Host({"--bind", "127.0.0.1:0", "--device-properties", properties, "--poll", "127.0.0.99:" + kPort,
                    "--instance", "9", "--items", "AI:1", "--interval", "100ms", "--timeout", "150ms",
                    "--duration", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.records.empty());
  const long warnings = Count(r.log, "Request timeout: Request #1 (127.0.0.99:" + kPort + ")");
  EXPECT_GE(warnings, 3);
  // Each with its diagnosis: nothing else is logged.
  EXPECT_EQ(Count(r.log, "3 tries, 150 ms apart, no answer from device 9 at 127.0.0.99:" + kPort +
                             "; no answer since the configuration was loaded"),
            warnings);
  EXPECT_EQ(2 * warnings, static_cast<long>(r.log.size()));
  EXPECT_EQ(r.summary["timeouts"], warnings);
  // The lines were fetched because message 1809 reached the host's target.
  EXPECT_GE(r.summary["log-messages"], 1);
  // Three sends per give-up; the last round may be cut short by the end.
  EXPECT_GE(r.summary["frames-sent"], 3 * warnings);
  EXPECT_LE(r.summary["frames-sent"], 3 * warnings + 3);
  }
}

// A logger on another subnet (127.0.1.x) registers with the building's
// broadcast manager, finds every device through it and polls them; the
// registration is renewed, survives a restart of the manager, and is
// deleted at the end.
TEST_F(EndToEnd, ALoggerOnAnotherSubnetFindsAndPollsEveryDeviceThroughTheBroadcastManager) {
  if (HostCommand().front() != BACHOST_EXE) GTEST_SKIP() << "needs the logger's outputs while it runs";
  StartBuilding();
  StartLiveHost({"--bind", "127.0.1.9:0", "--bbmd", "127.0.0.20:" + kPort, "--ttl", "2", "--device-properties",
                 "off", "--poll", "127.0.255.255:" + kPort, "--instance", "*", "--items", "AI:1", "--interval", "200ms",
                 "--status"});
  const std::set<long> all = {1001, 1002, 2001, 2002, 2003, 3001};
  auto devices = [&](const std::string& out) {
    std::set<long> seen;
    for (const Record& rec : ParseRecords(out)) seen.insert(static_cast<long>(rec.Number("DEV_ID")));
    return seen;
  };
  auto registrations = [&] { return Count(Lines(sim_->Out()), "register-foreign-device from=127.0.1.9:" + livePort_ + " -> result 0x0000 ttl=2"); };
  ASSERT_TRUE(live_->WaitFor([&](const std::string& out, const std::string&) { return devices(out) == all; }, 30s))
      << live_->Err() << sim_->Out();
  // The Who-Is went to the manager (one pattern covers both subnets), never
  // to a broadcast address itself.
  EXPECT_GE(Count(Lines(sim_->Out()), "whois 127.0.0.20:" + kPort + " from=127.0.1.9:" + livePort_), 1) << sim_->Out();
  EXPECT_EQ(Count(Lines(sim_->Out()), "whois 127.0.0.255:" + kPort), 0) << sim_->Out();
  // Renewed at half the time to live.
  ASSERT_TRUE(live_->WaitFor([&](const std::string&, const std::string&) { return registrations() >= 3; }, 20s))
      << sim_->Out();
  // The manager restarts with an empty table: the next renewal registers again.
  sim_->Stop(SIGTERM, 10s);
  StartBuilding();
  ASSERT_TRUE(live_->WaitFor([&](const std::string&, const std::string&) { return registrations() >= 1; }, 20s))
      << live_->Err() << sim_->Out();
  const size_t before = LiveRecords();
  ASSERT_TRUE(live_->WaitFor([&](const std::string& out, const std::string&) {
    return ParseRecords(out).size() >= before + all.size(); }, 20s)) << live_->Err();
  HostRun r = StopLiveHost();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(Lines(sim_->Out()), "delete-fdt-entry from=127.0.1.9:" + livePort_ + " -> result 0x0000"), 1)
      << sim_->Out();
  // --status: one line per device asked, with its figures.
  EXPECT_EQ(Count(Lines(r.err), "bachost: status source=1 device="), 6) << r.err;
}

// A technician's first run on a site: the devices at a broadcast address
// as a table, and a configuration of them that --config takes.
TEST_F(EndToEnd, DiscoveryPrintsTheDevicesFoundAndWritesTheirConfiguration) {
  if (HostCommand().front() != BACHOST_EXE) GTEST_SKIP() << "reads the table from the logger's output";
  StartBuilding();
  const std::string xml = std::string(TEMP_DIR) + "/e2e-discovered-" + std::to_string(getpid()) + ".xml";
  ChildProcess host({BACHOST_EXE, "--bind", "127.0.0.1:0", "--discover", "127.0.0.255:" + kPort, "--duration", "8",
                     "--write-config", xml});
  ASSERT_EQ(host.Wait(30s), 0) << host.Err();
  const std::vector<std::string> table = Lines(host.Out());
  ASSERT_FALSE(table.empty());
  EXPECT_EQ(table[0].rfind("instance  address", 0), 0u) << host.Out();
  auto row = [&](const std::string& start) {
    for (const std::string& l : table)
      if (l.rfind(start, 0) == 0) return l;
    return std::string();
  };
  EXPECT_NE(row("1001 ").find("AHU-1"), std::string::npos) << host.Out();
  EXPECT_NE(row("1001 ").find("AHU controller"), std::string::npos) << host.Out();
  EXPECT_NE(row("2002 ").find("network 5 station 00:2a"), std::string::npos) << host.Out();
  EXPECT_NE(row("1002 ").find("127.0.0.3:" + kPort), std::string::npos) << host.Out();
  // The written configuration loads; its requests have no items yet.
  HostRun r = Host({"--bind", "127.0.0.1:0", "--config", xml, "--duration", "0.5"});
  std::remove(xml.c_str());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.records.empty());
}

TEST_F(EndToEnd, ARefusingOrSilentBroadcastManagerIsNamedInAWarning) {
  StartBuilding({"--bbmd-nak"});
  struct Case {
    std::string manager;
    std::string warning;
  };
  for (const Case& c : {Case{"127.0.0.20:" + kPort, "refused the foreign-device registration (result 0x0030); next try in 30 s"},
                        Case{"127.0.0.77:" + kPort, "did not answer the foreign-device registration; next try in 30 s"}}) {
    HostRun r = Host({"--bind", "127.0.1.9:0", "--bbmd", c.manager, "--device-properties", "off", "--poll",
                      "127.0.0.2:" + kPort, "--instance", "1001", "--items", "AI:1", "--interval", "200ms",
                      "--duration", "4"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Count(r.log, "log[1] Bacnet/IP. Broadcast manager " + c.manager + " " + c.warning), 1) << r.err;
    EXPECT_GE(r.records.size(), 3u) << "unicast polling goes on";
  }
}

TEST_F(EndToEnd, DevicePropertiesAreReadOnceAndRideOnEveryRecord) {
  StartBuilding();
  HostRun r = Host({"--bind", "127.0.0.1:0", "--poll", "127.0.0.2:" + kPort, "--instance", "1001", "--items",
                    "AI:1", "--interval", "100ms", "--records", "5"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.records.size(), 5u);
  for (const Record& rec : r.records) {
    EXPECT_EQ(rec.Text("DEV_OBJECT_NAME"), "AHU-1");
    EXPECT_EQ(rec.Text("DEV_MODEL_NAME"), "AHU controller");
    EXPECT_EQ(rec.Number("DEV_OBJECT_IDENTIFIER"), (8 << 22) | 1001);
    EXPECT_EQ(rec.Number("DEV_VENDOR_IDENTIFIER"), 999);
    EXPECT_EQ(rec.Text("DEV_APPLICATION_SOFTWARE_VERSION"), "2.4.1");
    EXPECT_EQ(rec.Text("DEV_FIRMWARE_REVISION"), "7.0");
    EXPECT_EQ(rec.Text("DEV_DESCRIPTION"), "Air handling unit, roof");
    EXPECT_EQ(rec.Names().size(), kStandard.size() + 1 + 8);
  }
  for (const char* p : {"object-name", "model-name", "object-identifier", "vendor-name", "vendor-identifier",
                        "application-software-version", "firmware-revision", "description"})
    EXPECT_EQ(SimLines(std::string("DEV:1001 ") + p + " ").size(), 1u) << p;
  // Everything the logger sent reached the device, and nothing after its
  // UNLOAD: the simulator saw exactly the frames the summary counts.
  const long sent = r.summary["frames-sent"];
  sim_->WaitFor(
      [&](const std::string& out, const std::string&) {
        long seen = 0;
        for (size_t at = out.find("dev=1001"); at != std::string::npos; at = out.find("dev=1001", at + 1)) ++seen;
        return seen >= sent;
      },
      5s);
  EXPECT_EQ(static_cast<long>(SimLines("dev=1001").size()), r.summary["frames-sent"]);
}

TEST_F(EndToEnd, TwoDataSourcesPollIndependently) {
  StartBuilding();
  HostRun r = Host({"--source", "1:A@127.0.0.1:0", "--source", "2:B@127.0.0.1:0", "--device-properties", "off",
                    "--poll", "127.0.0.2:" + kPort, "--instance", "1001", "--items", "AI:1", "--poll",
                    "127.0.0.3:" + kPort, "--instance", "1002", "--items", "BI:1", "--interval", "100ms",
                    "--records", "12"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::map<int, std::set<double>> devicesBySource;
  for (const Record& rec : r.records) devicesBySource[rec.source].insert(rec.Number("DEV_ID"));
  EXPECT_EQ(devicesBySource[1], (std::set<double>{1001, 1002}));
  EXPECT_EQ(devicesBySource[2], (std::set<double>{1001, 1002}));
  // Each source sends from its own socket.
  std::set<std::string> senders;
  static const std::regex from("from=(127\\.0\\.0\\.1:[0-9]+)");
  for (const std::string& l : SimLines("from=")) {
    std::smatch m;
    if (std::regex_search(l, m, from)) senders.insert(m[1]);
  }
  EXPECT_EQ(senders.size(), 2u);
}

// The fast pace's requests: one read of AI:0 and AV:0 of each of n
// generated devices (instances 100000 and on at 127.0.2.1 and on).
std::vector<std::string> FastPaceReads(int devices, const std::string& timeout) {
  std::vector<std::string> args = {"--bind", "127.0.0.1:0", "--pace", "fast", "--once", "--timeout", timeout,
                                   "--items", "AI:0,AV:0"};
  for (int d = 0; d < devices; ++d) {
    args.insert(args.end(), {"--poll", "127.0.2." + std::to_string(d + 1) + ":" + kFastPort, "--instance",
                             std::to_string(100000 + d)});
  }
  return args;
}

TEST_F(EndToEnd, FastPaceAgainstAHundredDevicesThatDropEveryThirdRequest) {
  sim_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      BACSIM_EXE, "--devices", "100", "--first-address", "127.0.2.1", "--port", kFastPort, "--broadcast", "none",
      "--drop-every", "3", "--quiet", "--max-seconds", "120"});
  ASSERT_TRUE(sim_->WaitForOutLine("ready", 20s)) << sim_->Out() << sim_->Err();
  std::vector<std::string> args = FastPaceReads(100, "150ms");
  // The device's basic properties ride on every record: a value taken
  // from another device would show under a name that is not its own.
  args.insert(args.end(), {"--device-properties", "on", "--records", "100", "--duration", "60"});
  HostRun r = Host(args);
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.records.size(), 100u) << r.err;
  std::set<double> devices;
  for (const Record& rec : r.records) {
    const double id = rec.Number("DEV_ID");
    EXPECT_TRUE(devices.insert(id).second) << "a second record of " << id;
    const int n = static_cast<int>(id) - 100000;
    EXPECT_EQ(rec.Text("REMOTE_ADDRESS"), "127.0.2." + std::to_string(n + 1) + ":" + kFastPort);
    EXPECT_EQ(rec.Number("DEV_OBJECT_IDENTIFIER"), (8 << 22) | static_cast<int>(id));
    EXPECT_NE(rec.Find("AI_0"), nullptr);
    EXPECT_NE(rec.Find("AV_0"), nullptr);
  }
  EXPECT_EQ(r.summary["timeouts"], 0) << "every request answered after its resends";
  EXPECT_GT(r.summary["frames-sent"], 1000) << "resends went out";
}

TEST_F(EndToEnd, FastPaceAgainstSlowDevicesThatServeOneRequestAtATime) {
  sim_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      BACSIM_EXE, "--devices", "20", "--first-address", "127.0.2.1", "--port", kFastPort, "--broadcast", "none",
      "--delay", "20", "--max-concurrent", "1", "--max-seconds", "120"});
  ASSERT_TRUE(sim_->WaitForOutLine("ready", 20s)) << sim_->Out() << sim_->Err();
  std::vector<std::string> args = FastPaceReads(20, "1s");
  args.insert(args.end(), {"--device-properties", "off", "--records", "20", "--duration", "60"});
  HostRun r = Host(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.records.size(), 20u);
  EXPECT_TRUE(r.log.empty()) << "no Abort of a busy device: " << r.log.front();
  EXPECT_EQ(r.summary["frames-sent"], 40) << "nothing resent";
  // The devices were asked side by side, each one request at a time.
  EXPECT_TRUE(SimLines("abort").empty());
}

// ReadPropertyMultiple at both paces: a device with a small maximum APDU
// (learned from its I-Am) gets its group in several requests, one without
// the service is read with ReadProperty after one line saying so.
TEST_F(EndToEnd, ReadPropertyMultipleSplitForASmallDeviceBesideADeviceWithoutIt) {
  std::string small, without;
  for (int i = 1; i <= 12; ++i) small += std::string(i > 1 ? "," : "") + R"({"type": "AV", "instance": )" + std::to_string(i) + "}";
  StartOwnBuilding(R"({"devices": [{"instance": 4001, "address": "127.0.0.2", "max_apdu": 128, "objects": [)" + small +
                   R"(]}, {"instance": 4002, "address": "127.0.0.3", "read_property_multiple": false,
                   "objects": [{"type": "AV", "instance": 1}, {"type": "AV", "instance": 2}]}]})");
  std::string items;
  for (int i = 1; i <= 12; ++i) items += "AV:" + std::to_string(i) + ",";
  for (const char* pace : {"designed", "fast"}) {
    SCOPED_TRACE(pace);
    const size_t before = Lines(sim_->Out()).size();
    HostRun r = Host({"--bind", "127.0.0.1:0", "--device-properties", "off", "--rpm", "on", "--pace", pace,
                      "--poll", "127.0.0.2:" + kPort, "--instance", "*", "--caption", "Small", "--items", items + "AV:99",
                      "--poll", "127.0.0.3:" + kPort, "--instance", "4002", "--caption", "Without", "--items",
                      "AV:1,AV:2", "--interval", "200ms", "--records", "6"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.records.size(), 6u);
    std::map<double, int> byDevice;
    for (const Record& rec : r.records) {
      const double id = rec.Number("DEV_ID");
      ++byDevice[id];
      std::vector<std::string> expected = kStandard;
      for (int i = 1; i <= (id == 4001 ? 12 : 2); ++i) expected.push_back("AV_" + std::to_string(i));
      EXPECT_EQ(rec.Names(), expected) << "every value, in the group's order, AV:99 unknown";
    }
    EXPECT_GE(byDevice[4001], 1);
    EXPECT_GE(byDevice[4002], 1);
    EXPECT_EQ(Count(r.log, "Device 4002 at 127.0.0.3:" + kPort + " does not serve ReadPropertyMultiple [Communication, Reject Unrecognized Service]"), 1)
        << ::testing::PrintToString(r.log);
    EXPECT_GE(Count(r.log, "Error response [Object, Unknown Object]"), 1);
    EXPECT_EQ(r.summary["timeouts"], 0);
    // 13 items at a maximum APDU of 128: requests of 5, 5 and 3.
    std::map<std::string, int> requests;
    const std::vector<std::string> lines = Lines(sim_->Out());
    for (size_t i = before; i < lines.size(); ++i) {
      const std::string& l = lines[i];
      if (l.rfind("rpm 127.0.0.2 ", 0) == 0) ++requests[l.substr(l.find("objects="), 10)];
      if (l.rfind("rpm 127.0.0.3 ", 0) == 0 || (l.rfind("svc 127.0.0.3 ", 0) == 0 && l.find("service=14") != std::string::npos))
        ++requests["refused"];
      if (l.rfind("rp 127.0.0.3 ", 0) == 0) ++requests["single"];
    }
    EXPECT_GE(requests["objects=5 "], 2);
    EXPECT_GE(requests["objects=3 "], 1);
    EXPECT_EQ(requests.size(), 4u) << "no request of other sizes";
    EXPECT_EQ(requests["refused"], 1) << "asked once";
    EXPECT_GE(requests["single"], 2);
  }
}

TEST_F(EndToEnd, DevicesFoundByWhoIsBehindARouterAndThroughABroadcastManager) {
  StartBuilding();
  const std::string xml = std::string(TEMP_DIR) + "/e2e-discovery-" + std::to_string(getpid()) + ".xml";
  {
    FILE* f = std::fopen(xml.c_str(), "w");
    ASSERT_NE(f, nullptr);
    auto request = [&](const char* caption, const std::string& ep, const char* instances) {
      std::fprintf(f,
                   "<Request caption=\"%s\"><Enabled>1</Enabled><EP>%s</EP><Instance>%s</Instance>"
                   "<Timeout>500</Timeout><MethodPoll>1</MethodPoll><PollInterval>300</PollInterval>"
                   "<Response><Item><Name>TEMP</Name><DataType>D00</DataType><Instance>1</Instance></Item>"
                   "</Response></Request>",
                   caption, ep.c_str(), instances);
    };
    std::fprintf(f, "<MODBUSRTUQUERY>");
    request("Subnet", "127.0.0.255:" + kPort, "*");
    request("Relayed", "127.0.1.5:" + kPort, "*");
    std::fprintf(f, "</MODBUSRTUQUERY>");
    std::fclose(f);
  }
  HostRun r = Host({"--bind", "127.0.0.1:0", "--device-properties", "off", "--config", xml, "--duration", "4"});
  std::remove(xml.c_str());
  ASSERT_EQ(r.status, 0) << r.err;
  std::map<double, std::string> whereIs;
  for (const Record& rec : r.records) whereIs[rec.Number("DEV_ID")] = rec.Text("REMOTE_ADDRESS");
  // Local devices, the three on network 5 behind the router, and the one on
  // another subnet whose I-Am the broadcast manager relayed.
  EXPECT_EQ(whereIs[1001], "127.0.0.2:" + kPort);
  EXPECT_EQ(whereIs[1002], "127.0.0.3:" + kPort);
  for (double routed : {2001.0, 2002.0, 2003.0}) EXPECT_EQ(whereIs[routed], "127.0.0.10:" + kPort) << routed;
  EXPECT_EQ(whereIs[3001], "127.0.1.5:" + kPort);
  // The router passed the requests on to each station, the six-octet one
  // addressed whole.
  EXPECT_GE(SimLines("127.0.0.10/5:0c dev=2001 AI:1").size(), 1u);
  EXPECT_GE(SimLines("127.0.0.10/5:002a dev=2002 AI:1").size(), 1u);
  EXPECT_GE(SimLines("127.0.0.10/5:7f000009bac0 dev=2003 AI:1").size(), 1u);
}

TEST_F(EndToEnd, BroadcastDiscoveryOfOneDeviceReachesADeviceThatDropsUnicastAtItsBroadcastSocket) {
  StartBuilding();  // bacsim's broadcast socket is strict by default
  HostRun r = Host({"--bind", "127.0.0.1:0", "--device-properties", "off", "--poll", "127.0.0.255:" + kPort,
                    "--instance", "1002", "--items", "AI:1", "--interval", "100ms", "--records", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.records.size(), 2u);
  EXPECT_EQ(r.records[0].Number("DEV_ID"), 1002);
  EXPECT_EQ(r.records[0].Text("REMOTE_ADDRESS"), "127.0.0.3:" + kPort);
  // One Who-Is for that device only: one I-Am, not one from every device.
  EXPECT_NE(sim_->Out().find("range=1002-1002 matched=1"), std::string::npos) << sim_->Out();
}

TEST_F(EndToEnd, ADeviceWithoutDescriptionGivesACompleteFirstRecord) {
  StartOwnBuilding(R"({"devices": [{"instance": 4001, "address": "127.0.0.2", "optional_properties": false,
    "objects": [{"type": "AV", "instance": 1}, {"type": "AV", "instance": 2}, {"type": "BI", "instance": 1},
                {"type": "AI", "instance": 1}, {"type": "BV", "instance": 1}]}]})");
  HostRun r = Host({"--bind", "127.0.0.1:0", "--poll", "127.0.0.2:" + kPort, "--instance", "4001", "--items",
                    "AV:2,BI:1,AV:1,AI:1,BV:1", "--interval", "10s", "--records", "1"}, 30s);
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.records.size(), 1u);
  const Record& first = r.records[0];
  for (const char* n : {"AV_2", "BI_1", "AV_1", "AI_1", "BV_1", "DEV_OBJECT_NAME", "DEV_FIRMWARE_REVISION"})
    EXPECT_NE(first.Find(n), nullptr) << n;
  EXPECT_EQ(first.Find("DEV_DESCRIPTION"), nullptr);
  EXPECT_EQ(Count(r.log, "Error response [Property, Unknown Property]"), 1) << "asked once";
}

TEST_F(EndToEnd, AWrongDeviceInstanceAndAnUnreadableTypeAreNamedOnce) {
  StartBuilding();
  const std::string xml = TempFile("named.xml",
      "<MODBUSRTUQUERY><Request caption=\"Wrong\"><Enabled>1</Enabled><EP>127.0.0.2:" + kPort +
      "</EP><Instance>999</Instance><Timeout>500</Timeout><MethodPoll>1</MethodPoll><PollInterval>100</PollInterval>"
      "<Response><Item><Name>TEMP</Name><DataType>D00</DataType><Instance>1</Instance></Item>"
      "<Item><Name>ODD</Name><DataType>D27</DataType><Instance>1</Instance></Item></Response></Request>"
      "</MODBUSRTUQUERY>");
  HostRun r = Host({"--bind", "127.0.0.1:0", "--config", xml, "--records", "3"});
  std::remove(xml.c_str());
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.records.size(), 3u);
  for (const Record& rec : r.records) {
    EXPECT_EQ(rec.Number("DEV_ID"), 999) << "values keep flowing as configured";
    EXPECT_NE(rec.Find("TEMP"), nullptr);
  }
  EXPECT_EQ(Count(r.log, "No device 999 at 127.0.0.2:" + kPort + ": the device at that address has another instance"), 1);
  EXPECT_EQ(Count(r.log, "Error response"), 0);
  EXPECT_EQ(Count(r.log, "Request item left out: Wrong, item \"ODD\", type D27 (the module does not read this object type)"),
            1);
}

TEST_F(EndToEnd, FreshOnlyRecordsAfterAnOutageCarryNoValueFromBeforeIt) {
  StartBuilding();
  std::vector<std::string> args = HostCommand();
  const std::vector<std::string> options = {"--bind", "127.0.0.1:0", "--device-properties", "off", "--fresh-only",
                                            "--poll", "127.0.0.2:" + kPort, "--instance", "1001", "--items",
                                            "AI:1", "--interval", "100ms", "--timeout", "100ms"};
  args.insert(args.end(), options.begin(), options.end());
  if (args.front() != BACHOST_EXE) GTEST_SKIP() << "needs the logger's outputs while it runs";
  ChildProcess host(args);
  auto records = [](const std::string& out) { return static_cast<long>(ParseRecords(out).size()); };
  ASSERT_TRUE(host.WaitFor([&](const std::string& out, const std::string&) { return records(out) >= 2; }, 20s))
      << host.Err();
  // The device goes away until the logger has given it up, then comes back.
  sim_->Stop(SIGTERM, 10s);
  ASSERT_TRUE(host.WaitFor([](const std::string&, const std::string& err) {
    return err.find("Request timeout") != std::string::npos; }, 20s)) << host.Err();
  const long before = records(host.Out());
  StartBuilding();
  ASSERT_TRUE(host.WaitFor([&](const std::string& out, const std::string&) { return records(out) >= before + 2; }, 20s))
      << host.Err();
  host.Stop(SIGTERM, 20s);
  for (const Record& rec : ParseRecords(host.Out())) {
    EXPECT_EQ(rec.via, "output") << "a group that timed out leaves no record of the value from before";
    EXPECT_NE(rec.Find("AI_1"), nullptr);
  }
}

// Log on change: device 1001 toggles BI:1 every second, device 1002 refuses
// subscriptions (or, by case, 1001 sends confirmed notifications, or drops
// every third one while the safety net reads every second).
std::string CovBuilding(const std::string& knobs) {
  return R"({"devices": [
    {"instance": 1001, "address": "127.0.0.2", "name": "AHU-1")" + knobs + R"(,
     "objects": [{"type": "BI", "instance": 1, "value": 0, "period": 1},
                 {"type": "AV", "instance": 1, "value": 21.5, "fixed": true}]},
    {"instance": 1002, "address": "127.0.0.3", "name": "Boiler-1", "cov_refuse": true,
     "objects": [{"type": "AI", "instance": 1, "value": 60.0, "amplitude": 5.0, "period": 60}]}]})";
}

std::string CovConfig(const std::string& port, const std::string& safetyNet) {
  std::string xml = "<MODBUSRTUQUERY>";
  const char* devices[][2] = {{"127.0.0.2", "1001"}, {"127.0.0.3", "1002"}};
  for (const auto& d : devices) {
    xml += std::string("<Request caption=\"") + d[1] + "\"><Enabled>1</Enabled><EP>" + d[0] + ":" + port +
           "</EP><Instance>" + d[1] + "</Instance><Timeout>300</Timeout><LogOnChange>1</LogOnChange>" +
           "<SafetyNetPoll>" + safetyNet + "</SafetyNetPoll><RequestMethod><MethodPoll>1</MethodPoll>" +
           "<PollInterval>1</PollInterval><PollUnits>S</PollUnits></RequestMethod><Response>";
    xml += std::string(d[1]) == "1001"
               ? "<Item><Name>BI_1</Name><DataType>D03</DataType><Instance>1</Instance></Item>"
                 "<Item><Name>AV_1</Name><DataType>D02</DataType><Instance>1</Instance></Item>"
               : "<Item><Name>AI_1</Name><DataType>D00</DataType><Instance>1</Instance></Item>";
    xml += "</Response></Request>";
  }
  return xml + "</MODBUSRTUQUERY>";
}

TEST_F(EndToEnd, LogOnChangeCatchesEveryChangeAsARecordAndPollsTheDeviceThatRefuses) {
  struct Case {
    const char* what;
    std::string knobs;
    std::string safetyNet;  // seconds; 0: the default (60 s here)
  };
  const Case cases[] = {{"unconfirmed", "", "0"},
                        {"confirmed", R"(, "cov_confirmed": true)", "0"},
                        {"every third notification dropped", R"(, "cov_drop_every": 3)", "1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StartOwnBuilding(CovBuilding(c.knobs));
    const std::string config = TempFile("cov.xml", CovConfig(kPort, c.safetyNet));
    HostRun r = Host({"--bind", "127.0.0.1:0", "--device-properties", "off", "--config", config, "--records", "12"});
    std::remove(config.c_str());
    ASSERT_EQ(r.status, 0) << r.err;
    // The logger cancels its subscriptions on the way out.
    EXPECT_TRUE(sim_->WaitFor([](const std::string& out, const std::string&) {
      return out.find("cancel BI:1") != std::string::npos && out.find("cancel AV:1") != std::string::npos;
    }, 10s)) << sim_->Out();
    std::vector<const Record*> changes, polled, net;
    for (const Record& rec : r.records) {
      const double dev = rec.Number("DEV_ID");
      if (dev == 1001 && rec.via == "kind9") changes.push_back(&rec);
      else if (dev == 1001) net.push_back(&rec);
      else if (dev == 1002) polled.push_back(&rec);
      else ADD_FAILURE() << "record of no device: " << dev;
    }
    EXPECT_GE(polled.size(), 2u) << "the refusing device is polled";
    for (const Record* rec : polled) EXPECT_EQ(rec->via, "output");
    EXPECT_EQ(Count(r.log, "No log on change with device 1002 at 127.0.0.3:" + kPort +
                               " (Services, Cov Subscription Failed)"), 1);
    EXPECT_EQ(Count(r.log, "1001"), 0) << "the subscribed device is not named";
    ASSERT_GE(changes.size() + net.size(), 3u);
    if (c.safetyNet == "0") {
      EXPECT_TRUE(net.empty()) << "no read within the safety net's 60 s";
      // The first notification of each subscription carries its value; from
      // then on every record of the subscribed device is a change of BI:1,
      // with the fixed AV:1 beside it.
      size_t first = 0;
      while (first < changes.size() && !changes[first]->Find("AV_1")) ++first;
      ASSERT_LE(first, 1u) << "AV:1 arrives with its subscription";
      ASSERT_GE(changes.size() - first, 3u);
      for (size_t i = first + 1; i < changes.size(); ++i)
        EXPECT_NE(changes[i]->Number("BI_1"), changes[i - 1]->Number("BI_1")) << i;
      for (size_t i = first; i < changes.size(); ++i) EXPECT_DOUBLE_EQ(changes[i]->Number("AV_1"), 21.5);
    } else {
      EXPECT_GE(net.size(), 2u) << "the safety net reads what the lost notifications left out";
    }
    EXPECT_NE(sim_->Out().find("subscribed BI:1 process="), std::string::npos);
    if (c.knobs.find("confirmed") != std::string::npos) {
      EXPECT_NE(sim_->Out().find("cov-ack dev=1001"), std::string::npos) << "our Simple-ACK reached the device";
      EXPECT_EQ(sim_->Out().find("cov-unacked"), std::string::npos);
    }
    sim_->Stop(SIGTERM, 10s);
    sim_.reset();
  }
}

// The flood of I-Ams comes as fast as the logger takes it in, so that the
// socket loses none (the sanitized build handles a few thousand a second).
#if defined(__SANITIZE_ADDRESS__)
const char kFloodRate[] = "6000";
#else
const char kFloodRate[] = "50000";
#endif

// Milliseconds of the day of a record's time stamp ("...THH:MM:SS.mmm").
long StampMs(const Record& rec) {
  const std::string t = rec.Text("DATE_TIME_STAMP");
  const size_t at = t.find('T');
  if (at == std::string::npos || t.size() < at + 13) return -1;
  return ((std::stol(t.substr(at + 1, 2)) * 60 + std::stol(t.substr(at + 4, 2))) * 60 + std::stol(t.substr(at + 7, 2))) *
             1000 +
         std::stol(t.substr(at + 10, 3));
}

// A hundred thousand I-Ams of ever new devices, from 250 addresses and from
// stations behind a router, arrive while a configured device is polled:
// nothing asks for those devices, so they are dropped as they come, and the
// device is polled at its interval throughout.
TEST_F(EndToEnd, AnIAmFloodLeavesTheConfiguredDevicePolledAtItsInterval) {
  if (HostCommand().front() != BACHOST_EXE) GTEST_SKIP() << "needs the logger's outputs while it runs";
  StartBuilding();
  constexpr long kInterval = 250;
  StartLiveHost({"--bind", "127.0.0.1:0", "--device-properties", "off", "--poll", "127.0.0.2:" + kPort, "--instance",
                 "1001", "--items", "AI:1", "--interval", std::to_string(kInterval) + "ms", "--duration", "300"});
  ASSERT_TRUE(live_->WaitFor([](const std::string& out, const std::string&) { return ParseRecords(out).size() >= 2; },
                             20s));
  ChildProcess flood({IAMFLOOD_EXE, "--to", "127.0.0.1:" + livePort_, "--count", "100000", "--sources", "250",
                      "--router", "127.1.255.1", "--rate", kFloodRate});
  ASSERT_EQ(flood.Wait(120s), 0) << flood.Err();
  const size_t during = LiveRecords();
  ASSERT_TRUE(live_->WaitFor([&](const std::string& out, const std::string&) {
    return ParseRecords(out).size() >= during + 4;
  }, 20s));
  HostRun r = StopLiveHost();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GE(r.summary["frames-received"], 100000) << "the whole flood reached the logger";
  EXPECT_EQ(r.summary["timeouts"], 0);
  EXPECT_TRUE(r.log.empty()) << r.log.front();
  long worst = 0;
  for (size_t i = 1; i < r.records.size(); ++i) {
    long gap = StampMs(r.records[i]) - StampMs(r.records[i - 1]);
    if (gap < 0) gap += 86400000;  // past midnight
    worst = std::max(worst, gap);
  }
  EXPECT_GE(r.records.size(), 8u);
  EXPECT_LE(worst, 2 * kInterval + 100) << "no cycle missed beyond one";
}

// A pattern "*" on the flooded network takes the announced devices in until
// the device table holds its 100,000, then refuses the rest with one warning.
// The flood goes on in rounds of new devices until the warning is seen, so a
// busy machine that makes the logger's socket lose frames only takes longer.
TEST_F(EndToEnd, APatternOnAFloodedNetworkGrowsToTheLimitWithOneWarning) {
  if (HostCommand().front() != BACHOST_EXE) GTEST_SKIP() << "needs the logger's outputs while it runs";
  StartLiveHost({"--bind", "127.0.0.1:0", "--device-properties", "off", "--poll", "127.1.255.255:" + kPort,
                 "--instance", "*", "--items", "AI:1", "--interval", "1h", "--timeout", "200ms", "--duration", "600"});
  const std::string warning = "Device table full (at most 100000 devices): further devices are not registered";
  auto warned = [&](const std::string&, const std::string& err) { return err.find(warning) != std::string::npos; };
  constexpr int kRound = 30000, kRounds = 8;
  int rounds = 0;
  while (rounds < kRounds && !warned("", live_->Err())) {
    ChildProcess flood({IAMFLOOD_EXE, "--to", "127.0.0.1:" + livePort_, "--count", std::to_string(kRound),
                        "--first-instance", std::to_string(1000000 + rounds * kRound), "--sources", "250",
                        "--router", "127.1.255.1", "--rate", kFloodRate});
    ASSERT_EQ(flood.Wait(120s), 0) << flood.Err();
    ++rounds;
  }
  EXPECT_TRUE(live_->WaitFor(warned, 60s)) << rounds << " rounds";
  HostRun r = StopLiveHost();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GE(r.summary["frames-received"], 100001);
  EXPECT_EQ(Count(r.log, warning), 1);
  EXPECT_EQ(Count(r.log, "log[0]"), 0) << "no error";
}

// Wireshark's dissector reads the whole conversation on the loopback
// interface, ours and the simulator's frames alike, without a malformed one.
TEST_F(EndToEnd, WiresharkFindsNoMalformedFrameInTheConversation) {
  const std::string tshark = "/usr/bin/tshark";
  if (access(tshark.c_str(), X_OK) != 0) GTEST_SKIP() << "tshark missing";
  const std::string pcap = std::string(TEMP_DIR) + "/e2e-capture-" + std::to_string(getpid()) + ".pcapng";
  ChildProcess capture({tshark, "-i", "lo", "-f", "udp port " + kPort, "-w", pcap, "-q"});
  if (!capture.WaitFor([](const std::string&, const std::string& err) { return err.find("Capturing on") != std::string::npos; },
                       20s))
    GTEST_SKIP() << "no capture on the loopback interface here (root needed): " << capture.Err();
  StartBuilding({"--error-every", "4"});
  HostRun r = Host({"--bind", "127.0.0.1:0", "--poll", "127.0.0.255:" + kPort, "--instance", "*", "--items",
                    "AI:1,BI:1,MSV:1,NC:1,AV:99", "--poll", "127.0.1.5:" + kPort, "--instance", "3001",
                    "--items", "AO:1", "--poll", "127.0.0.2:" + kPort, "--instance", "1001", "--items",
                    "BI:1,MSV:1", "--cov", "on", "--interval", "200ms", "--timeout", "300ms", "--duration", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  sim_->Stop(SIGTERM, 10s);
  // The capture writes what it has when it is asked to stop.
  capture.Stop(SIGINT, 20s);
  ChildProcess check({tshark, "-r", pcap, "-d", "udp.port==" + kPort + ",bvlc", "-T", "fields", "-e", "frame.number",
                      "-e", "bvlc.function", "-e", "bacapp.type", "-e", "_ws.malformed", "-e", "_ws.expert.severity",
                      "-e", "bacapp.confirmed_service", "-e", "bacapp.unconfirmed_service"});
  ASSERT_EQ(check.Wait(60s), 0) << check.Err();
  std::remove(pcap.c_str());
  long frames = 0, apdus = 0, forwarded = 0, subscriptions = 0, notifications = 0;
  for (const std::string& line : Lines(check.Out())) {
    if (line.empty()) continue;
    ++frames;
    std::vector<std::string> f;
    size_t at = 0;
    while (true) {
      const size_t tab = line.find('\t', at);
      f.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
      if (tab == std::string::npos) break;
      at = tab + 1;
    }
    f.resize(7);
    if (!f[2].empty()) ++apdus;
    if (f[5] == "5") ++subscriptions;  // SubscribeCOV (and its cancel) and the answers
    if (f[6] == "2") ++notifications;
    if (f[1] == "0x04") ++forwarded;
    EXPECT_TRUE(f[3].empty()) << "malformed: " << line;
  }
  EXPECT_GT(frames, 50);
  EXPECT_EQ(apdus, frames) << "every frame carries an application layer the dissector read";
  EXPECT_GT(forwarded, 0) << "the relayed device's answers were in the capture";
  EXPECT_GE(subscriptions, 4) << "two subscriptions and their acknowledgements at least";
  EXPECT_GE(notifications, 2);
}

TEST_F(EndToEnd, PollsADeviceOfAnIndependentStack) {
  const std::string script = std::string(INTEROP_DIR) + "/bacnet-interop.js";
  if (access((std::string(INTEROP_DIR) + "/node_modules/@bacnet-js/client").c_str(), F_OK) != 0)
    GTEST_SKIP() << "npm packages missing (npm ci --prefix tools/interop)";
  const std::string node = "/usr/bin/node";
  if (access(node.c_str(), X_OK) != 0) GTEST_SKIP() << "node missing";
  ChildProcess device({node, script, "device", "--address", "127.0.0.61", "--port", kInteropPort, "--instance", "4001",
                       "--max-seconds", "60"});
  ASSERT_TRUE(device.WaitForOutLine("ready", 20s)) << device.Out() << device.Err();
  // With ReadProperty, then with ReadPropertyMultiple (one request for the
  // three items, AI:9 a property error inside its ACK).
  for (const char* rpm : {"off", "on"}) {
    SCOPED_TRACE(rpm);
    const bool multiple = std::string(rpm) == "on";
    HostRun r = Host({"--bind", "127.0.0.1:0", "--rpm", rpm, "--poll", "127.0.0.61:" + kInteropPort, "--instance",
                      "4001", "--items", multiple ? "AI:1=ROOM,AV:1=SETPOINT,BI:1=FAN,AI:9=NONE" : "AI:1=ROOM,AV:1=SETPOINT,BI:1=FAN",
                      "--interval", "100ms", "--records", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.records.size(), 2u);
    const Record& rec = r.records.back();
    EXPECT_NEAR(rec.Number("ROOM"), 21.5, 1.01);
    EXPECT_NEAR(rec.Number("SETPOINT"), 21.0, 1e-6);
    EXPECT_NE(rec.Find("FAN"), nullptr);
    EXPECT_EQ(rec.Find("NONE"), nullptr);
    EXPECT_EQ(rec.Text("DEV_OBJECT_NAME"), "npm device 4001");
    EXPECT_EQ(rec.Number("DEV_VENDOR_IDENTIFIER"), 998);
    EXPECT_EQ(r.summary["error-answers"], multiple ? 2 : 0) << "AI:9's property error, in each ACK";
    if (multiple) {
      EXPECT_GE(Count(Lines(device.Out()), "rpm 127.0.0.61 dev=4001 objects=4 -> ack errors=1"), 2) << device.Out();
      EXPECT_EQ(Count(r.log, "Error response [Object, Unknown Object]"), 2);
      EXPECT_EQ(Count(r.log, "ReadPropertyMultiple"), 0) << "no way back needed";
    }
  }
  device.Stop(SIGTERM, 10s);
}

}  // namespace
}  // namespace e2e
