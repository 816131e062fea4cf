#include "wait_set.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace host {

size_t WaitSet::Add(WaitHandle handle) {
  handles_.push_back(handle);
  return handles_.size() - 1;
}

bool WaitSet::Wait(int timeoutMs, std::vector<bool>* ready) {
  std::vector<pollfd> fds(handles_.size());
  for (size_t i = 0; i < handles_.size(); ++i) fds[i] = pollfd{static_cast<int>(handles_[i]), POLLIN, 0};
  ready->assign(handles_.size(), false);
  int n = ::poll(fds.data(), static_cast<nfds_t>(fds.size()), timeoutMs < 0 ? 0 : timeoutMs);
  if (n < 0) return errno == EINTR;  // a signal: its handler set the wake-up channel
  for (size_t i = 0; i < fds.size(); ++i) (*ready)[i] = (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
  return true;
}

WakeupChannel::~WakeupChannel() {
  for (WaitHandle& fd : fds_) {
    if (fd >= 0) ::close(static_cast<int>(fd));
    fd = kNoWaitHandle;
  }
}

bool WakeupChannel::Open() {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  for (int fd : fds) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  fds_[0] = fds[0];
  fds_[1] = fds[1];
  return true;
}

void WakeupChannel::Set() {
  if (fds_[1] < 0) return;
  const char one = 1;
  // A full pipe already wakes the loop: a failed write loses nothing.
  ssize_t r;
  do {
    r = ::write(static_cast<int>(fds_[1]), &one, 1);
  } while (r < 0 && errno == EINTR);
}

void WakeupChannel::Clear() {
  if (fds_[0] < 0) return;
  char buf[256];
  while (::read(static_cast<int>(fds_[0]), buf, sizeof buf) > 0) {
  }
}

}  // namespace host
