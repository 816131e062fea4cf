#include "runtime/thread_object.h"

namespace kel {

TThreadObject::TThreadObject(void* protectedObject)
    : protected_(protectedObject ? protectedObject : this) {}

TThreadObject::~TThreadObject() { delete lock_.load(); }

TMREWSync& TThreadObject::Sync() {
  TMREWSync* l = lock_.load(std::memory_order_acquire);
  if (!l) {
    port::Guard g(guard_);
    l = lock_.load(std::memory_order_relaxed);
    if (!l) {
      l = new TMREWSync();
      lock_.store(l, std::memory_order_release);
    }
  }
  return *l;
}

void* TThreadObject::LockReadObject() {
  Sync().BeginRead();
  return protected_;
}

void TThreadObject::UnlockRead() { Sync().EndRead(); }

void* TThreadObject::LockWriteObject() {
  Sync().BeginWrite();
  return protected_;
}

void TThreadObject::UnlockWrite() { Sync().EndWrite(); }

TThreadStringList::TThreadStringList() = default;

TThreadStringList::~TThreadStringList() {
  WriteGuard g(Sync());
  list_.clear();
}

TThreadStringList::List& TThreadStringList::LockWrite() {
  Sync().BeginWrite();
  return list_;
}
void TThreadStringList::UnlockWrite() { Sync().EndWrite(); }
const TThreadStringList::List& TThreadStringList::LockRead() {
  Sync().BeginRead();
  return list_;
}
void TThreadStringList::UnlockRead() { Sync().EndRead(); }

int32_t TThreadStringList::Count() {
  ReadGuard g(Sync());
  return static_cast<int32_t>(list_.size());
}

}  // namespace kel
