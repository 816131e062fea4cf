// ReadPropertyMultiple as the simulated devices answer it, the knobs that
// make a device unable or unwilling, and how files and the command line set
// them.
#include <gtest/gtest.h>

#include "cli.h"
#include "config.h"
#include "names.h"
#include "sim_building.h"

using namespace bacsim;
using namespace bacsim_test;

namespace {

std::string F(const std::string& payload) { return HexText(BuildBvll(bvlc::kOriginalUnicast, Hex(payload))); }
// A local confirmed request with invoke identifier 7, answers up to 1476 octets.
std::string Rpm(const std::string& list) { return F("01 04 00 05 07 0E " + list); }
std::string Single(const std::string& apdu) {
  Responder r(TestBuilding());
  const auto got = Ask(r, "127.0.0.2", Rpm(apdu));
  return got.size() == 1 ? got[0].hex : "answers: " + std::to_string(got.size());
}

TEST(SimReadMultiple, ValuesAndPropertyErrorsInTheRequestsOrder) {
  Building b = TestBuilding();
  b.devices[0].knobs.maxApdu = 480;
  Responder r(b);
  std::vector<std::string> log;
  // AI:1 present value and an unknown property, an unknown object, the
  // device's name and maximum APDU through the wildcard instance.
  const auto got = Ask(r, "127.0.0.2",
                       Rpm("0C 00 00 00 01 1E 09 55 09 C8 1F 0C 00 00 00 09 1E 09 55 1F 0C 02 3F FF FF 1E 09 4D 09 3E 1F"),
                       0, &log);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].hex, F("01 00 30 07 0E "
                          "0C 00 00 00 01 1E 29 55 4E 44 41 AC 00 00 4F 29 C8 5E 91 02 91 20 5F 1F "
                          "0C 00 00 00 09 1E 29 55 5E 91 01 91 1F 5F 1F "
                          "0C 02 00 03 E9 1E 29 4D 4E 75 09 00 44 65 76 2D 31 30 30 31 4F 29 3E 4E 22 01 E0 4F 1F"));
  EXPECT_EQ(log.at(0), "rpm 127.0.0.2 dev=1001 objects=3 properties=5 -> ack len=71 errors=2 id=7 from=127.0.0.1:40000");
  // The I-Am announces the same maximum.
  const auto iam = Ask(r, "127.0.0.2", F("01 00 10 08"));
  ASSERT_EQ(iam.size(), 1u);
  EXPECT_NE(iam[0].hex.find("C4 02 00 03 E9 22 01 E0 91 03"), std::string::npos) << iam[0].hex;

  // Requests that cannot be read are rejected with their reason.
  const struct {
    const char* name;
    const char* list;
    const char* reason;
  } bad[] = {
      {"no objects", "", "05"},
      {"no properties", "0C 00 00 00 01 1E 1F", "05"},
      {"list not closed", "0C 00 00 00 01 1E 09 55", "05"},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Single(c.list), F(std::string("01 00 60 07 ") + c.reason));
  }
}

TEST(SimReadMultiple, KnobsRejectAbortAndLimit) {
  const std::string two = "0C 00 00 00 01 1E 09 55 1F 0C 00 C0 00 01 1E 09 55 1F";  // ACK of 32 octets
  const std::string rpAi1 = F("01 04 00 05 07 0C 0C 00 00 00 01 19 55");                // ACK of 17
  const struct {
    const char* name;
    Knobs knobs;
    std::string request;
    std::string answer;  // APDU
  } rows[] = {
      {"served by default", Knobs{}, Rpm(two), ""},
      {"rejected when switched off", [] { Knobs k; k.readMultiple = false; return k; }(), Rpm(two), "60 07 09"},
      {"ReadProperty still served then", [] { Knobs k; k.readMultiple = false; return k; }(), rpAi1, ""},
      {"aborted when longer than the limit", [] { Knobs k; k.abortLongerThan = 31; return k; }(), Rpm(two), "71 07 04"},
      {"the limit holds for ReadProperty too", [] { Knobs k; k.abortLongerThan = 16; return k; }(), rpAi1, "71 07 04"},
      {"a small device aborts a long answer", [] { Knobs k; k.maxApdu = 50; return k; }(),
       Rpm(two + " " + two), "71 07 04"},
      {"and a request longer than it takes", [] { Knobs k; k.maxApdu = 50; return k; }(),
       Rpm(two + " " + two + " " + two), "71 07 01"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Building b = TestBuilding();
    b.devices[0].knobs = row.knobs;
    Responder r(b);
    const auto got = Ask(r, "127.0.0.2", row.request);
    ASSERT_EQ(got.size(), 1u);
    const std::vector<uint8_t> frame = Hex(got[0].hex);
    if (row.answer.empty()) {
      EXPECT_EQ(frame.at(6), 0x30) << got[0].hex;
    } else {
      EXPECT_EQ(got[0].hex, F("01 00 " + row.answer));
    }
  }
}

TEST(SimReadMultiple, FilesAndCommandLineSetTheKnobs) {
  Building b;
  std::string error;
  const std::string file = R"({"defaults": {"max_apdu": 206, "read_property_multiple": false},
    "devices": [{"instance": 1, "address": "127.0.0.2", "abort_longer_than": 100},
                {"instance": 2, "address": "127.0.0.3", "max_apdu": 1476, "read_property_multiple": true}]})";
  ASSERT_TRUE(ParseBuilding(file, ParseDefaults{}, b, error)) << error;
  EXPECT_EQ(b.devices[0].knobs.maxApdu, 206u);
  EXPECT_FALSE(b.devices[0].knobs.readMultiple);
  EXPECT_EQ(b.devices[0].knobs.abortLongerThan, 100u);
  EXPECT_EQ(b.devices[1].knobs.maxApdu, 1476u);
  EXPECT_TRUE(b.devices[1].knobs.readMultiple);
  EXPECT_FALSE(ParseBuilding(R"({"defaults": {"max_apdu": 1477}})", ParseDefaults{}, b, error));

  const char* argv[] = {"bacsim", "--max-apdu", "128", "--no-rpm", "--abort-longer-than", "300", "--devices", "2"};
  CliOptions cli;
  ASSERT_TRUE(ParseCommandLine(8, argv, cli, error)) << error;
  ASSERT_TRUE(MakeBuilding(cli, "", b, error)) << error;
  ASSERT_EQ(b.devices.size(), 2u);
  EXPECT_EQ(b.devices[1].knobs.maxApdu, 128u);
  EXPECT_FALSE(b.devices[1].knobs.readMultiple);
  EXPECT_EQ(b.devices[1].knobs.abortLongerThan, 300u);
}

}  // namespace
