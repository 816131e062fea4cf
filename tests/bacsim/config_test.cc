// Building files, generated buildings and the command line.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "cli.h"
#include "config.h"
#include "json.h"
#include "names.h"
#include "sim_building.h"

using namespace bacsim;
using bacsim_test::Ep;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream f(path);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool Parse(const std::string& text, Building& b, std::string& error) {
  return ParseBuilding(text, ParseDefaults{}, b, error) && Validate(b, false, error);
}

TEST(SimConfig, TheSampleBuildingHasEveryKindOfDevice) {
  Building b;
  std::string error;
  ASSERT_TRUE(Parse(ReadFile(BACSIM_EXAMPLES_DIR "/building.json"), b, error)) << error;
  ASSERT_EQ(b.devices.size(), 6u);
  EXPECT_EQ(b.broadcast, Ep("127.0.0.255"));
  const SimDevice& ahu = b.devices[0];
  EXPECT_EQ(ahu.name, "AHU-1");
  EXPECT_EQ(ahu.appVersion, "2.4.1");
  std::set<uint16_t> types;
  for (const auto& o : ahu.objects) types.insert(o.type);
  EXPECT_EQ(types.size(), 10u);  // the ten types the options form offers
  EXPECT_EQ(b.devices[1].knobs.delayMs, 50u);
  EXPECT_EQ(b.devices[1].objects.size(), 20u);  // defaults: instances 0 and 1 of each type
  std::set<size_t> macLengths;
  for (const auto& d : b.devices) {
    if (d.attachment == Attachment::kRouted) macLengths.insert(d.mac.size());
  }
  EXPECT_EQ(macLengths, (std::set<size_t>{1, 2, 6}));
  EXPECT_EQ(b.devices[5].attachment, Attachment::kRelayed);
  EXPECT_EQ(b.devices[5].via, Ep("127.0.0.20"));

  ParseDefaults cli;
  cli.port = 40001;
  cli.portGiven = true;
  cli.dropEvery = 9;
  ASSERT_TRUE(ParseBuilding(ReadFile(BACSIM_EXAMPLES_DIR "/building.json"), cli, b, error)) << error;
  EXPECT_EQ(b.devices[0].address, Ep("127.0.0.2:40001"));
  EXPECT_EQ(b.broadcast, Ep("127.0.0.255:40001"));
  EXPECT_EQ(b.devices[0].knobs.dropEvery, 9u);  // the command line's default
  EXPECT_EQ(b.devices[3].knobs.dropEvery, 5u);  // the device's own
}

