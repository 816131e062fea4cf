#include "notify_pipe.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host {

namespace {

// Message 0 tells the reader to stop.
constexpr uint32_t kStopMessage = 0;

bool ReadAll(int fd, void* buf, size_t n) {
  auto* at = static_cast<char*>(buf);
  while (n > 0) {
    ssize_t r = ::read(fd, at, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    at += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

}  // namespace

NotifyPipe::~NotifyPipe() { Stop(); }

bool NotifyPipe::Start(Handler handler) {
  Stop();
  int fds[2];
  if (::pipe(fds) != 0) return false;
  fds_[0] = fds[0];
  fds_[1] = fds[1];
  const int readEnd = fds[0];
  reader_ = std::thread([readEnd, handler = std::move(handler)] {
    uint32_t msg[3];
    while (ReadAll(readEnd, msg, sizeof msg)) {
      if (msg[0] == kStopMessage) break;
      if (handler) handler(msg[0], msg[1], msg[2]);
    }
  });
  return true;
}

void NotifyPipe::Stop() {
  if (fds_[1] >= 0) {
    const uint32_t stop[3] = {kStopMessage, 0, 0};
    ssize_t w;
    do {
      w = ::write(static_cast<int>(fds_[1]), stop, sizeof stop);
    } while (w < 0 && errno == EINTR);
  }
  if (reader_.joinable()) reader_.join();
  for (int64_t& fd : fds_) {
    if (fd >= 0) ::close(static_cast<int>(fd));
    fd = -1;
  }
}

}  // namespace host
