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
// is whatever the derived class guards; LockRead/LockWrite return it.
class TThreadObject {
 public:
  explicit TThreadObject(void* protectedObject = nullptr);
  virtual ~TThreadObject();
  TThreadObject(const TThreadObject&) = delete;
  TThreadObject& operator=(const TThreadObject&) = delete;

  void* LockReadObject();
  void UnlockRead();
  void* LockWriteObject();
  void UnlockWrite();
  void Unlock() { UnlockWrite(); }

  TMREWSync& Sync();

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

  List& LockList() { return *static_cast<List*>(LockWriteObject()); }
  const List& LockRead() { return *static_cast<List*>(LockReadObject()); }
  List& LockWrite() { return LockList(); }
  void UnlockList() { UnlockWrite(); }

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
  void FreeAll() {
    List items;
    items.swap(list_);
    if (owns_)
      for (T* p : items) delete p;
  }

  bool owns_;
  List list_;
};

// One entry of a string list: a text and an optional object reference.
struct TStringEntry {
  std::string text;
  void* object = nullptr;
};

// A string list under its own reader/writer lock.  Entries are kept in order
// (unsorted, duplicates allowed); removing the oldest entry is O(1).
class TThreadStringList {
 public:
  using List = std::deque<TStringEntry>;

  TThreadStringList();
  virtual ~TThreadStringList();
  TThreadStringList(const TThreadStringList&) = delete;
  TThreadStringList& operator=(const TThreadStringList&) = delete;

  List& LockWrite();
  void UnlockWrite();
  const List& LockRead();
  void UnlockRead();
  int32_t Count();
  TMREWSync& Sync() { return lock_; }

 private:
  TMREWSync lock_;
  List list_;
};

// Holds one side of a lock-protected container's lock for a scope: the
// object lists, the string lists and the shared parameter list (anything
// with LockRead/UnlockRead and LockWrite/UnlockWrite).  Items() is what the
// lock guards; the read side gives it read-only where the container does.
template <class Container, bool Write>
class TLockedScope {
 public:
  using ItemsRef = std::conditional_t<Write, decltype(std::declval<Container&>().LockWrite()),
                                     decltype(std::declval<Container&>().LockRead())>;

  explicit TLockedScope(Container& c) : c_(c), items_(Lock(c)) {}
  ~TLockedScope() {
    if constexpr (Write) c_.UnlockWrite();
    else c_.UnlockRead();
  }
  TLockedScope(const TLockedScope&) = delete;
  TLockedScope& operator=(const TLockedScope&) = delete;

  ItemsRef Items() const { return items_; }

 private:
  static ItemsRef Lock(Container& c) {
    if constexpr (Write) return c.LockWrite();
    else return c.LockRead();
  }

  Container& c_;
  ItemsRef items_;
};

template <class Container>
using TReadLocked = TLockedScope<Container, false>;
template <class Container>
using TWriteLocked = TLockedScope<Container, true>;

}  // namespace kel
