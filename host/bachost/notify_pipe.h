// The host's notification channel on POSIX: a pipe whose write end the host
// hands to the module as "MSG-PROC-HANDLE".  A reader thread takes the
// 12-byte messages (message, wParam, lParam) off the read end and hands each
// to a callback.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

namespace host {

class NotifyPipe {
 public:
  using Handler = std::function<void(uint32_t message, uint32_t wparam, uint32_t lparam)>;

  NotifyPipe() = default;
  ~NotifyPipe();
  NotifyPipe(const NotifyPipe&) = delete;
  NotifyPipe& operator=(const NotifyPipe&) = delete;

  // Opens the pipe and starts the reader; false when the pipe cannot be made.
  bool Start(Handler handler);
  // Stops the reader (after the messages already written) and closes the pipe.
  void Stop();
  // The descriptor to pass as "MSG-PROC-HANDLE"; -1 when not started.
  int WriteEnd() const { return fds_[1]; }

 private:
  int fds_[2] = {-1, -1};
  std::thread reader_;
};

}  // namespace host
