// Multi-reader, single-writer lock.  Callers rely on all of these:
//  - any number of threads may read at once; a writer excludes everyone else;
//  - the write side is recursive;
//  - the writer may also take (and release) the read side;
//  - the read side is recursive per thread;
//  - a reader may ask for the write side: it waits until the other readers have
//    left.  Two readers asking at once do not deadlock: one gets the write
//    side first while the other keeps waiting.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/port.h"

namespace kel {

class TMREWSync {
 public:
  TMREWSync();
  ~TMREWSync();
  TMREWSync(const TMREWSync&) = delete;
  TMREWSync& operator=(const TMREWSync&) = delete;

  void BeginRead();
  void EndRead();
  void BeginWrite();
  void EndWrite();

 private:
  struct Holder {
    uint32_t thread;
    int32_t reads;
    bool waitingForWrite;
  };
  Holder* Find(uint32_t thread);
  int32_t BlockingReaders(uint32_t self) const;

  port::CriticalSection cs_;
  port::CondVar changed_;
  std::vector<Holder> holders_;
  uint32_t writer_ = 0;
  int32_t writeDepth_ = 0;
  int32_t writersWaiting_ = 0;
};

class ReadGuard {
 public:
  explicit ReadGuard(TMREWSync& l) : l_(l) { l_.BeginRead(); }
  ~ReadGuard() { l_.EndRead(); }
  ReadGuard(const ReadGuard&) = delete;
  ReadGuard& operator=(const ReadGuard&) = delete;

 private:
  TMREWSync& l_;
};

class WriteGuard {
 public:
  explicit WriteGuard(TMREWSync& l) : l_(l) { l_.BeginWrite(); }
  ~WriteGuard() { l_.EndWrite(); }
  WriteGuard(const WriteGuard&) = delete;
  WriteGuard& operator=(const WriteGuard&) = delete;

 private:
  TMREWSync& l_;
};

}  // namespace kel
