#include "notify_channel.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host {

NotifyChannel::~NotifyChannel() {
  for (WaitHandle& fd : fds_) {
    if (fd >= 0) ::close(static_cast<int>(fd));
    fd = kNoWaitHandle;
  }
}

bool NotifyChannel::Open(std::string* error) {
  int fds[2];
  if (::pipe(fds) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  // The module writes when the pipe takes the message at once and otherwise
  // waits a bounded time; only the loop's end does not block.
  ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  fds_[0] = fds[0];
  fds_[1] = fds[1];
  return true;
}

std::vector<NotifyMessage> NotifyChannel::Take() {
  std::vector<NotifyMessage> out;
  if (fds_[0] < 0) return out;
  uint8_t buf[12 * 64];
  // Bounded, so that a flood of messages cannot hold the loop here.
  for (int reads = 0; reads < 64; ++reads) {
    ssize_t n = ::read(static_cast<int>(fds_[0]), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    partial_.insert(partial_.end(), buf, buf + n);
  }
  size_t at = 0;
  for (; at + 12 <= partial_.size(); at += 12) {
    NotifyMessage m;
    std::memcpy(&m.message, &partial_[at], 4);
    std::memcpy(&m.wparam, &partial_[at + 4], 4);
    std::memcpy(&m.lparam, &partial_[at + 8], 4);
    out.push_back(m);
  }
  partial_.erase(partial_.begin(), partial_.begin() + static_cast<std::ptrdiff_t>(at));
  return out;
}

}  // namespace host
