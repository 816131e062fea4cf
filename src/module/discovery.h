// One running discovery of a communication module: the endpoint a Who-Is
// went to and when.
#pragma once

#include <atomic>

#include "bacnet/bacnet_endpoint.h"
#include "runtime/thread_object.h"
#include "runtime/timing/kel_timeout.h"

namespace bacnet_module {

// A Who-Is to one endpoint is repeated at most this often.
constexpr uint32_t kDiscoveryRepeatMs = 30000;

// Results of StartDiscovery.
constexpr int32_t kDiscoveryNotNeeded = 0;  // the item names its device exactly
constexpr int32_t kDiscoverySent = 1;       // a Who-Is went out now
constexpr int32_t kDiscoveryRecent = 2;     // one for the endpoint went out less than kDiscoveryRepeatMs ago

struct TDiscoverRequest {
  bacnet::TDeviceConnInfo Connection;
  kel::TkelTimeout Stopwatch;  // clear until the first Who-Is
  // An I-Am from a device it matches came since the first Who-Is (set on
  // the data thread, read on the tick's).
  std::atomic<bool> Answered{false};
  std::atomic<bool> Reported{false};  // the Who-Is without an answer was logged
};

// The running discoveries of a communication module (owned).
using TDiscoveryList = kel::TThreadObjectList<TDiscoverRequest>;

// Whether an item names its devices by pattern: a broadcast endpoint, or
// any device ("*") at any endpoint.
bool IsPatternConnection(const bacnet::TDeviceConnInfo& c);

}  // namespace bacnet_module