TEST(SimConfig, MistakesAreReportedNotServed) {
  struct Case {
    const char* text;
    const char* message;  // part of the error
  } cases[] = {
      {"{\"devices\": [{\"instance\": 1, \"adress\": \"127.0.0.2\"}]}", "unknown member \"adress\""},
      {"{\"devices\": [{\"instance\": 1}]}", "address"},
      {"{\"devices\": [{\"address\": \"127.0.0.2\"}]}", "instance missing"},
      {"{\"devices\": [{\"instance\": 4194303, \"address\": \"127.0.0.2\"}]}", "instance"},
      {"{\"devices\": [{\"instance\": 1.5, \"address\": \"127.0.0.2\"}]}", "integer"},
      {"{\"devices\": [{\"instance\": 1, \"address\": \"127.0.0.2\"}, {\"instance\": 2, \"address\": \"127.0.0.2\"}]}",
       "used twice"},
      {"{\"devices\": [{\"instance\": 1, \"address\": \"127.0.0.2\"}, {\"instance\": 1, \"address\": \"127.0.0.3\"}]}",
       "instance used twice"},
      {"{\"devices\": [{\"instance\": 1, \"address\": \"192.0.2.2\"}]}", "not a loopback address"},
      {"{\"broadcast\": \"10.0.0.255\"}", "not a loopback address"},
      {"{\"devices\": [{\"instance\": 1, \"router\": \"127.0.0.10\", \"network\": 5}]}", "network and mac"},
      {"{\"devices\": [{\"instance\": 1, \"router\": \"127.0.0.10\", \"network\": 5, \"mac\": \"01:02:03:04:05:06:07\"}]}",
       "mac"},
      {"{\"devices\": [{\"instance\": 1, \"router\": \"127.0.0.10\", \"network\": 65535, \"mac\": \"01\"}]}", "network"},
      {"{\"devices\": [{\"instance\": 1, \"router\": \"127.0.0.10\", \"network\": 5, \"mac\": \"01\"},"
       " {\"instance\": 2, \"router\": \"127.0.0.11\", \"network\": 5, \"mac\": \"02\"}]}",
       "behind two routers"},
      {"{\"devices\": [{\"instance\": 1, \"address\": \"127.0.0.2\", \"bbmd\": \"127.0.0.2\"}]}", "shares an address"},
      {"{\"devices\": [{\"instance\": 1, \"address\": \"127.0.0.2\", \"objects\": [{\"type\": \"DEV\", \"instance\": 1}]}]}",
       "type must be"},
      {"{\"devices\": [{\"instance\": 1, \"address\": \"127.0.0.2\", \"objects\": [{\"type\": \"AI\", \"instance\": 1},"
       " {\"type\": 0, \"instance\": 1}]}]}",
       "used twice"},
      {"{\"devices\": [{\"instance\": 1, \"address\": \"127.0.0.2:99999\"}]}", "address"},
      {"{\"devices\": [}", "line 1"},
      {"{\"devices\": []}\n\n x", "line 3: text after"},
      {"{\"a\": \"\\ud800\"}", "surrogate"},
  };
  for (const auto& c : cases) {
    Building b;
    std::string error;
    EXPECT_FALSE(Parse(c.text, b, error)) << c.text;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.text << " gave: " << error;
  }
  // Nesting is bounded, so a hostile file cannot exhaust the stack.
  std::string deep(100000, '[');
  Json j;
  std::string error;
  EXPECT_FALSE(ParseJson(deep, j, error));
  EXPECT_NE(error.find("nested too deeply"), std::string::npos);
  // A non-loopback address passes when it is allowed explicitly.
  Building b;
  ASSERT_TRUE(ParseBuilding("{\"devices\": [{\"instance\": 1, \"address\": \"192.0.2.2\"}]}", {}, b, error));
  EXPECT_TRUE(Validate(b, true, error)) << error;
}

TEST(SimConfig, JsonTextsAndNumbers) {
  Json j;
  std::string error;
  ASSERT_TRUE(ParseJson("{\"s\": \"a\\u00e9\\ud83d\\ude00\\n\\\"\", \"n\": -1.5e2, \"t\": [true, false, null]}", j, error))
      << error;
  EXPECT_EQ(j.Find("s")->text, "a\xC3\xA9\xF0\x9F\x98\x80\n\"");
  EXPECT_EQ(j.Find("n")->number, -150);
  EXPECT_EQ(j.Find("t")->items.size(), 3u);
  for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "01x", "1e999", "\"\x01\"", "nul", "{\"a\":1,}", "-"}) {
    EXPECT_FALSE(ParseJson(bad, j, error)) << bad;
  }
}

