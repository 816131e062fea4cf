// A plain mutex (not re-entrant) that the lock annotations know, and its
// guard for a scope.  std::mutex carries no annotations of its own.
#pragma once

#include <mutex>

#include "platform/thread_annotations.h"

namespace port {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void Lock() ACQUIRE() { m_.lock(); }
  void Unlock() RELEASE() { m_.unlock(); }

 private:
  friend class MutexLock;
  std::mutex m_;
};

// Holds a Mutex for a scope; it may be let go and taken again within it.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& m) ACQUIRE(m) : l_(m.m_) {}
  ~MutexLock() RELEASE() {}
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;
  void Unlock() RELEASE() { l_.unlock(); }
  void Lock() ACQUIRE() { l_.lock(); }
  // What a condition variable waits with: it lets the mutex go while it
  // waits and holds it again when the wait returns.
  std::unique_lock<std::mutex>& Waitable() { return l_; }

 private:
  std::unique_lock<std::mutex> l_;
};

}  // namespace port
