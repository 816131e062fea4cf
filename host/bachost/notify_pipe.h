// A notification target with a thread of its own, for hosts whose loop does
// not read notifications itself.  POSIX (notify_pipe_posix.cc): a pipe whose
// write end the host hands to the module as "MSG-PROC-HANDLE"; a reader
// thread takes the 12-byte messages (message, wParam, lParam) off the read
// end.  Windows (notify_pipe_win32.cc): a message-only window of a thread
// that runs a message loop.  Each message goes to a callback on that thread.
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
  // The value to pass as "MSG-PROC-HANDLE" (a descriptor, or a window on
  // Windows); -1 when not started.
  int64_t WriteEnd() const { return fds_[1]; }

 private:
  int64_t fds_[2] = {-1, -1};  // on Windows: the loop thread's id, the window
  std::thread reader_;
};

}  // namespace host
