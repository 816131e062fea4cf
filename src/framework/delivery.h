// Raw-text buffers handed back to the host in a ProcessData call.
//
// A buffer the module puts into Input (kind 4) is always a block it
// allocated during that call (port::HostAlloc); the host frees it.  A buffer
// the host passed in is never reallocated or freed: its text is copied into a
// new block.  The scope marks one call on the calling thread, so that a block
// replaced by a later delivery of the same call can be freed.
#pragma once

namespace kel {

class DeliveryScope {
 public:
  DeliveryScope();
  ~DeliveryScope();
  DeliveryScope(const DeliveryScope&) = delete;
  DeliveryScope& operator=(const DeliveryScope&) = delete;

 private:
  void* saved_;
};

// The current local date and time as an OLE date (days since 30 December 1899).
double LocalNowOleDate();

}  // namespace kel
