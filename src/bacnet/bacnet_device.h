// Known devices: addressing, per-device invoke identifiers and the device
// information slots, kept in a table under a reader/writer lock.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "bacnet/bacnet_endpoint.h"
#include "runtime/thread_object.h"
#include "runtime/variant.h"

namespace bacnet {

struct TDeviceBasicProperty {
  uint16_t PropertyId = 0;
  std::string ItemName;
  uint8_t Attempts = 0;
  bool HasValue = false;
  kel::Variant Value;
};

class TDevice {
 public:
  static constexpr uint8_t kBasicPropertyCount = 8;

  TDevice();
  TDevice(const TDevice&) = delete;
  TDevice& operator=(const TDevice&) = delete;

  // Returns the invoke identifier for the next request and advances the
  // counter (255 is followed by 0).  Caller holds the table's lock.
  uint8_t NextInvokeId() { return ConnInfo.InvokeId++; }

  std::array<TDeviceBasicProperty, kBasicPropertyCount> BasicProperties;
  uint8_t BasicPropertyIndex = 0;
  TDeviceConnInfo ConnInfo;
};

// Most devices one stack keeps.  Devices an I-Am announces beyond this are
// not registered, so that a network full of strangers cannot take the
// process's memory; devices the owner names exactly still are.
constexpr size_t kMaxDevices = 100000;

// The device list in the order devices were added, with an index from
// endpoint (address text and port) and instance to the device, kept under
// the list's lock.  Devices enter only through Append and leave only
// through Clear, so list and index always agree.
class TDeviceList : public kel::TThreadObjectList<TDevice> {
 public:
  TDeviceList() : kel::TThreadObjectList<TDevice>(true) {}

  // The device with this endpoint and instance, or null.  Caller holds a
  // side of the lock.
  TDevice* Find(const TIpEndPoint& endPoint, uint32_t instance) const REQUIRES_SHARED(this);
  // Appends a new device (its endpoint and instance not in the list yet)
  // under the write side and takes ownership; when it throws, the caller
  // keeps the device.
  void Append(TDevice* device);
  // Frees every device.  The next refusal of a full table is reported again.
  void Clear();
  // Entries come and go only as above.
  void Add(TDevice*) = delete;

  // Set once a device was refused because the table was full; cleared with
  // the table.
  std::atomic<bool> FullReported{false};

 private:
  struct Key {
    std::string_view address;  // the device's own text, which never changes
    uint16_t port;
    uint32_t instance;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& k) const;
  };
  std::unordered_map<Key, TDevice*, KeyHash> index_ GUARDED_BY(this);
};

// The device table.  Every user of a device holds a side of Devices' lock.
class TBACnetData {
 public:
  TDeviceList Devices;
};

// Hold one side of the device table's lock for a scope.
using TDeviceReadLock = kel::TReadLocked<TDeviceList>;
using TDeviceWriteLock = kel::TWriteLocked<TDeviceList>;

}  // namespace bacnet
