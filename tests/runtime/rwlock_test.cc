#include "runtime/rwlock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/test_event.h"
#include "runtime/thread_object.h"

namespace kel {
namespace {

using namespace std::chrono_literals;

using testutil::Event;

TEST(RWLock, ReadersShare) {
  TMREWSync lock;
  Event firstIn, secondIn, release;
  std::thread a([&] {
    lock.BeginRead();
    firstIn.Set();
    release.Wait();
    lock.EndRead();
  });
  ASSERT_TRUE(firstIn.Wait());
  std::thread b([&] {
    lock.BeginRead();  // must not wait for a
    secondIn.Set();
    lock.EndRead();
  });
  EXPECT_TRUE(secondIn.Wait());
  release.Set();
  a.join();
  b.join();
}

TEST(RWLock, WriteIsRecursiveAndAllowsRead) {
  TMREWSync lock;
  lock.BeginWrite();
  lock.BeginWrite();
  lock.BeginRead();
  lock.BeginRead();
  lock.EndRead();
  lock.EndRead();
  lock.EndWrite();
  // Still held once: another thread's reader must wait.
  Event readerIn;
  std::thread t([&] {
    lock.BeginRead();
    readerIn.Set();
    lock.EndRead();
  });
  EXPECT_FALSE(readerIn.Wait(50ms));
  lock.EndWrite();
  EXPECT_TRUE(readerIn.Wait());
  t.join();
}

TEST(RWLock, ReadIsRecursiveEvenWithWriterWaiting) {
  TMREWSync lock;
  lock.BeginRead();
  Event writerIn, writerStarted;
  std::thread w([&] {
    writerStarted.Set();
    lock.BeginWrite();
    writerIn.Set();
    lock.EndWrite();
  });
  ASSERT_TRUE(writerStarted.Wait());
  EXPECT_FALSE(writerIn.Wait(50ms));  // writer waits for our read
  lock.BeginRead();                   // recursive read must not deadlock
  lock.EndRead();
  lock.EndRead();
  EXPECT_TRUE(writerIn.Wait());
  w.join();
}

TEST(RWLock, WriterExcludesAll) {
  TMREWSync lock;
  int shared = 0;
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  auto worker = [&] {
    for (int i = 0; i < 2000; ++i) {
      WriteGuard g(lock);
      if (inside.fetch_add(1) != 0) overlap = true;
      ++shared;
      inside.fetch_sub(1);
    }
  };
  std::thread a(worker), b(worker), c(worker);
  a.join();
  b.join();
  c.join();
  EXPECT_FALSE(overlap);
  EXPECT_EQ(shared, 6000);
}

TEST(RWLock, ReaderAsksForWriteAfterOtherReadersLeave) {
  TMREWSync lock;
  Event otherIn, upgraded, otherLeave;
  std::thread other([&] {
    lock.BeginRead();
    otherIn.Set();
    otherLeave.Wait();
    lock.EndRead();
  });
  ASSERT_TRUE(otherIn.Wait());
  std::thread upgrader([&] {
    lock.BeginRead();
    lock.BeginWrite();
    upgraded.Set();
    lock.EndWrite();
    lock.EndRead();
  });
  EXPECT_FALSE(upgraded.Wait(50ms));
  otherLeave.Set();
  EXPECT_TRUE(upgraded.Wait());
  other.join();
  upgrader.join();
}

TEST(RWLock, TwoReadersAskingForWriteDoNotDeadlock) {
  TMREWSync lock;
  Event bothReading;
  std::atomic<int> readers{0};
  std::atomic<int> done{0};
  auto upgrader = [&] {
    lock.BeginRead();
    if (++readers == 2) bothReading.Set();
    bothReading.Wait();
    lock.BeginWrite();
    lock.EndWrite();
    lock.EndRead();
    ++done;
  };
  std::thread a(upgrader), b(upgrader);
  a.join();
  b.join();
  EXPECT_EQ(done, 2);
}

TEST(ThreadObjectList, OwningListFreesAndNonOwningKeeps) {
  struct Obj {
    explicit Obj(int* live) : live(live) { ++*live; }
    ~Obj() { --*live; }
    int* live;
  };
  int live = 0;
  {
    TThreadObjectList<Obj> owning(true);
    owning.Add(new Obj(&live));
    owning.Add(new Obj(&live));
    EXPECT_EQ(owning.Count(), 2);
  }
  EXPECT_EQ(live, 0);
  Obj keep(&live);
  {
    TThreadObjectList<Obj> borrowing(false);
    borrowing.Add(&keep);
    borrowing.Clear();
    EXPECT_EQ(borrowing.Count(), 0);
  }
  EXPECT_EQ(live, 1);
}

TEST(ThreadObjectList, ConcurrentAddAndCount) {
  TThreadObjectList<int> list(true);
  std::thread a([&] {
    for (int i = 0; i < 1000; ++i) list.Add(new int(i));
  });
  std::thread b([&] {
    for (int i = 0; i < 1000; ++i) {
      const auto& l = list.LockRead();
      volatile size_t n = l.size();
      (void)n;
      list.UnlockRead();
    }
  });
  a.join();
  b.join();
  EXPECT_EQ(list.Count(), 1000);
}

}  // namespace
}  // namespace kel
