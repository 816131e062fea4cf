// ReadPropertyMultiple: the request's octets, how a group is split for a
// device, the ACK reader at its limits, and the stack's hand-over.
#include <gtest/gtest.h>

#include <vector>

#include "bacnet/bacnet_enums.h"
#include "bacnet/bacnet_stack.h"
#include "hex.h"

using namespace bacnet;
using bacnet_test::Hex;

namespace {

struct Collected {
  std::vector<TRpmResult> results;
  void operator()(const TRpmResult& r) { results.push_back(r); }
};

TRpmStatus Decode(const std::string& apdu, size_t asked, Collected& c) {
  const TBacByteArray f = Hex(apdu);
  return DecodeReadPropertyMultipleAck(f, 0, asked, c);
}

const std::string kHead = "30 07 0E ";
const std::string kAi3Real = "0C 00 00 00 03 1E 29 55 4E 44 42 28 00 00 4F 1F ";
const std::string kAv12Unknown = "0C 00 80 00 0C 1E 29 55 5E 91 01 91 1F 5F 1F ";
const std::string kBi1Enum = "0C 00 C0 00 01 1E 29 55 4E 91 01 4F 1F ";

TEST(RpmRequest, LiteralOctets) {
  const TRpmItem items[] = {{0, 3}, {2, 12}};
  TDeviceConnInfo local{TIpEndPoint{"127.0.0.2", 47808, false}};
  local.InvokeId = 7;
  std::vector<uint8_t> out(kMaxRpmRequestLength);
  int32_t n = BuildReadPropertyMultipleFrame(out, local, items);
  out.resize(static_cast<size_t>(n));
  EXPECT_EQ(out, Hex("81 0A 00 1C 01 04 00 05 07 0E 0C 00 00 00 03 1E 09 55 1F 0C 00 80 00 0C 1E 09 55 1F"));

  TDeviceConnInfo routed = local;
  routed.Network = 5;
  const uint8_t station[] = {0x34};
  routed.SetStationAddress(station, 1);
  routed.InvokeId = 8;
  out.assign(kMaxRpmRequestLength, 0);
  n = BuildReadPropertyMultipleFrame(out, routed, std::span(items, 1));
  out.resize(static_cast<size_t>(n));
  EXPECT_EQ(out, Hex("81 0A 00 18 01 24 00 05 01 34 FF 00 05 08 0E 0C 00 00 00 03 1E 09 55 1F"));

  // Clear failures: no room, no items, too many, an address that cannot be written.
  std::vector<uint8_t> small(27);
  EXPECT_EQ(BuildReadPropertyMultipleFrame(small, local, items), 0);
  EXPECT_EQ(BuildReadPropertyMultipleFrame(out, local, {}), 0);
  const std::vector<TRpmItem> many(kMaxRpmItems + 1);
  out.assign(2000, 0);
  EXPECT_EQ(BuildReadPropertyMultipleFrame(out, local, many), 0);
  TDeviceConnInfo tooLong = routed;
  tooLong.AddressLength = 7;
  EXPECT_EQ(BuildReadPropertyMultipleFrame(out, tooLong, items), 0);
  // The longest request fits the builder's constant, its length in both BVLC octets.
  const std::vector<TRpmItem> most(kMaxRpmItems, TRpmItem{0, 4194302});
  const uint8_t six[] = {10, 0, 0, 7, 0xBA, 0xC0};
  routed.SetStationAddress(six, 6);
  out.assign(kMaxRpmRequestLength, 0);
  n = BuildReadPropertyMultipleFrame(out, routed, most);
  EXPECT_EQ(n, kMaxRpmRequestLength);
  EXPECT_EQ((out[2] << 8) | out[3], n);
}

// The worst-case ACK of n results: a Double each, the largest value read.
TBacByteArray WorstAck(uint32_t n) {
  TBacByteArray f = Hex(kHead);
  for (uint32_t i = 0; i < n; ++i) {
    const TBacByteArray r = Hex("0C 00 7F FF FE 1E 29 55 4E 55 08 40 09 21 FB 54 44 2D 18 4F 1F");
    f.insert(f.end(), r.begin(), r.end());
  }
  return f;
}

TEST(RpmSplit, RequestAndWorstAckFitTheDevice) {
  const struct {
    uint32_t announced, items;
  } cases[] = {{0, 22}, {50, 2}, {128, 5}, {206, 9}, {480, 22}, {1024, 48}, {1476, 70}, {9000, 70}, {10, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.announced);
    const uint32_t n = RpmItemsPerRequest(c.announced);
    EXPECT_EQ(n, c.items);
    const uint32_t limit = EffectiveMaxApdu(c.announced);
    const TBacByteArray ack = WorstAck(n);
    EXPECT_LE(ack.size(), limit);
    EXPECT_GT(WorstAck(n + 1).size(), limit) << "one more would still have fit";
    Collected got;
    EXPECT_EQ(DecodeReadPropertyMultipleAck(ack, 0, n, got), TRpmStatus::Ok);
    ASSERT_EQ(got.results.size(), n);
    EXPECT_DOUBLE_EQ(got.results.back().Value.RawDouble(), 3.141592653589793);
    EXPECT_LE(4 + n * kRpmRequestItemLength, limit) << "request";
  }
  // A group of 50 at 480 octets: 22, 22 and 6 items, in the group's order.
  std::vector<TRpmItem> group(50);
  for (uint32_t i = 0; i < group.size(); ++i) group[i].Instance = i;
  std::span<const TRpmItem> rest(group);
  std::vector<size_t> chunks;
  while (!rest.empty()) {
    const size_t n = RpmChunkLength(rest, 0);
    chunks.push_back(n);
    rest = rest.subspan(n);
  }
  EXPECT_EQ(chunks, (std::vector<size_t>{22, 22, 6}));
}

TEST(RpmAck, ResultsAndLimits) {
  {
    SCOPED_TRACE("a property error in the middle");
    Collected c;
    ASSERT_EQ(Decode(kHead + kAi3Real + kAv12Unknown + kBi1Enum, 3, c), TRpmStatus::Ok);
    ASSERT_EQ(c.results.size(), 3u);
    EXPECT_EQ(c.results[0].Instance, 3u);
    EXPECT_EQ(c.results[0].PropertyId, 85u);
    EXPECT_EQ(c.results[0].Tag, kTagReal);
    EXPECT_DOUBLE_EQ(c.results[0].Value.RawDouble(), 42.0);
    EXPECT_TRUE(c.results[1].IsError);
    EXPECT_EQ(c.results[1].ObjectType, 2);
    EXPECT_EQ(c.results[1].Instance, 12u);
    EXPECT_EQ(c.results[1].ErrorClass, kErrorClassObject);
    EXPECT_EQ(c.results[1].ErrorCode, kErrorCodeUnknownObject);
    EXPECT_EQ(c.results[2].ObjectType, 3);
    EXPECT_EQ(c.results[2].Tag, kTagEnumerated);
    EXPECT_EQ(c.results[2].Value.ToInt64(), 1);
    EXPECT_FALSE(c.results[2].IsError);
  }
  {
    SCOPED_TRACE("fewer and out of order: what is there, in the ACK's order");
    Collected c;
    ASSERT_EQ(Decode(kHead + kBi1Enum + kAi3Real, 3, c), TRpmStatus::Ok);
    ASSERT_EQ(c.results.size(), 2u);
    EXPECT_EQ(c.results[0].ObjectType, 3);
    EXPECT_EQ(c.results[1].ObjectType, 0);
  }
  {
    SCOPED_TRACE("a Boolean (no content octets), an array index, a list of values");
    Collected c;
    ASSERT_EQ(Decode(kHead + "0C 00 C0 00 01 1E 29 55 4E 11 4F 29 57 39 02 4E 21 05 21 06 4F 1F", 2, c),
              TRpmStatus::Ok);
    ASSERT_EQ(c.results.size(), 2u);
    EXPECT_TRUE(c.results[0].Value.ToBool());
    EXPECT_EQ(c.results[0].ArrayIndex, kNoArrayIndex);
    EXPECT_EQ(c.results[1].PropertyId, 87u);
    EXPECT_EQ(c.results[1].ArrayIndex, 2u);
    EXPECT_EQ(c.results[1].Value.ToInt64(), 5);
  }
  // Failures report nothing at all.
  const struct {
    const char* name;
    std::string apdu;
    size_t asked;
    TRpmStatus status;
  } bad[] = {
      {"ends inside a value", kHead + kAi3Real + "0C 00 C0 00 01 1E 29 55 4E 44 42 28", 3, TRpmStatus::Truncated},
      {"ends inside a tag's length", kHead + "0C 00 00 00 03 1E 29 55 4E 75", 1, TRpmStatus::Truncated},
      {"ends before closing the object", kHead + "0C 00 00 00 03 1E 29 55 4E 91 01 4F", 1, TRpmStatus::Truncated},
      {"ends inside an error", kHead + "0C 00 00 00 03 1E 29 55 5E 91 01", 1, TRpmStatus::Truncated},
      {"more results than asked", kHead + kAi3Real + kAv12Unknown + kBi1Enum, 2, TRpmStatus::TooManyResults},
      {"unknown tag for the result", kHead + "0C 00 00 00 03 1E 29 55 6E 91 01 6F 1F", 1, TRpmStatus::BadTag},
      {"no object identifier", kHead + "1E 29 55 4E 91 01 4F 1F", 1, TRpmStatus::BadTag},
      {"error not enumerated", kHead + "0C 00 00 00 03 1E 29 55 5E 21 01 91 1F 5F 1F", 1, TRpmStatus::BadTag},
      {"value closed by another tag", kHead + "0C 00 00 00 03 1E 29 55 4E 91 01 5F 1F", 1, TRpmStatus::BadTag},
      {"segmented", "38 07 0E " + kAi3Real, 1, TRpmStatus::NotRpmAck},
      {"a ReadProperty-ACK", "30 07 0C 0C 00 00 00 03 19 55 3E 44 42 28 00 00 3F", 1, TRpmStatus::NotRpmAck},
      {"two octets", "30 07", 1, TRpmStatus::Truncated},
  };
  for (const auto& b : bad) {
    SCOPED_TRACE(b.name);
    Collected c;
    EXPECT_EQ(Decode(b.apdu, b.asked, c), b.status);
    EXPECT_TRUE(c.results.empty());
  }
}

class RpmStackTest : public ::testing::Test {
 protected:
  void Push(const std::string& hex) {
    const TBacByteArray f = Hex(hex);
    stack.Inbound.Push(std::make_unique<TBacDataItem>(f.data(), static_cast<int32_t>(f.size()), "192.168.1.20", 47808));
  }
  TBACnetStack stack;
  TDeviceConnInfo device{TIpEndPoint{"192.168.1.20", 47808, false}};
  TProperty holder;
};

TEST_F(RpmStackTest, LearnsMaxApduAndKeepsRequestsWithinIt) {
  // 1476 from the I-Am; a device registered without one has none.
  Push("81 0B 00 14 01 00 10 00 C4 02 00 04 D2 22 05 C4 91 00 21 2A");
  Push("81 0B 00 13 01 00 10 00 C4 02 00 04 D3 21 80 91 00 21 2A");
  Push("81 0B 00 0D 01 00 10 00 C4 02 00 04 D4");
  for (int i = 0; i < 3; ++i) ASSERT_EQ(stack.ProcessReceived(0, device, holder), 0x10);
  EXPECT_EQ(stack.FindDevice(device, 1234)->ConnInfo.MaxApdu, 1476);
  EXPECT_EQ(stack.FindDevice(device, 1235)->ConnInfo.MaxApdu, 128);
  EXPECT_EQ(stack.FindDevice(device, 1236)->ConnInfo.MaxApdu, 0);

  std::vector<TBacByteArray> sent;
  stack.OnSend = [&](TBACnetStack&, TBacBytes f, const TDeviceConnInfo&, int32_t len) {
    sent.emplace_back(f.begin(), f.begin() + len);
    return 0;
  };
  device.InvokeId = 9;
  const std::vector<TRpmItem> items(23);
  EXPECT_EQ(stack.ReadPropertyMultiple(device, items), -1) << "23 items do not fit 480 octets";
  EXPECT_EQ(stack.ReadPropertyMultiple(device, std::span(items).first(22)), 9);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].size(), 10u + 22 * kRpmRequestItemLength);
  device.MaxApdu = 1476;
  EXPECT_EQ(stack.ReadPropertyMultiple(device, items), 9);
}

