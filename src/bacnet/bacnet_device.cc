#include "bacnet/bacnet_device.h"

#include "bacnet/bacnet_enums.h"

namespace bacnet {

TDevice::TDevice() {
  ConnInfo.EndPoint = TIpEndPoint{};  // empty address, the BACnet/IP port
  static const struct {
    uint16_t id;
    const char* name;
  } kSlots[kBasicPropertyCount] = {
      {kPropObjectName, "DEV_OBJECT_NAME"},
      {kPropModelName, "DEV_MODEL_NAME"},
      {kPropObjectIdentifier, "DEV_OBJECT_IDENTIFIER"},
      {kPropVendorName, "DEV_VENDOR_NAME"},
      {kPropVendorIdentifier, "DEV_VENDOR_IDENTIFIER"},
      {kPropApplicationSoftwareVersion, "DEV_APPLICATION_SOFTWARE_VERSION"},
      {kPropFirmwareRevision, "DEV_FIRMWARE_REVISION"},
      {kPropDescription, "DEV_DESCRIPTION"},
  };
  for (size_t i = 0; i < kBasicPropertyCount; ++i) {
    BasicProperties[i].PropertyId = kSlots[i].id;
    BasicProperties[i].ItemName = kSlots[i].name;
  }
}

}  // namespace bacnet
