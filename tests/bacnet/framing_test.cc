#include <gtest/gtest.h>

#include "bacnet/bacnet_pdu.h"
#include "bacnet/bacnet_stack.h"
#include "common/hex.h"

using namespace bacnet;
using testutil::Hex;

namespace {

TBacByteArray Build(const TDeviceConnInfo& conn, uint32_t instance, uint16_t type, uint16_t prop) {
  TBacByteArray out(kMaxRequestLength);
  out.resize(static_cast<size_t>(BuildReadPropertyFrame(out, conn, instance, type, prop)));
  return out;
}

TEST(Requests, ReadPropertyLocalAndRouted) {
  TDeviceConnInfo conn;
  conn.InvokeId = 7;
  EXPECT_EQ(Build(conn, 3, 0, 85), Hex("81 0A 00 11 01 04 00 05 07 0C 0C 00 00 00 03 19 55"));

  // One-octet station (the MS/TP case): exactly the low station octet.
  conn.Network = 5;
  const uint8_t mstp[] = {0x34};
  conn.SetStationAddress(mstp, 1);
  EXPECT_EQ(Build(conn, 3, 0, 85), Hex("81 0A 00 16 01 24 00 05 01 34 FF 00 05 07 0C 0C 00 00 00 03 19 55"));

  // Two- and six-octet stations go out whole.
  const uint8_t two[] = {0x12, 0x34};
  conn.SetStationAddress(two, 2);
  EXPECT_EQ(conn.Station, 0x1234u);
  EXPECT_EQ(Build(conn, 3, 0, 512),
            Hex("81 0A 00 18 01 24 00 05 02 12 34 FF 00 05 07 0C 0C 00 00 00 03 1A 02 00"));
  const uint8_t six[] = {10, 1, 2, 3, 0xBA, 0xC0};
  conn.SetStationAddress(six, 6);
  EXPECT_EQ(Build(conn, 3, 0, 85),
            Hex("81 0A 00 1B 01 24 00 05 06 0A 01 02 03 BA C0 FF 00 05 07 0C 0C 00 00 00 03 19 55"));

  // A routed connection made by hand carries only the station number: the
  // address octets come from it for 1-, 2- and 4-octet addresses.
  TDeviceConnInfo byHand;
  byHand.InvokeId = 7;
  byHand.Network = 5;
  byHand.AddressLength = 2;
  byHand.Station = 0x1234;
  EXPECT_EQ(Build(byHand, 3, 0, 85),
            Hex("81 0A 00 17 01 24 00 05 02 12 34 FF 00 05 07 0C 0C 00 00 00 03 19 55"));
  byHand.AddressLength = 4;
  byHand.Station = 0x0A0B0C0D;
  EXPECT_EQ(Build(byHand, 3, 0, 85),
            Hex("81 0A 00 19 01 24 00 05 04 0A 0B 0C 0D FF 00 05 07 0C 0C 00 00 00 03 19 55"));
  // An address longer than the octets kept cannot be sent whole: no frame
  // rather than one that addresses another station.
  const uint8_t seven[] = {1, 2, 3, 4, 5, 6, 7};
  byHand.SetStationAddress(seven, 7);
  EXPECT_TRUE(Build(byHand, 3, 0, 85).empty());

  TBacByteArray whoIs(12);
  EXPECT_EQ(BuildWhoIsFrame(whoIs), 12);
  EXPECT_EQ(whoIs, Hex("81 0A 00 0C 01 20 FF FF 00 FF 10 08"));
}

TEST(Npdu, LocalRoutedAndTruncated) {
  const TBacByteArray iam = Hex("81 0B 00 14 01 00 10 00 C4 02 00 04 D2 22 05 C4 91 00 21 2A");
  TNPDU n;
  EXPECT_EQ(n.Decode(iam, 4), 6);
  EXPECT_EQ(n.SNet, 0);
  TAPDU a;
  EXPECT_EQ(a.DecodeIAm(iam, 6), 5);
  EXPECT_EQ(a.DeviceInstance, 1234u);

  const TBacByteArray routed = Hex("81 0B 00 18 01 08 00 07 01 15 10 00 C4 02 00 04 D2 22 05 C4 91 00 21 2A");
  EXPECT_EQ(n.Decode(routed, 4), 10);
  EXPECT_EQ(n.SNet, 7);
  EXPECT_EQ(n.SLen, 1);
  EXPECT_EQ(n.SAdrValue, 0x15u);

  EXPECT_EQ(n.Decode(Hex("81 0A 00 06 02 00"), 4), 0);  // version 2
  // Every truncation of a routed header is refused without reading past it.
  const TBacByteArray both = Hex("81 0A 00 13 01 28 00 05 02 12 34 00 07 01 15 FF 30");
  for (size_t len = 5; len < both.size() - 1; ++len) {
    const TBacByteArray cut(both.begin(), both.begin() + static_cast<std::ptrdiff_t>(len));
    EXPECT_EQ(n.Decode(cut, 4), 0) << len;
  }
  EXPECT_EQ(n.Decode(both, 4), 16);
  EXPECT_EQ(n.DAdrValue, 0x1234u);
  EXPECT_EQ(n.HopCount, 0xFF);
}

TEST(Apdu, LocateReadPropertyValue) {
  int32_t pos = 0;
  EXPECT_EQ(TAPDU::LocateReadPropertyValue(Hex("30 07 0C 0C 00 00 00 03 19 55 3E 44 42 28 00 00 3F"), 0, pos),
            TLocateResult::Located);
  EXPECT_EQ(pos, 11);
  EXPECT_EQ(TAPDU::LocateReadPropertyValue(Hex("30 07 0C 0C 00 00 00 03 19 55 29 02 3E 21 01 3F"), 0, pos),
            TLocateResult::Located);
  EXPECT_EQ(pos, 13);
  EXPECT_EQ(TAPDU::LocateReadPropertyValue(Hex("38 07 0C 0C 00 00 00 03 19 55 3E"), 0, pos),
            TLocateResult::NotReadProperty);
  EXPECT_EQ(TAPDU::LocateReadPropertyValue(Hex("30 07 0E 0C"), 0, pos), TLocateResult::NotReadProperty);
  EXPECT_EQ(TAPDU::LocateReadPropertyValue(Hex("30 07 0C 0C 00 00 00 03 1A 00"), 0, pos), TLocateResult::Truncated);
  EXPECT_EQ(TAPDU::LocateReadPropertyValue(Hex("30 07"), 0, pos), TLocateResult::Truncated);
}

TEST(Bvll, ForwardedNpduCarriesOriginalSource) {
  const TBvll b = DecodeBvll(Hex("81 04 00 12 0A 01 02 03 BA C1 01 00 10 00 C4 02 00 04 D2 00"));
  EXPECT_TRUE(b.Forwarded);
  EXPECT_EQ(b.NpduPos, 10);
  EXPECT_EQ(b.OriginAddress, "10.1.2.3");
  EXPECT_EQ(b.OriginPort, 0xBAC1);
  EXPECT_EQ(DecodeBvll(Hex("81 04 00 0A 0A 01 02 03 BA C1")).NpduPos, 0);
  EXPECT_EQ(DecodeBvll(Hex("81 0A 00 04")).NpduPos, 0);
}

}  // namespace
