// Lock-protected containers: a lock-holding base object, an object list and a
// string list.  The lock is a TMREWSync (see rwlock.h).
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/port.h"
#include "runtime/rwlock.h"

namespace kel {

// A lock-holding object.  The lock is made on first use.  The protected object
// is whatever the derived class guards; LockRead/LockWrite return it.  To the
// lock annotations the object is its own lock: a field a container guards is
// GUARDED_BY the container, and Sync() names the container.
class CAPABILITY("container lock") TThreadObject {
 public:
  explicit TThreadObject(void* protectedObject = nullptr);
  virtual ~TThreadObject();
  TThreadObject(const TThreadObject&) = delete;
  TThreadObject& operator=(const TThreadObject&) = delete;

  void* LockReadObject() ACQUIRE_SHARED();
  void UnlockRead() RELEASE_SHARED();
  void* LockWriteObject() ACQUIRE();
  void UnlockWrite() RELEASE();
  void Unlock() RELEASE() { UnlockWrite(); }

  TMREWSync& Sync() RETURN_CAPABILITY(this);

 protected:
  void SetProtected(void* p) { protected_ = p; }

 private:
  port::CriticalSection guard_;
  std::atomic<TMREWSync*> lock_{nullptr};
  void* protected_;
};

// An object list under a reader/writer lock; it may own its objects.
template <class T>
class TThreadObjectList : public TThreadObject {
 public:
  using List = std::vector<T*>;

  explicit TThreadObjectList(bool ownsObjects) : owns_(ownsObjects) { SetProtected(&list_); }
  ~TThreadObjectList() override {
    WriteGuard g(Sync());
    FreeAll();
  }

  List& LockList() ACQUIRE() { return *static_cast<List*>(LockWriteObject()); }
  const List& LockRead() ACQUIRE_SHARED() { return *static_cast<List*>(LockReadObject()); }
  List& LockWrite() ACQUIRE() { return LockList(); }
  void UnlockList() RELEASE() { UnlockWrite(); }
  // The items, for a caller that holds a side of the lock already.
  const List& Held() const REQUIRES_SHARED(this) { return list_; }

  void Add(T* item) {
    WriteGuard g(Sync());
    list_.push_back(item);
  }
  void Clear() {
    WriteGuard g(Sync());
    FreeAll();
  }
  int32_t Count() {
    ReadGuard g(Sync());
    return static_cast<int32_t>(list_.size());
  }

 private:
  void FreeAll() REQUIRES(this) {
    List items;
    items.swap(list_);
    if (owns_)
      for (T* p : items) delete p;
  }

  bool owns_;
  List list_ GUARDED_BY(this);
};

// One entry of a string list: a text and an optional object reference.
struct TStringEntry {
  std::string text;
  void* object = nullptr;
};

// A string list under its own reader/writer lock.  Entries are kept in order
// (unsorted, duplicates allowed); removing the oldest entry is O(1).  As the
// object containers, the list is its own lock to the annotations.
class CAPABILITY("container lock") TThreadStringList {
 public:
  using List = std::deque<TStringEntry>;

  TThreadStringList();
  virtual ~TThreadStringList();
  TThreadStringList(const TThreadStringList&) = delete;
  TThreadStringList& operator=(const TThreadStringList&) = delete;

  List& LockWrite() ACQUIRE();
  void UnlockWrite() RELEASE();
  const List& LockRead() ACQUIRE_SHARED();
  void UnlockRead() RELEASE_SHARED();
  int32_t Count();
  TMREWSync& Sync() RETURN_CAPABILITY(this) { return lock_; }

 private:
  TMREWSync lock_;  // taken through Sync() only
  List list_ GUARDED_BY(this);
};

// Holds one side of a lock-protected container's lock for a scope: the
// object lists, the string lists and the shared parameter list (anything
// with LockRead/UnlockRead and LockWrite/UnlockWrite).  Items() is what the
// lock guards; the read side gives it read-only where the container does.
// To the annotations the scope holds the container (shared on the read side).
template <class Container, bool Write>
class SCOPED_CAPABILITY TLockedScope {
 public:
  using ItemsRef = std::conditional_t<Write, decltype(std::declval<Container&>().LockWrite()),
                                     decltype(std::declval<Container&>().LockRead())>;

  explicit TLockedScope(Container& c) requires Write ACQUIRE(c) : c_(c), items_(c.LockWrite()) {}
  explicit TLockedScope(Container& c) requires(!Write) ACQUIRE_SHARED(c) : c_(c), items_(c.LockRead()) {}
  ~TLockedScope() RELEASE() {
    if constexpr (Write) c_.UnlockWrite();
    else c_.UnlockRead();
  }
  TLockedScope(const TLockedScope&) = delete;
  TLockedScope& operator=(const TLockedScope&) = delete;

  ItemsRef Items() const { return items_; }

 private:
  Container& c_;
  ItemsRef items_;
};

template <class Container>
using TReadLocked = TLockedScope<Container, false>;
template <class Container>
using TWriteLocked = TLockedScope<Container, true>;

}  // namespace kel
