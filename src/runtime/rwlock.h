// Multi-reader, single-writer lock.  Callers rely on all of these:
//  - any number of threads may read at once; a writer excludes everyone else;
//  - the write side is recursive;
//  - the writer may also take (and release) the read side;
//  - the read side is recursive per thread;
//  - a reader may ask for the write side: it waits until the other readers have
//    left.  Two readers asking at once do not deadlock: one gets the write
//    side first while the other keeps waiting.
// The lock annotations see the two sides as one capability held shared or
// exclusive; they do not follow the recursion or the reader that asks for
// the write side (a function that would take a side its caller holds is
// written as one that requires it instead).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/port.h"

namespace kel {

class CAPABILITY("reader/writer lock") TMREWSync {
 public:
  TMREWSync();
  ~TMREWSync();
  TMREWSync(const TMREWSync&) = delete;
  TMREWSync& operator=(const TMREWSync&) = delete;

  void BeginRead() ACQUIRE_SHARED();
  void EndRead() RELEASE_SHARED();
  void BeginWrite() ACQUIRE();
  void EndWrite() RELEASE();

 private:
  struct Holder {
    uint32_t thread;
    int32_t reads;
    bool waitingForWrite;
  };
  Holder* Find(uint32_t thread) REQUIRES(cs_);
  int32_t BlockingReaders(uint32_t self) const REQUIRES(cs_);

  port::CriticalSection cs_;
  port::CondVar changed_;  // waits in cs_
  std::vector<Holder> holders_ GUARDED_BY(cs_);
  uint32_t writer_ GUARDED_BY(cs_) = 0;
  int32_t writeDepth_ GUARDED_BY(cs_) = 0;
  int32_t writersWaiting_ GUARDED_BY(cs_) = 0;
};

// Holds the read side for a scope.
class SCOPED_CAPABILITY ReadGuard {
 public:
  explicit ReadGuard(TMREWSync& l) ACQUIRE_SHARED(l) : l_(l) { l_.BeginRead(); }
  ~ReadGuard() RELEASE() { l_.EndRead(); }
  ReadGuard(const ReadGuard&) = delete;
  ReadGuard& operator=(const ReadGuard&) = delete;

 private:
  TMREWSync& l_;
};

// Holds the write side for a scope.
class SCOPED_CAPABILITY WriteGuard {
 public:
  explicit WriteGuard(TMREWSync& l) ACQUIRE(l) : l_(l) { l_.BeginWrite(); }
  ~WriteGuard() RELEASE() { l_.EndWrite(); }
  WriteGuard(const WriteGuard&) = delete;
  WriteGuard& operator=(const WriteGuard&) = delete;

 private:
  TMREWSync& l_;
};

}  // namespace kel
