// The simulated devices' change-of-value reporting: subscriptions with
// lifetimes and cancels, notifications on changes, confirmed ones resent
// until acknowledged, and the knobs that refuse or drop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "names.h"
#include "cli.h"
#include "config.h"
#include "sim_building.h"

using namespace bacsim;
using namespace bacsim_test;

namespace {

std::string F(const std::string& payload) { return HexText(BuildBvll(bvlc::kOriginalUnicast, Hex(payload))); }
// SubscribeCOV, invoke 7, process 18, of the object (hex of the identifier),
// with flag and lifetime octets ("" for the cancel form).
std::string Subscribe(const std::string& oid, const std::string& rest = "29 00 39 3C") {
  return F("01 04 00 05 07 05 09 12 1C " + oid + " " + rest);
}

struct Ticks {
  std::vector<Answer> frames;
  std::vector<std::string> log;
};
// Ticks every 100 ms over [from, to).
Ticks TickOver(Responder& r, double from, double to) {
  Ticks t;
  std::vector<Outgoing> out;
  for (double s = from; s < to - 1e-9; s += 0.1) {
    out.clear();
    r.Tick(s, out, t.log);
    for (const auto& o : out) t.frames.push_back({r.Sockets()[o.socket].endpoint.ToString(), o.to.ToString(), HexText(o.data), 0});
  }
  return t;
}

TEST(SimCov, SubscribeNotifyExpireAndCancel) {
  Responder r(TestBuilding());
  const auto ack = Ask(r, "127.0.0.2", Subscribe("00 C0 00 01"));  // BI 1, lifetime 60 s
  ASSERT_EQ(ack.size(), 1u);
  EXPECT_EQ(ack[0].hex, F("01 00 20 07 05"));
  EXPECT_EQ(r.Subscriptions(), 1u);
  // Renewing replaces the subscription; another process holds its own.
  Ask(r, "127.0.0.2", Subscribe("00 C0 00 01"));
  EXPECT_EQ(r.Subscriptions(), 1u);

  // The current value first, then one notification per change.
  const SimObject& bi = r.GetBuilding().devices[0].objects[1];
  Ticks t = TickOver(r, 0, 59.95);
  size_t changes = 0;
  for (double s = 0.1; s < 59.9; s += 0.1)
    if (PresentValue(bi, s).u != PresentValue(bi, s - 0.1).u) ++changes;
  EXPECT_GT(changes, 0u);
  ASSERT_EQ(t.frames.size(), 1 + changes);
  EXPECT_EQ(t.frames[0].from, "127.0.0.2:47808");
  EXPECT_EQ(t.frames[0].to, "127.0.0.1:40000");
  EXPECT_EQ(t.frames[0].hex, F("01 00 10 02 09 12 1C 02 00 03 E9 2C 00 C0 00 01 39 3C 4E 09 55 2E 91 01 2F 09 6F 2E 82 04 "
                               "00 2F 4F"));
  // At its lifetime's end the subscription is gone.
  t = TickOver(r, 60, 61);
  EXPECT_EQ(r.Subscriptions(), 0u);
  EXPECT_FALSE(r.HasCovWork());

  // Analog values report a change of the increment (1.0) or more; a
  // routed device's notifications come through its router.
  Ask(r, "127.0.0.10", F("01 20 00 05 01 0C FF 00 05 07 05 09 12 1C 00 00 00 01 29 00 39 00"));
  t = TickOver(r, 0, 120);
  const SimObject& ai = r.GetBuilding().devices[2].objects[0];
  ASSERT_GE(t.frames.size(), 2u);
  EXPECT_EQ(t.frames[0].from, "127.0.0.10:47808");
  size_t expected = 1;
  float last = PresentValue(ai, 0).real;
  for (double s = 0.1; s < 119.95; s += 0.1) {
    const float v = PresentValue(ai, s).real;
    if (std::fabs(double{v} - double{last}) >= 1.0) last = v, ++expected;
  }
  EXPECT_EQ(t.frames.size(), expected);
  EXPECT_EQ(r.Subscriptions(), 1u);  // lifetime 0: no end
  Ask(r, "127.0.0.10", F("01 20 00 05 01 0C FF 00 05 07 05 09 12 1C 00 00 00 01"));
  EXPECT_EQ(r.Subscriptions(), 0u);
}

TEST(SimCov, KnobsAndRefusals) {
  Building b = TestBuilding();
  b.devices[1].knobs.covRefuse = true;
  b.devices[0].knobs.covConfirmed = true;
  b.devices[0].knobs.covRetries = 2;
  b.devices[3].knobs.covDropEvery = 3;  // 2002, routed
  Responder r(b);
  struct Row {
    const char* name;
    const char* socket;
    std::string request, answer;
  };
  const Row rows[] = {
      {"refused by knob", "127.0.0.3", Subscribe("00 00 00 01"), F("01 00 50 07 05 91 05 91 2B")},
      {"unknown object", "127.0.0.2", Subscribe("00 00 00 09"), F("01 00 50 07 05 91 01 91 1F")},
      {"object without a value", "127.0.0.2", Subscribe("03 C0 00 01"), F("01 00 50 07 05 91 05 91 2B")},
      {"flag without its tag", "127.0.0.2", Subscribe("00 00 00 01", "39 3C"), F("01 00 60 07 07")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto a = Ask(r, row.socket, row.request);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].hex, row.answer);
  }
  EXPECT_EQ(r.Subscriptions(), 0u);

