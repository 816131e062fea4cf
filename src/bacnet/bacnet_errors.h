// Texts for error classes, error codes and the reasons of Reject and Abort.
#pragma once

#include <cstdint>
#include <string>

namespace bacnet {

struct TDescRecord {
  uint16_t Code;
  const char* Text;
};

// "Device", "Object", ..., "Communication"; empty for other classes.
std::string ErrorClassName(uint8_t errorClass);
// The error code's text; empty when the code has none.
std::string ErrorCodeText(uint16_t errorCode);
// Texts for the reason octet of a Reject or an Abort, taken from the error
// codes that stand for the same reason ("Reject Other", "Abort Tsm Timeout").
std::string RejectReasonText(uint8_t reason);
std::string AbortReasonText(uint8_t reason);

}  // namespace bacnet
