// Known devices: addressing, per-device invoke identifiers and the device
// information slots, kept in a table under a reader/writer lock.
#pragma once

#include <array>
#include <cstdint>
#include <string>

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

// The device table.  Every user of a device holds a side of Devices' lock.
class TBACnetData {
 public:
  TBACnetData() : Devices(true) {}
  kel::TThreadObjectList<TDevice> Devices;
};

// Holds the read side of a device list for a scope.
class TDeviceReadLock {
 public:
  explicit TDeviceReadLock(kel::TThreadObjectList<TDevice>& list) : list_(list), items_(list.LockRead()) {}
  ~TDeviceReadLock() { list_.UnlockRead(); }
  TDeviceReadLock(const TDeviceReadLock&) = delete;
  TDeviceReadLock& operator=(const TDeviceReadLock&) = delete;
  const kel::TThreadObjectList<TDevice>::List& Items() const { return items_; }

 private:
  kel::TThreadObjectList<TDevice>& list_;
  const kel::TThreadObjectList<TDevice>::List& items_;
};

// Holds the write side of a device list for a scope.
class TDeviceWriteLock {
 public:
  explicit TDeviceWriteLock(kel::TThreadObjectList<TDevice>& list) : list_(list), items_(list.LockWrite()) {}
  ~TDeviceWriteLock() { list_.UnlockWrite(); }
  TDeviceWriteLock(const TDeviceWriteLock&) = delete;
  TDeviceWriteLock& operator=(const TDeviceWriteLock&) = delete;
  kel::TThreadObjectList<TDevice>::List& Items() { return items_; }

 private:
  kel::TThreadObjectList<TDevice>& list_;
  kel::TThreadObjectList<TDevice>::List& items_;
};

}  // namespace bacnet