  // Confirmed by knob: resent every second until acknowledged, given up
  // after the retries.
  Ask(r, "127.0.0.2", Subscribe("00 00 00 01"));
  Ticks t = TickOver(r, 0, 0.05);
  ASSERT_EQ(t.frames.size(), 1u);
  EXPECT_EQ(t.frames[0].hex.find("01 04 00 05 00 01 09 12"), 12u) << t.frames[0].hex;  // expecting reply, invoke 0
  t = TickOver(r, 1.0, 1.05);
  EXPECT_EQ(t.frames.size(), 1u);  // resent, same invoke identifier
  std::vector<std::string> log;
  Ask(r, "127.0.0.2", F("01 00 20 00 01"), 1.1, &log);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("cov-ack dev=1001 id=0", 0), 0u) << log[0];
  t = TickOver(r, 2.0, 2.05);
  EXPECT_TRUE(t.frames.empty());
  Ask(r, "127.0.0.2", Subscribe("00 00 00 01", "29 00 39 3C"));  // renewed: its value goes again
  t = TickOver(r, 3.0, 7.05);  // sent, resent twice, then given up
  EXPECT_EQ(t.frames.size(), 3u);
  EXPECT_NE(t.log.back().find("cov-unacked dev=1001 id=1"), std::string::npos) << t.log.back();

  // Every third notification of 2002 is not sent.
  Ask(r, "127.0.0.10", F("01 20 00 05 02 00 2A FF 00 05 07 05 09 12 1C 00 C0 00 01 29 00 39 00"));
  t = TickOver(r, 0, 200);
  size_t sent = 0, dropped = 0;
  for (const auto& line : t.log) {
    if (line.rfind("cov-notify ", 0) != 0) continue;
    line.find("-> drop") == std::string::npos ? ++sent : ++dropped;
  }
  EXPECT_EQ(sent, static_cast<size_t>(std::count_if(t.frames.begin(), t.frames.end(),
                                                    [](const Answer& a) { return a.from == "127.0.0.10:47808"; })));
  EXPECT_GE(dropped, 1u);
  EXPECT_EQ((sent + dropped) / 3, dropped);
}

}  // namespace

namespace {

TEST(SimCov, KnobsFromFileAndCommandLine) {
  const char* text = R"({"defaults": {"cov_confirmed": true, "cov_resend_ms": 250},
    "devices": [{"instance": 5, "address": "127.0.0.2", "cov_drop_every": 3, "cov_retries": 1,
                 "objects": [{"type": "AI", "instance": 1, "cov_increment": 0.5}]}]})";
  CliOptions o;
  std::string error;
  const char* args[] = {"bacsim", "--cov-refuse", "--cov-drop-every", "7"};
  ASSERT_TRUE(ParseCommandLine(4, args, o, error)) << error;
  Building b;
  ASSERT_TRUE(ParseBuilding(text, o.defaults, b, error)) << error;
  const Knobs& k = b.devices[0].knobs;
  EXPECT_TRUE(k.covConfirmed);
  EXPECT_TRUE(k.covRefuse);
  EXPECT_EQ(k.covResendMs, 250u);
  EXPECT_EQ(k.covRetries, 1u);
  EXPECT_EQ(k.covDropEvery, 3u);  // the device's own setting wins over the command line
  EXPECT_DOUBLE_EQ(b.devices[0].objects[0].covIncrement, 0.5);
  EXPECT_FALSE(ParseBuilding(R"({"devices": [{"instance": 5, "address": "127.0.0.2",
    "objects": [{"type": "AI", "instance": 1, "cov_increment": -1}]}]})", o.defaults, b, error));
}

}  // namespace
