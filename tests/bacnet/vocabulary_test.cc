#include <gtest/gtest.h>

#include "bacnet/bacnet_enums.h"
#include "bacnet/bacnet_errors.h"
#include "bacnet/bacnet_property.h"

using namespace bacnet;

namespace {

std::string Text(uint8_t cls, uint8_t code, uint8_t pdu = 0x50) {
  TProperty p;
  p.ErrorClass = cls;
  p.ErrorCode = code;
  p.PduType = pdu;
  return p.ErrorText();
}

TEST(Vocabulary, ErrorTexts) {
  EXPECT_EQ(Text(7, 30), "Communication, Timeout");
  EXPECT_EQ(Text(2, 32), "Property, Unknown Property");
  EXPECT_EQ(Text(5, 29), "Services, Service Request Denied");
  EXPECT_EQ(Text(8, 30), "Timeout");
  EXPECT_EQ(Text(2, 51), "Property");
  EXPECT_EQ(ErrorCodeText(11), "Error Code Invalid File Start Position");
  EXPECT_EQ(ErrorCodeText(33), "Reserved1");
  EXPECT_EQ(ErrorCodeText(136), "Abort Security Error");
  EXPECT_EQ(ErrorCodeText(137), "");
  EXPECT_EQ(ErrorCodeText(200), "");
  EXPECT_EQ(ErrorClassName(6), "VT");
}

TEST(Vocabulary, EveryErrorCodeUpTo136HasATextExcept51) {
  for (uint32_t code = 0; code <= 0xFFFF; ++code) {
    const bool expected = code <= 136 && code != 51;
    EXPECT_EQ(!ErrorCodeText(static_cast<uint16_t>(code)).empty(), expected) << code;
  }
  // Spot checks of the wording: one capital for abbreviations.
  EXPECT_EQ(ErrorCodeText(21), "No Vt Sessions Available");
  EXPECT_EQ(ErrorCodeText(43), "Cov Subscription Failed");
  EXPECT_EQ(ErrorCodeText(110), "Not Router To Dnet");
  EXPECT_EQ(ErrorCodeText(126), "Abort Tsm Timeout");
}

TEST(Vocabulary, RejectAndAbortReasonsUseTheirOwnTexts) {
  // Reason 9 is unrecognized-service, not error code 9 (invalid data type).
  EXPECT_EQ(Text(7, 9, 0x60), "Communication, Reject Unrecognized Service");
  EXPECT_EQ(Text(7, 0, 0x60), "Communication, Reject Other");
  EXPECT_EQ(Text(7, 10, 0x70), "Communication, Abort Tsm Timeout");
  EXPECT_EQ(Text(7, 4, 0x70), "Communication, Abort Segmentation Not Supported");
  EXPECT_EQ(Text(7, 200, 0x70), "Communication, Abort Proprietary");
  EXPECT_EQ(Text(7, 30, 0x60), "Communication");
}

TEST(Vocabulary, ObjectTypes) {
  EXPECT_EQ(ObjectTypeName(8), "Device");
  EXPECT_EQ(ObjectTypeName(29), "Structured View");
  EXPECT_EQ(ObjectTypeName(23), "Other (0x0017)");
  EXPECT_EQ(ObjectTypeName(1023), "Other (0x03FF)");
  EXPECT_EQ(ObjectTypeName(30), "Other (0x001E)");
}

}  // namespace
