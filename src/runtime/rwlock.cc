#include "runtime/rwlock.h"

namespace kel {

TMREWSync::TMREWSync() : changed_(&cs_) {}
TMREWSync::~TMREWSync() = default;

TMREWSync::Holder* TMREWSync::Find(uint32_t thread) {
  for (auto& h : holders_)
    if (h.thread == thread) return &h;
  return nullptr;
}

// Readers other than self that are not themselves waiting to write.
int32_t TMREWSync::BlockingReaders(uint32_t self) const {
  int32_t n = 0;
  for (const auto& h : holders_)
    if (h.thread != self && h.reads > 0 && !h.waitingForWrite) n += h.reads;
  return n;
}

void TMREWSync::BeginRead() {
  uint32_t self = port::CurrentThreadId();
  port::Guard g(cs_);
  if (Holder* h = Find(self)) {
    // Recursive read, or read inside our own write: granted at once.
    ++h->reads;
    return;
  }
  if (writer_ != self) {
    // New readers give way to waiting writers so that writers are not starved.
    while (writer_ != 0 || writersWaiting_ > 0) changed_.Wait();
  }
  holders_.push_back(Holder{self, 1, false});
}

void TMREWSync::EndRead() {
  uint32_t self = port::CurrentThreadId();
  port::Guard g(cs_);
  for (size_t i = 0; i < holders_.size(); ++i) {
    if (holders_[i].thread == self) {
      if (--holders_[i].reads > 0) return;  // still a reader: nobody can go on
      holders_.erase(holders_.begin() + static_cast<std::ptrdiff_t>(i));
      // Only writers wait for readers to leave.
      if (writersWaiting_ > 0) changed_.SignalAll();
      return;
    }
  }
}

void TMREWSync::BeginWrite() {
  uint32_t self = port::CurrentThreadId();
  port::Guard g(cs_);
  if (writer_ == self) {
    ++writeDepth_;
    return;
  }
  Holder* mine = Find(self);
  if (mine) mine->waitingForWrite = true;
  ++writersWaiting_;
  while (writer_ != 0 || BlockingReaders(self) > 0) changed_.Wait();
  --writersWaiting_;
  if ((mine = Find(self)) != nullptr) mine->waitingForWrite = false;
  writer_ = self;
  writeDepth_ = 1;
}

void TMREWSync::EndWrite() {
  uint32_t self = port::CurrentThreadId();
  port::Guard g(cs_);
  if (writer_ != self) return;
  if (--writeDepth_ <= 0) {
    writeDepth_ = 0;
    writer_ = 0;
    changed_.SignalAll();
  }
}

}  // namespace kel
