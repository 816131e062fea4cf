// Numbers of the BACnet vocabulary that bacsim serves, and the short names it
// prints and accepts in building files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bacsim {

namespace obj {
constexpr uint16_t kAnalogInput = 0, kAnalogOutput = 1, kAnalogValue = 2;
constexpr uint16_t kBinaryInput = 3, kBinaryOutput = 4, kBinaryValue = 5;
constexpr uint16_t kDevice = 8;
constexpr uint16_t kMultiStateInput = 13, kMultiStateOutput = 14, kNotificationClass = 15, kMultiStateValue = 19;
}  // namespace obj

namespace prop {
constexpr uint32_t kAppSoftwareVersion = 12, kNotificationClass = 17, kDescription = 28, kEventState = 36,
                   kFirmwareRevision = 44, kMaxApduLengthAccepted = 62, kModelName = 70, kNumberOfStates = 74,
                   kObjectIdentifier = 75, kObjectList = 76, kObjectName = 77, kObjectType = 79,
                   kOutOfService = 81, kPresentValue = 85, kProtocolVersion = 98, kSegmentationSupported = 107,
                   kStatusFlags = 111, kSystemStatus = 112, kUnits = 117, kVendorIdentifier = 120,
                   kVendorName = 121, kProtocolRevision = 139;
}  // namespace prop

namespace service {
constexpr uint8_t kIAm = 0, kWhoIs = 8;  // unconfirmed
constexpr uint8_t kReadProperty = 12, kReadPropertyMultiple = 14;  // confirmed
constexpr uint8_t kConfirmedCovNotification = 1, kSubscribeCov = 5;  // confirmed
constexpr uint8_t kUnconfirmedCovNotification = 2;                   // unconfirmed
}  // namespace service

namespace errclass {
constexpr uint8_t kDevice = 0, kObject = 1, kProperty = 2, kResources = 3, kSecurity = 4, kServices = 5, kVt = 6,
                  kCommunication = 7;
}
namespace errcode {
constexpr uint8_t kOther = 0, kDeviceBusy = 3, kUnknownObject = 31, kUnknownProperty = 32,
                  kInvalidArrayIndex = 42, kCovSubscriptionFailed = 43, kPropertyIsNotAnArray = 50;
}
namespace reject {
constexpr uint8_t kOther = 0, kBufferOverflow = 1, kInconsistentParameters = 2, kInvalidParameterDataType = 3,
                  kInvalidTag = 4, kMissingRequiredParameter = 5, kParameterOutOfRange = 6, kTooManyArguments = 7,
                  kUndefinedEnumeration = 8, kUnrecognizedService = 9;
}
namespace abort_reason {
constexpr uint8_t kOther = 0, kBufferOverflow = 1, kSegmentationNotSupported = 4, kOutOfResources = 9;
}

// "AI", "BV", "NC", "DEV"; other types "T<number>".
std::string ObjectTypeShort(uint16_t type);
// Accepts the short names, the standard's names ("analog-input") and numbers.
std::optional<uint16_t> ParseObjectType(std::string_view text);
// True for the ten types bacsim can simulate as objects of a device.
bool IsSimulatedType(uint16_t type);
// "pv" for present-value, the standard's name for the other properties it
// knows, "prop<number>" otherwise.
std::string PropertyName(uint32_t property);
std::string ErrorClassName(uint8_t cls);
std::string ErrorCodeName(uint8_t code);
std::string RejectReasonName(uint8_t reason);
std::string AbortReasonName(uint8_t reason);

}  // namespace bacsim
