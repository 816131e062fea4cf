// A text field that one thread may replace while others read it (the log
// title: the host renames it with a command while the module logs from its
// own threads).  Every access copies under a small lock, so a reader never
// sees a text half replaced.
#pragma once

#include <string>

#include "platform/port.h"

namespace kel {

class TSharedText {
 public:
  TSharedText() = default;
  TSharedText(const TSharedText&) = delete;
  TSharedText& operator=(const TSharedText&) = delete;

  TSharedText& operator=(std::string text) {
    {
      port::Guard g(lock_);
      text_.swap(text);
    }
    return *this;  // the old text is freed outside the lock
  }
  TSharedText& operator=(const char* text) { return *this = std::string(text ? text : ""); }

  std::string Get() const {
    port::Guard g(lock_);
    return text_;
  }
  operator std::string() const { return Get(); }
  bool empty() const {
    port::Guard g(lock_);
    return text_.empty();
  }
  void clear() { *this = std::string(); }

 private:
  mutable port::CriticalSection lock_;
  std::string text_ GUARDED_BY(lock_);
};

}  // namespace kel
