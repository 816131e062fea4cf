// The time-out record against a clock the test moves, on both clocks the
// system may offer.
#include "runtime/timing/kel_timeout.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

uint64_t g_now64 = 0;
uint32_t g_now32 = 0;
uint64_t Now64() { return g_now64; }
uint32_t Now32() { return g_now32; }

class Timeout : public ::testing::Test {
 protected:
  void TearDown() override { SetTimeoutClock(TTickClock{}); }
};

TEST_F(Timeout, MeasuresFromItsStart) {
  SetTimeoutClock(TTickClock{&Now64, &Now32});
  g_now64 = 0x1'0000'0000ull + 500;  // above 32 bits
  TkelTimeout t;
  EXPECT_TRUE(t.IsClear());
  EXPECT_TRUE(t.Expired(1000)) << "a clear record has expired";
  t.Start();
  EXPECT_FALSE(t.Expired(1000));
  g_now64 += 999;
  EXPECT_FALSE(t.Expired(1000));
  EXPECT_TRUE(t.Expired(999)) << "each question may ask another duration";
  g_now64 += 1;
  EXPECT_TRUE(t.Expired(1000));
  // A fixed duration is kept whatever is asked.
  t.StartWith(5000);
  g_now64 += 4999;
  EXPECT_FALSE(t.Expired(1));
  EXPECT_FALSE(t.Expired());
  g_now64 += 1;
  EXPECT_TRUE(t.Expired());
  t.Restart();
  EXPECT_FALSE(t.Expired());
  EXPECT_EQ(t.Deadline, g_now64 + 5000);
  t.Clear();
  EXPECT_TRUE(t.IsClear());
}

TEST_F(Timeout, ThirtyTwoBitClockAcrossItsWrap) {
  SetTimeoutClock(TTickClock{nullptr, &Now32});
  g_now32 = 0xFFFFFFFFu - 1000;  // 49.7 days after boot, a second before the wrap
  TkelTimeout t;
  t.StartWith(3000);
  TkelTimeout u;
  u.Start();
  g_now32 += 1500;  // wrapped
  EXPECT_FALSE(t.Expired());
  EXPECT_FALSE(u.Expired(2000));
  EXPECT_TRUE(u.Expired(1500));
  g_now32 += 1500;
  EXPECT_TRUE(t.Expired());
  // A record started after the wrap measures from its own start.
  TkelTimeout v;
  v.Start();
  g_now32 += 10;
  EXPECT_FALSE(v.Expired(11));
  EXPECT_TRUE(v.Expired(10));
}

TEST_F(Timeout, ClockReadingZeroStillStarts) {
  SetTimeoutClock(TTickClock{&Now64, nullptr});
  g_now64 = 0;
  TkelTimeout t;
  t.Start();
  EXPECT_FALSE(t.IsClear());
  EXPECT_FALSE(t.Expired(10));
}

}  // namespace
}  // namespace kel