TEST_F(RpmStackTest, HandsMatchedAcksToTheOwner) {
  std::vector<TRpmResult> got;
  TRpmStatus status = TRpmStatus::NotRpmAck;
  int calls = 0;
  stack.OnReadPropertyMultipleAck = [&](TBACnetStack&, const TRpmAck& ack) {
    ++calls;
    auto keep = [&](const TRpmResult& r) { got.push_back(r); };
    status = ack.Read(3, keep);
  };
  auto frame = [](const std::string& apdu) {
    TBacByteArray f = Hex("81 0A 00 00 01 00 " + apdu);
    f[3] = static_cast<uint8_t>(f.size());
    return bacnet_test::HexText(f);
  };
  Push(frame("30 05 0E " + kAi3Real + kAv12Unknown));
  EXPECT_EQ(stack.ProcessReceived(5, device, holder), 0x30);
  EXPECT_EQ(holder.Tag, kTagNull) << "the holder as for any other Complex-ACK";
  EXPECT_EQ(status, TRpmStatus::Ok);
  ASSERT_EQ(got.size(), 2u);

  // Another invoke identifier, and a ReadProperty-ACK: the owner is not told.
  Push(frame("30 06 0E " + kAi3Real));
  EXPECT_EQ(stack.ProcessReceived(5, device, holder), -1);
  Push(frame("30 05 0C 0C 00 00 00 03 19 55 3E 44 42 28 00 00 3F"));
  EXPECT_EQ(stack.ProcessReceived(5, device, holder), 0x30);
  EXPECT_EQ(calls, 1);

  // A property error reads as the Error PDU with its class and code does.
  TProperty fromResult, fromError;
  got[1].ToProperty(fromResult);
  Push("81 0A 00 0D 01 00 50 05 0E 91 01 91 1F");
  ASSERT_EQ(stack.ProcessReceived(5, device, fromError), 0x50);
  EXPECT_EQ(fromResult.ErrorText(), fromError.ErrorText());
  got[0].ToProperty(fromResult);
  EXPECT_EQ(fromResult.PduType, kPduComplexAck);
  EXPECT_DOUBLE_EQ(fromResult.Value.RawDouble(), 42.0);
}

}  // namespace
