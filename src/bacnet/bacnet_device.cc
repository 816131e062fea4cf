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

size_t TDeviceList::KeyHash::operator()(const Key& k) const { return ConnectionHash(k.address, k.port, k.instance); }

TDevice* TDeviceList::Find(const TIpEndPoint& endPoint, uint32_t instance) const {
  const auto it = index_.find(Key{endPoint.Address, endPoint.Port, instance});
  return it == index_.end() ? nullptr : it->second;
}

void TDeviceList::Append(TDevice* device) {
  const kel::TWriteLocked<TDeviceList> locked(*this);
  List& items = locked.Items();
  // The index views the device's own address text.
  const TIpEndPoint& ep = device->ConnInfo.EndPoint;
  items.push_back(device);
  try {
    index_.emplace(Key{ep.Address, ep.Port, device->ConnInfo.Instance}, device);
  } catch (...) {
    items.pop_back();  // the caller keeps the device
    throw;
  }
}

void TDeviceList::Clear() {
  const kel::TWriteLocked<TDeviceList> locked(*this);
  index_.clear();
  FullReported = false;
  kel::TThreadObjectList<TDevice>::Clear();
}

}  // namespace bacnet