TEST(SimConfig, GeneratedBuildingsSpreadOverASlash16) {
  Building b;
  b.devices.clear();
  GenerateSpec g;
  g.local = 1000;
  g.routed = 9;
  std::string error;
  ASSERT_TRUE(Generate(b, g, error)) << error;
  ASSERT_TRUE(Validate(b, false, error)) << error;
  EXPECT_EQ(b.broadcast, Ep("127.0.255.255"));
  std::set<uint32_t> addresses;
  for (const auto& d : b.devices) {
    if (d.attachment != Attachment::kLocal) continue;
    const uint32_t host = d.address.ip & 0xFF;
    EXPECT_NE(host, 0u);
    EXPECT_NE(host, 255u);
    EXPECT_EQ(d.address.ip >> 16, 0x7F00u);
    addresses.insert(d.address.ip);
  }
  EXPECT_EQ(addresses.size(), 1000u);
  std::vector<size_t> macLengths;
  for (const auto& d : b.devices) {
    if (d.attachment == Attachment::kRouted) macLengths.push_back(d.mac.size());
  }
  EXPECT_EQ(macLengths, (std::vector<size_t>{1, 2, 6, 1, 2, 6, 1, 2, 6}));
  // More routed devices than one-octet addresses: still unique.
  Building many;
  many.devices.clear();
  GenerateSpec r;
  r.routed = 5000;
  ASSERT_TRUE(Generate(many, r, error));
  EXPECT_TRUE(Validate(many, false, error)) << error;
  EXPECT_EQ(many.broadcast, Ep("127.0.0.255"));
  // A broadcast address the file names stays; one it leaves open follows the devices.
  Building file;
  ASSERT_TRUE(ParseBuilding("{\"broadcast\": \"127.0.0.255\", \"generate\": {\"devices\": 300}}", {}, file, error));
  EXPECT_EQ(file.broadcast, Ep("127.0.0.255"));
  ASSERT_TRUE(ParseBuilding("{\"generate\": {\"devices\": 300}}", {}, file, error));
  EXPECT_EQ(file.broadcast, Ep("127.0.255.255"));
  ASSERT_TRUE(ParseBuilding("{\"generate\": {\"devices\": 3, \"first_address\": \"127.0.0.20\"}}", {}, file, error));
  EXPECT_EQ(file.broadcast, Ep("127.0.0.255"));
}

TEST(SimCli, OptionsAndTheirErrors) {
  CliOptions o;
  std::string error;
  const char* good[] = {"bacsim", "--devices", "3", "--first-address", "127.0.3.1", "--port", "47809", "--drop-every",
                        "4", "--static", "--max-seconds", "1.5", "--iam-to", "broadcast", "--broadcast", "none",
                        "--max-concurrent", "2", "--busy", "drop"};
  ASSERT_TRUE(ParseCommandLine(20, good, o, error)) << error;
  Building b;
  ASSERT_TRUE(MakeBuilding(o, "", b, error)) << error;
  ASSERT_EQ(b.devices.size(), 3u);
  EXPECT_EQ(b.devices[0].address, Ep("127.0.3.1:47809"));
  EXPECT_EQ(b.devices[2].knobs.dropEvery, 4u);
  EXPECT_EQ(b.devices[2].knobs.maxConcurrent, 2u);
  EXPECT_TRUE(b.devices[2].knobs.busyDrop);
  EXPECT_FALSE(b.hasBroadcast);
  EXPECT_TRUE(o.server.staticValues);
  EXPECT_DOUBLE_EQ(o.server.maxSeconds, 1.5);
  EXPECT_TRUE(o.responder.iamBroadcast);

  const char* defaults[] = {"bacsim"};
  ASSERT_TRUE(ParseCommandLine(1, defaults, o, error));
  ASSERT_TRUE(MakeBuilding(o, "", b, error)) << error;
  EXPECT_EQ(b.devices.size(), 2u);
  EXPECT_EQ(b.devices[0].address, Ep("127.0.0.2"));

  const std::vector<std::vector<const char*>> bad = {
      {"bacsim", "--devices"},          {"bacsim", "--devices", "-1"},    {"bacsim", "--devices", "100001"},
      {"bacsim", "--port", "65536"},    {"bacsim", "--max-seconds", "x"}, {"bacsim", "--iam-to", "all"},
      {"bacsim", "--network", "0"},     {"bacsim", "--first-address", "127.0.0"}, {"bacsim", "--frobnicate"},
      {"bacsim", "--busy", "wait"},
  };
  for (const auto& args : bad) {
    EXPECT_FALSE(ParseCommandLine(static_cast<int>(args.size()), args.data(), o, error)) << args.back();
    EXPECT_FALSE(error.empty());
  }
  const char* outside[] = {"bacsim", "--devices", "1", "--first-address", "192.0.2.2"};
  ASSERT_TRUE(ParseCommandLine(5, outside, o, error));
  EXPECT_FALSE(MakeBuilding(o, "", b, error));
  EXPECT_NE(error.find("loopback"), std::string::npos);
}

}  // namespace
