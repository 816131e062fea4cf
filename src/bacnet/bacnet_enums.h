// Protocol numbers the module uses, and the object type names shown to users.
#pragma once

#include <cstdint>
#include <string>

namespace bacnet {

// APDU types (upper four bits of the first APDU octet).
enum PduType : uint8_t {
  kPduConfirmedRequest = 0x00,
  kPduUnconfirmedRequest = 0x10,
  kPduSimpleAck = 0x20,
  kPduComplexAck = 0x30,
  kPduSegmentAck = 0x40,
  kPduError = 0x50,
  kPduReject = 0x60,
  kPduAbort = 0x70,
};

enum ServiceChoice : uint8_t {
  kServiceIAm = 0x00,       // unconfirmed
  kServiceWhoIs = 0x08,     // unconfirmed
  kServiceReadProperty = 0x0C,  // confirmed
  kServiceReadPropertyMultiple = 0x0E,  // confirmed
  kServiceConfirmedCovNotification = 0x01,    // confirmed
  kServiceUnconfirmedCovNotification = 0x02,  // unconfirmed
  kServiceSubscribeCov = 0x05,                // confirmed
};

enum ObjectType : uint16_t {
  kObjectAnalogInput = 0,
  kObjectAnalogOutput = 1,
  kObjectAnalogValue = 2,
  kObjectBinaryInput = 3,
  kObjectBinaryOutput = 4,
  kObjectBinaryValue = 5,
  kObjectDevice = 8,
  kObjectMultiStateInput = 13,
  kObjectMultiStateOutput = 14,
  kObjectNotificationClass = 15,
  kObjectMultiStateValue = 19,
};

enum PropertyId : uint16_t {
  kPropApplicationSoftwareVersion = 12,
  kPropDescription = 28,
  kPropFirmwareRevision = 44,
  kPropModelName = 70,
  kPropObjectIdentifier = 75,
  kPropObjectName = 77,
  kPropPresentValue = 85,
  kPropStatusFlags = 111,
  kPropVendorIdentifier = 120,
  kPropVendorName = 121,
};

enum ErrorClass : uint8_t {
  kErrorClassDevice = 0,
  kErrorClassObject = 1,
  kErrorClassProperty = 2,
  kErrorClassResources = 3,
  kErrorClassSecurity = 4,
  kErrorClassServices = 5,
  kErrorClassVt = 6,
  kErrorClassCommunication = 7,
};

// Error codes the module acts on.
constexpr uint8_t kErrorCodeUnknownObject = 31;

// "Analog Input", ...; unknown types give "Other (0x0017)".
std::string ObjectTypeName(uint16_t objectType);

}  // namespace bacnet
