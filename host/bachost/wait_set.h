// Waiting for several handles at once, with a bound: the host's event loop
// waits on its sockets, the notification channel and the wake-up channel.
// The set is kept between waits, not built again for each: on POSIX
// (wait_set_posix.cc) an epoll set that reports only the handles that are
// ready, on Windows the list of events, made again only when it changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace host {

using WaitHandle = intptr_t;  // a descriptor on POSIX
constexpr WaitHandle kNoWaitHandle = -1;

class WaitSet {
 public:
  WaitSet();
  ~WaitSet();
  WaitSet(const WaitSet&) = delete;
  WaitSet& operator=(const WaitSet&) = delete;

  // Adds a handle to wait for reading; its index in Wait's result.
  size_t Add(WaitHandle handle);
  // Replaces the handle at index; kNoWaitHandle is no longer waited for.
  void Set(size_t index, WaitHandle handle);
  // Waits at most timeoutMs (0: just looks) for any handle to become
  // readable; ready[i] tells for handle i.  False when waiting failed.
  bool Wait(int timeoutMs, std::vector<bool>* ready);

 private:
  std::vector<WaitHandle> handles_;
#ifdef _WIN32
  void Rebuild();
  bool stale_ = true;
  std::vector<void*> events_;   // the handles waited for (HANDLEs),
  std::vector<size_t> index_;   // and their indexes
#else
  bool Watch(size_t index, WaitHandle handle);
  int poll_ = -1;  // the epoll set
  bool failed_ = false;  // a handle could not be added: Wait fails
  std::vector<unsigned char> events_;  // room for what one wait reports
#endif
};

// A channel another thread (or a signal handler) sets to wake the loop.
class WakeupChannel {
 public:
  WakeupChannel() = default;
  ~WakeupChannel();
  WakeupChannel(const WakeupChannel&) = delete;
  WakeupChannel& operator=(const WakeupChannel&) = delete;

  bool Open();
  // Safe from any thread and from a signal handler.
  void Set();
  // Empties the channel (loop thread).
  void Clear();
  WaitHandle Handle() const { return fds_[0]; }
  // The descriptor Set writes to, for a signal handler.
  WaitHandle SetHandle() const { return fds_[1]; }

 private:
  WaitHandle fds_[2] = {kNoWaitHandle, kNoWaitHandle};
};

}  // namespace host
