// Threads, locks and clocks on POSIX.
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/port.h"

namespace port {

static_assert(sizeof(pthread_mutex_t) <= 64, "critical section storage");
static_assert(sizeof(pthread_cond_t) <= 64, "condition storage");

static pthread_mutex_t* M(unsigned char* s) { return reinterpret_cast<pthread_mutex_t*>(s); }
static pthread_cond_t* C(unsigned char* s) { return reinterpret_cast<pthread_cond_t*>(s); }

CriticalSection::CriticalSection() {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(new (storage_) pthread_mutex_t, &attr);
  pthread_mutexattr_destroy(&attr);
}
CriticalSection::~CriticalSection() { pthread_mutex_destroy(M(storage_)); }
void CriticalSection::Enter() { pthread_mutex_lock(M(storage_)); }
void CriticalSection::Leave() { pthread_mutex_unlock(M(storage_)); }
bool CriticalSection::TryEnter() { return pthread_mutex_trylock(M(storage_)) == 0; }

CondVar::CondVar(CriticalSection* cs) : cs_(cs) {
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(new (storage_) pthread_cond_t, &attr);
  pthread_condattr_destroy(&attr);
}
CondVar::~CondVar() { pthread_cond_destroy(C(storage_)); }
void CondVar::Wait() { pthread_cond_wait(C(storage_), M(cs_->storage_)); }
bool CondVar::WaitFor(uint32_t milliseconds) {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  ts.tv_sec += milliseconds / 1000;
  ts.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  return pthread_cond_timedwait(C(storage_), M(cs_->storage_), &ts) != ETIMEDOUT;
}
void CondVar::Signal() { pthread_cond_signal(C(storage_)); }
void CondVar::SignalAll() { pthread_cond_broadcast(C(storage_)); }

uint32_t CurrentThreadId() {
  // Asked on every lock operation: one system call per thread, not per call.
  thread_local const uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
  return id;
}
void YieldThread() { sched_yield(); }
void SleepMs(uint32_t milliseconds) {
  timespec ts{static_cast<time_t>(milliseconds / 1000),
              static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

uint64_t TickCount64() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}
uint32_t TickCount32() { return static_cast<uint32_t>(TickCount64()); }

}  // namespace port
