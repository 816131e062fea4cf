// The request list of a communication module: the items it polls, owned,
// under the list's reader/writer lock, with an index from group number to
// the group's first item, the positions of the pattern items, and the
// filter of the devices the configured items can use.
#pragma once

#include <cstdint>
#include <vector>

#include "module/device_filter.h"
#include "module/request_item.h"
#include "runtime/thread_object.h"

namespace bacnet_module {

// Most items one communication module holds (configured and discovered).
constexpr size_t kMaxRequestItems = 1000000;

class TRequestList : public kel::TThreadObjectList<TRequestItem> {
 public:
  TRequestList() : kel::TThreadObjectList<TRequestItem>(true) {}

  // Appends under the write lock and indexes the item's group.  A
  // configured item also enters the device filter (and the pattern items);
  // discovery's copies need not: their device is in the table already.
  void Append(TRequestItem* item, bool configured = true);
  // Frees every item and forgets the indexes.
  void Reset();
  // The index of the first item of the group, -1 when there is none.
  // Caller holds a side of the lock.
  int32_t GroupStart(uint32_t groupId) const REQUIRES_SHARED(this);
  // The highest group number in the list (0 when empty).  Caller holds a
  // side of the lock.
  uint32_t MaxGroupId() const REQUIRES_SHARED(this) { return maxGroupId_; }
  // The positions of the pattern items, in list order.  Caller holds a side
  // of the lock.
  const std::vector<int32_t>& PatternItems() const REQUIRES_SHARED(this) { return patterns_; }
  // How much the configured items want the device at conn.  Caller holds a
  // side of the lock.
  bacnet::TDeviceWanted Wanted(const bacnet::TDeviceConnInfo& conn) const REQUIRES_SHARED(this) {
    return filter_.Wanted(conn);
  }

 private:
  // The indexes are the list's, under its lock.
  std::vector<int32_t> groupStart_ GUARDED_BY(this);  // by group number
  uint32_t maxGroupId_ GUARDED_BY(this) = 0;
  std::vector<int32_t> patterns_ GUARDED_BY(this);
  TDeviceFilter filter_ GUARDED_BY(this);
};

// Hold one side of a request list's lock for a scope.
using TRequestListRead = kel::TReadLocked<TRequestList>;
using TRequestListWrite = kel::TWriteLocked<TRequestList>;

}  // namespace bacnet_module
