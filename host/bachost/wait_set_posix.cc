#include "wait_set.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace host {

namespace {

// Events taken from the kernel per wait: a turn handles at most this many
// ready handles, the others stay ready for the next.
constexpr size_t kEventsPerWait = 256;

}  // namespace

WaitSet::WaitSet() : poll_(::epoll_create1(EPOLL_CLOEXEC)), events_(kEventsPerWait * sizeof(epoll_event)) {}

WaitSet::~WaitSet() {
  if (poll_ >= 0) ::close(poll_);
}

bool WaitSet::Watch(size_t index, WaitHandle handle) {
  epoll_event e{};
  e.events = EPOLLIN;
  e.data.u64 = index;
  return poll_ >= 0 && ::epoll_ctl(poll_, EPOLL_CTL_ADD, static_cast<int>(handle), &e) == 0;
}

size_t WaitSet::Add(WaitHandle handle) {
  handles_.push_back(handle);
  const size_t index = handles_.size() - 1;
  if (handle != kNoWaitHandle && !Watch(index, handle)) failed_ = true;
  return index;
}

void WaitSet::Set(size_t index, WaitHandle handle) {
  if (handles_[index] == handle) return;
  if (handles_[index] != kNoWaitHandle && poll_ >= 0)
    ::epoll_ctl(poll_, EPOLL_CTL_DEL, static_cast<int>(handles_[index]), nullptr);
  handles_[index] = handle;
  if (handle != kNoWaitHandle && !Watch(index, handle)) failed_ = true;
}

bool WaitSet::Wait(int timeoutMs, std::vector<bool>* ready) {
  ready->assign(handles_.size(), false);
  if (poll_ < 0 || failed_) return false;
  auto* events = reinterpret_cast<epoll_event*>(events_.data());
  const int n = ::epoll_wait(poll_, events, static_cast<int>(kEventsPerWait), timeoutMs < 0 ? 0 : timeoutMs);
  if (n < 0) return errno == EINTR;  // a signal: its handler set the wake-up channel
  for (int i = 0; i < n; ++i) {
    const auto index = static_cast<size_t>(events[i].data.u64);
    if (index < ready->size() && (events[i].events & (EPOLLIN | EPOLLERR | EPOLLHUP)) != 0) (*ready)[index] = true;
  }
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
