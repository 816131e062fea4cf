// A first-in-first-out queue of owned objects, and the byte-buffer item that
// the data path queues.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/port.h"

namespace kel {

// One queued buffer: a private copy of the bytes.
class TDataItem {
 public:
  // Copies size bytes from source when size > 0 and source is not null.  When
  // freeSource is set, source (a malloc block) is released afterwards.
  TDataItem(const void* source, bool freeSource, int32_t size);
  virtual ~TDataItem();
  TDataItem(const TDataItem&) = delete;
  TDataItem& operator=(const TDataItem&) = delete;

  const uint8_t* Data() const { return data_; }
  int32_t Size() const { return size_; }

 private:
  // Frames are mostly short: those fit in the item itself, without a block
  // of their own to allocate and free.
  static constexpr int32_t kInlineSize = 64;
  uint8_t* data_ = nullptr;
  int32_t size_ = 0;
  uint8_t inline_[kInlineSize];
};

// Pop is O(1): consumed slots stay at the head as empty entries until the read
// position reaches 16384, when the live slots move to the front in one go.
template <class T>
class TThreadSafeQueue {
 public:
  static constexpr size_t kCompactionLimit = 0x3FFF;

  TThreadSafeQueue() = default;
  ~TThreadSafeQueue() {
    port::Guard g(guard_);
    ClearLocked();
  }
  TThreadSafeQueue(const TThreadSafeQueue&) = delete;
  TThreadSafeQueue& operator=(const TThreadSafeQueue&) = delete;

  void Push(std::unique_ptr<T> item) {
    if (!item) return;
    port::Guard g(guard_);
    items_.push_back(item.get());  // a failed append leaves the item with the caller
    item.release();
  }

  std::unique_ptr<T> Pop() {
    port::Guard g(guard_);
    T* result = nullptr;
    if (readPos_ < items_.size()) {
      result = items_[readPos_];
      items_[readPos_] = nullptr;
      ++readPos_;
    }
    if (readPos_ > kCompactionLimit) {
      items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(readPos_));
      readPos_ = 0;
    }
    return std::unique_ptr<T>(result);
  }

  void Clear() {
    port::Guard g(guard_);
    ClearLocked();
  }

  // Number of objects waiting.
  size_t Count() {
    port::Guard g(guard_);
    return items_.size() - readPos_;
  }
  // Slots held, consumed ones included (for tests of the compaction).
  size_t SlotCount() {
    port::Guard g(guard_);
    return items_.size();
  }

  void Lock() ACQUIRE(guard_) { guard_.Enter(); }
  void Unlock() RELEASE(guard_) { guard_.Leave(); }

 private:
  void ClearLocked() REQUIRES(guard_) {
    for (size_t i = items_.size(); i-- > 0;) {
      try {
        delete items_[i];
      } catch (...) {
      }
    }
    items_.clear();
    readPos_ = 0;
  }

  port::CriticalSection guard_;
  std::vector<T*> items_ GUARDED_BY(guard_);
  size_t readPos_ GUARDED_BY(guard_) = 0;
};

}  // namespace kel
