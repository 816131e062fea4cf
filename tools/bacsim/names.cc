#include "names.h"

#include <cctype>
#include <charconv>

namespace bacsim {
namespace {

struct TypeName {
  uint16_t type;
  const char* shortName;
  const char* longName;
};

constexpr TypeName kTypes[] = {
    {obj::kAnalogInput, "AI", "analog-input"},
    {obj::kAnalogOutput, "AO", "analog-output"},
    {obj::kAnalogValue, "AV", "analog-value"},
    {obj::kBinaryInput, "BI", "binary-input"},
    {obj::kBinaryOutput, "BO", "binary-output"},
    {obj::kBinaryValue, "BV", "binary-value"},
    {obj::kDevice, "DEV", "device"},
    {obj::kMultiStateInput, "MI", "multi-state-input"},
    {obj::kMultiStateOutput, "MO", "multi-state-output"},
    {obj::kNotificationClass, "NC", "notification-class"},
    {obj::kMultiStateValue, "MV", "multi-state-value"},
};

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

}  // namespace

std::string ObjectTypeShort(uint16_t type) {
  for (const auto& t : kTypes) {
    if (t.type == type) return t.shortName;
  }
  return "T" + std::to_string(type);
}

std::optional<uint16_t> ParseObjectType(std::string_view text) {
  for (const auto& t : kTypes) {
    if (SameText(text, t.shortName) || SameText(text, t.longName)) return t.type;
  }
  unsigned v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec == std::errc() && end == text.data() + text.size() && !text.empty() && v <= 1023) {
    return static_cast<uint16_t>(v);
  }
  return std::nullopt;
}

bool IsSimulatedType(uint16_t type) {
  switch (type) {
    case obj::kAnalogInput: case obj::kAnalogOutput: case obj::kAnalogValue:
    case obj::kBinaryInput: case obj::kBinaryOutput: case obj::kBinaryValue:
    case obj::kMultiStateInput: case obj::kMultiStateOutput: case obj::kMultiStateValue:
    case obj::kNotificationClass:
      return true;
    default:
      return false;
  }
}

std::string PropertyName(uint32_t property) {
  switch (property) {
    case prop::kPresentValue: return "pv";
    case prop::kAppSoftwareVersion: return "application-software-version";
    case prop::kNotificationClass: return "notification-class";
    case prop::kDescription: return "description";
    case prop::kEventState: return "event-state";
    case prop::kFirmwareRevision: return "firmware-revision";
    case prop::kMaxApduLengthAccepted: return "max-apdu-length-accepted";
    case prop::kModelName: return "model-name";
    case prop::kNumberOfStates: return "number-of-states";
    case prop::kObjectIdentifier: return "object-identifier";
    case prop::kObjectList: return "object-list";
    case prop::kObjectName: return "object-name";
    case prop::kObjectType: return "object-type";
    case prop::kOutOfService: return "out-of-service";
    case prop::kProtocolVersion: return "protocol-version";
    case prop::kSegmentationSupported: return "segmentation-supported";
    case prop::kStatusFlags: return "status-flags";
    case prop::kSystemStatus: return "system-status";
    case prop::kUnits: return "units";
    case prop::kVendorIdentifier: return "vendor-identifier";
    case prop::kVendorName: return "vendor-name";
    case prop::kProtocolRevision: return "protocol-revision";
    default: return "prop" + std::to_string(property);
  }
}

std::string ErrorClassName(uint8_t cls) {
  static const char* const names[] = {"device", "object", "property", "resources",
                                      "security", "services", "vt", "communication"};
  return cls < 8 ? names[cls] : "class" + std::to_string(cls);
}

std::string ErrorCodeName(uint8_t code) {
  switch (code) {
    case errcode::kOther: return "other";
    case errcode::kDeviceBusy: return "device-busy";
    case 29: return "service-request-denied";
    case 30: return "timeout";
    case errcode::kUnknownObject: return "unknown-object";
    case errcode::kUnknownProperty: return "unknown-property";
    case errcode::kInvalidArrayIndex: return "invalid-array-index";
    case errcode::kPropertyIsNotAnArray: return "property-is-not-an-array";
    default: return "code" + std::to_string(code);
  }
}

std::string RejectReasonName(uint8_t reason) {
  static const char* const names[] = {"other", "buffer-overflow", "inconsistent-parameters",
                                      "invalid-parameter-data-type", "invalid-tag", "missing-required-parameter",
                                      "parameter-out-of-range", "too-many-arguments", "undefined-enumeration",
                                      "unrecognized-service"};
  return reason < 10 ? names[reason] : "reason" + std::to_string(reason);
}

std::string AbortReasonName(uint8_t reason) {
  switch (reason) {
    case abort_reason::kOther: return "other";
    case abort_reason::kBufferOverflow: return "buffer-overflow";
    case abort_reason::kSegmentationNotSupported: return "segmentation-not-supported";
    case abort_reason::kOutOfResources: return "out-of-resources";
    default: return "reason" + std::to_string(reason);
  }
}

}  // namespace bacsim
