// ReadPropertyMultiple: the request's octets, how a group is split for a
// device, the ACK reader at its limits, and the stack's hand-over.
#include <gtest/gtest.h>

#include <vector>

#include "bacnet/bacnet_stack.h"
#include "common/hex.h"

using namespace bacnet;
using testutil::Hex;

namespace {

// Each result as "type:instance property[index] tag value" or "... error class/code".
struct Collected {
  std::vector<std::string> results;
  void operator()(const TRpmResult& r) {
    std::string s = std::to_string(r.ObjectType) + ":" + std::to_string(r.Instance) + " " + std::to_string(r.PropertyId);
    if (r.ArrayIndex != kNoArrayIndex) s += "[" + std::to_string(r.ArrayIndex) + "]";
    if (r.IsError)
      s += " error " + std::to_string(r.ErrorClass) + "/" + std::to_string(r.ErrorCode);
    else
      s += " tag" + std::to_string(r.Tag) + " " + r.Value.ToAnsi();
    results.push_back(s);
  }
};

const std::string kHead = "30 07 0E ";
const std::string kAi3Real = "0C 00 00 00 03 1E 29 55 4E 44 42 28 00 00 4F 1F ";
const std::string kAv12Unknown = "0C 00 80 00 0C 1E 29 55 5E 91 01 91 1F 5F 1F ";
const std::string kBi1Enum = "0C 00 C0 00 01 1E 29 55 4E 91 01 4F 1F ";

TEST(RpmRequest, LiteralOctetsAndClearFailures) {
  const TRpmItem items[] = {{0, 3}, {2, 12}};
  TDeviceConnInfo conn{TIpEndPoint{"127.0.0.2", 47808, false}};
  conn.InvokeId = 7;
  std::vector<uint8_t> out(kMaxRpmRequestLength);
  out.resize(static_cast<size_t>(BuildReadPropertyMultipleFrame(out, conn, items)));
  EXPECT_EQ(out, Hex("81 0A 00 1C 01 04 00 05 07 0E 0C 00 00 00 03 1E 09 55 1F 0C 00 80 00 0C 1E 09 55 1F"));
  conn.Network = 5;
  const uint8_t station[] = {0x34};
  conn.SetStationAddress(station, 1);
  out.assign(kMaxRpmRequestLength, 0);
  out.resize(static_cast<size_t>(BuildReadPropertyMultipleFrame(out, conn, std::span(items, 1))));
  EXPECT_EQ(out, Hex("81 0A 00 18 01 24 00 05 01 34 FF 00 05 07 0E 0C 00 00 00 03 1E 09 55 1F"));

  std::vector<uint8_t> small(23);
  EXPECT_EQ(BuildReadPropertyMultipleFrame(small, conn, std::span(items, 1)), 0);
  out.assign(2000, 0);
  EXPECT_EQ(BuildReadPropertyMultipleFrame(out, conn, {}), 0);
  EXPECT_EQ(BuildReadPropertyMultipleFrame(out, conn, std::vector<TRpmItem>(kMaxRpmItems + 1)), 0);
  conn.AddressLength = 7;
  EXPECT_EQ(BuildReadPropertyMultipleFrame(out, conn, items), 0);
}

TEST(RpmSplit, RequestAndWorstAckFitTheDevice) {
  // The worst-case ACK of n results: a Double each, the largest value read.
  const auto worst = [](uint32_t n) {
    TBacByteArray f = Hex(kHead);
    const TBacByteArray r = Hex("0C 00 7F FF FE 1E 29 55 4E 55 08 40 09 21 FB 54 44 2D 18 4F 1F");
    for (uint32_t i = 0; i < n; ++i) f.insert(f.end(), r.begin(), r.end());
    return f;
  };
  const struct {
    uint32_t announced, items;
  } cases[] = {{0, 22}, {50, 2}, {128, 5}, {206, 9}, {480, 22}, {1476, 70}, {9000, 70}, {10, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.announced);
    const uint32_t n = RpmItemsPerRequest(c.announced);
    EXPECT_EQ(n, c.items);
    const uint32_t limit = EffectiveMaxApdu(c.announced);
    EXPECT_LE(worst(n).size(), limit);
    EXPECT_GT(worst(n + 1).size(), limit) << "one more would still have fit";
    EXPECT_LE(4 + n * kRpmRequestItemLength, limit) << "request";
    Collected got;
    EXPECT_EQ(DecodeReadPropertyMultipleAck(worst(n), 0, n, got), TRpmStatus::Ok);
    EXPECT_EQ(got.results.size(), n);
  }
  const std::vector<TRpmItem> group(50);
  EXPECT_EQ(RpmChunkLength(group, 0), 22u);
  EXPECT_EQ(RpmChunkLength(std::span(group).last(6), 0), 6u);
}

TEST(RpmAck, ResultsAndLimits) {
  const struct {
    const char* name;
    std::string apdu;
    size_t asked;
    TRpmStatus status;
    std::vector<std::string> results;
  } cases[] = {
      {"a property error in the middle", kHead + kAi3Real + kAv12Unknown + kBi1Enum, 3, TRpmStatus::Ok,
       {"0:3 85 tag4 42", "2:12 85 error 1/31", "3:1 85 tag9 1"}},
      {"fewer, out of order: as they come", kHead + kBi1Enum + kAi3Real, 3, TRpmStatus::Ok,
       {"3:1 85 tag9 1", "0:3 85 tag4 42"}},
      {"a Boolean has no content octets; an index; a list's first value",
       kHead + "0C 00 C0 00 01 1E 29 55 4E 11 4F 29 57 39 02 4E 21 05 21 06 4F 1F", 2, TRpmStatus::Ok,
       {"3:1 85 tag1 True", "3:1 87[2] tag2 5"}},
      // Failures report nothing at all.
      {"ends inside a value", kHead + kAi3Real + "0C 00 C0 00 01 1E 29 55 4E 44 42 28", 3, TRpmStatus::Truncated, {}},
      {"ends inside a tag's length", kHead + "0C 00 00 00 03 1E 29 55 4E 75", 1, TRpmStatus::Truncated, {}},
      {"ends before closing the object", kHead + "0C 00 00 00 03 1E 29 55 4E 91 01 4F", 1, TRpmStatus::Truncated, {}},
      {"more results than asked", kHead + kAi3Real + kAv12Unknown + kBi1Enum, 2, TRpmStatus::TooManyResults, {}},
      {"unknown tag for the result", kHead + "0C 00 00 00 03 1E 29 55 6E 91 01 6F 1F", 1, TRpmStatus::BadTag, {}},
      {"error not enumerated", kHead + "0C 00 00 00 03 1E 29 55 5E 21 01 91 1F 5F 1F", 1, TRpmStatus::BadTag, {}},
      {"value closed by another tag", kHead + "0C 00 00 00 03 1E 29 55 4E 91 01 5F 1F", 1, TRpmStatus::BadTag, {}},
      {"segmented", "38 07 0E " + kAi3Real, 1, TRpmStatus::NotRpmAck, {}},
      {"a ReadProperty-ACK", "30 07 0C 0C 00 00 00 03 19 55 3E 44 42 28 00 00 3F", 1, TRpmStatus::NotRpmAck, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Collected got;
    EXPECT_EQ(DecodeReadPropertyMultipleAck(Hex(c.apdu), 0, c.asked, got), c.status);
    EXPECT_EQ(got.results, c.results);
  }
}

TEST(RpmStack, LearnsMaxApduSplitsAndHandsAcksOver) {
  TBACnetStack stack;
  TDeviceConnInfo device{TIpEndPoint{"192.168.1.20", 47808, false}};
  TProperty holder;
  const auto push = [&](const std::string& apdu, uint8_t npduControl = 0) {
    TBacByteArray f = Hex("81 0A 00 00 01 00 " + apdu);
    f[3] = static_cast<uint8_t>(f.size());
    f[5] = npduControl;
    stack.Inbound.Push(std::make_unique<TBacDataItem>(f.data(), static_cast<int32_t>(f.size()), "192.168.1.20", 47808));
  };
  // 1476 and 128 from I-Ams; a device registered without one has none.
  push("10 00 C4 02 00 04 D2 22 05 C4 91 00 21 2A");
  push("10 00 C4 02 00 04 D3 21 80 91 00 21 2A");
  push("10 00 C4 02 00 04 D4");
  for (int i = 0; i < 3; ++i) ASSERT_EQ(stack.ProcessReceived(0, device, holder), 0x10);
  EXPECT_EQ(stack.FindDevice(device, 1234)->ConnInfo.MaxApdu, 1476);
  EXPECT_EQ(stack.FindDevice(device, 1235)->ConnInfo.MaxApdu, 128);
  EXPECT_EQ(stack.FindDevice(device, 1236)->ConnInfo.MaxApdu, 0);

  std::vector<size_t> sent;
  stack.OnSend = [&](TBACnetStack&, TBacBytes, const TDeviceConnInfo&, int32_t len) {
    sent.push_back(static_cast<size_t>(len));
    return 0;
  };
  device.InvokeId = 5;
  const std::vector<TRpmItem> items(23);
  EXPECT_EQ(stack.ReadPropertyMultiple(device, items), -1) << "23 items do not fit 480 octets";
  EXPECT_EQ(stack.ReadPropertyMultiple(device, std::span(items).first(22)), 5);
  EXPECT_EQ(sent, std::vector<size_t>{10 + 22 * kRpmRequestItemLength});

  Collected got;
  int calls = 0;
  stack.OnReadPropertyMultipleAck = [&](TBACnetStack&, const TRpmAck& ack) {
    ++calls;
    EXPECT_EQ(ack.Read(3, got), TRpmStatus::Ok);
  };
  push("30 05 0E " + kAi3Real + kAv12Unknown);
  EXPECT_EQ(stack.ProcessReceived(5, device, holder), 0x30);
  EXPECT_EQ(holder.Tag, kTagNull) << "the holder as for any other Complex-ACK";
  EXPECT_EQ(got.results, (std::vector<std::string>{"0:3 85 tag4 42", "2:12 85 error 1/31"}));
  // Another invoke identifier, and a ReadProperty-ACK: the owner is not told.
  push("30 06 0E " + kAi3Real);
  EXPECT_EQ(stack.ProcessReceived(5, device, holder), -1);
  push("30 05 0C 0C 00 00 00 03 19 55 3E 44 42 28 00 00 3F");
  EXPECT_EQ(stack.ProcessReceived(5, device, holder), 0x30);
  EXPECT_EQ(calls, 1);

  // A property error reads as the Error PDU with its class and code does.
  TRpmResult error;
  error.IsError = true;
  error.ErrorClass = 1;
  error.ErrorCode = 31;
  TProperty fromResult, fromError;
  error.ToProperty(fromResult);
  push("50 05 0E 91 01 91 1F");
  ASSERT_EQ(stack.ProcessReceived(5, device, fromError), 0x50);
  EXPECT_EQ(fromResult.ErrorText(), fromError.ErrorText());
}

}  // namespace
