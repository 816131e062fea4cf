#include "runtime/rwlock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
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

// Readers and writers at the same time.  A waiting writer closes the door
// to new readers (it would starve otherwise), and a thread that has left the
// read side is a stranger again: it waits for a writer like any other.
TEST(RWLockMixed, NewReaderWaitsBehindWaitingWriterAndReaderReturningWaitsForWriter) {
  TMREWSync lock;
  std::mutex orderMutex;
  std::string order;
  auto note = [&](char c) {
    std::lock_guard<std::mutex> g(orderMutex);
    order.push_back(c);
  };

  // A reader holds the lock; a writer queues behind it.
  Event firstIn, firstLeave;
  std::thread first([&] {
    lock.BeginRead();
    firstIn.Set();
    firstLeave.Wait();
    note('r');
    lock.EndRead();
  });
  ASSERT_TRUE(firstIn.Wait());
  Event writerStarted, writerIn, writerLeave;
  std::thread writer([&] {
    writerStarted.Set();
    lock.BeginWrite();
    note('W');
    writerIn.Set();
    writerLeave.Wait();
    note('w');
    lock.EndWrite();
  });
  ASSERT_TRUE(writerStarted.Wait());
  ASSERT_FALSE(writerIn.Wait(50ms));

  // A newcomer that would be let in beside the reader waits for the writer.
  Event lateIn;
  std::thread late([&] {
    lock.BeginRead();
    note('L');
    lateIn.Set();
    lock.EndRead();
  });
  EXPECT_FALSE(lateIn.Wait(50ms));
  firstLeave.Set();
  ASSERT_TRUE(writerIn.Wait());
  EXPECT_FALSE(lateIn.Wait(20ms));  // still out while the writer is in

  // The first reader comes back while the writer holds the lock: it has
  // left, so it waits too.
  Event againIn;
  first.join();
  std::thread again([&] {
    lock.BeginRead();
    note('A');
    againIn.Set();
    lock.EndRead();
  });
  EXPECT_FALSE(againIn.Wait(50ms));
  writerLeave.Set();
  EXPECT_TRUE(lateIn.Wait());
  EXPECT_TRUE(againIn.Wait());
  writer.join();
  late.join();
  again.join();
  ASSERT_EQ(order.size(), 5u);
  EXPECT_EQ(order.substr(0, 3), "rWw") << order;
}

// The same thread reads, leaves and reads again while another thread holds
// the write side: its second read waits, and so does a read of a thread that
// read many times before.
TEST(RWLockMixed, RepeatedReadsAfterLeavingWaitForAWriter) {
  TMREWSync lock;
  for (int round = 0; round < 3; ++round) {
    Event readOnce, writerHolds, rereadIn, go;
    std::thread reader([&] {
      for (int i = 0; i <= round; ++i) lock.BeginRead();
      for (int i = 0; i <= round; ++i) lock.EndRead();
      readOnce.Set();
      go.Wait();
      lock.BeginRead();
      rereadIn.Set();
      lock.EndRead();
    });
    ASSERT_TRUE(readOnce.Wait());
    lock.BeginWrite();
    go.Set();
    EXPECT_FALSE(rereadIn.Wait(50ms)) << "round " << round;
    lock.EndWrite();
    EXPECT_TRUE(rereadIn.Wait());
    reader.join();
  }
}

// Many readers and writers at once: a writer never sees a reader inside, a
// reader never sees a half-done write, and every write is counted.  Run
// under ThreadSanitizer, a broken exclusion shows as a data race on the
// plain fields too.
TEST(RWLockMixed, ReadersAndWritersTogetherKeepTheInvariant) {
  TMREWSync lock;
  long a = 0, b = 0;  // a == b outside writes
  std::atomic<int> readersInside{0};
  std::atomic<bool> writerSawReader{false}, readerSawTorn{false};
  std::atomic<int> reads{0};
  constexpr int kWrites = 400;
  auto writerBody = [&] {
    for (int i = 0; i < kWrites; ++i) {
      WriteGuard g(lock);
      if (readersInside.load() != 0) writerSawReader = true;
      ++a;
      if (i % 7 == 0) {  // the writer also reads, and writes again, inside
        ReadGuard r(lock);
        WriteGuard again(lock);
      }
      ++b;
    }
  };
  auto readerBody = [&] {
    for (int i = 0; i < 1500; ++i) {
      ReadGuard g(lock);
      readersInside.fetch_add(1);
      if (i % 5 == 0) {
        ReadGuard nested(lock);
        if (a != b) readerSawTorn = true;
      }
      if (a != b) readerSawTorn = true;
      readersInside.fetch_sub(1);
      reads.fetch_add(1);
    }
  };
  std::thread w1(writerBody), w2(writerBody), r1(readerBody), r2(readerBody), r3(readerBody);
  w1.join();
  w2.join();
  r1.join();
  r2.join();
  r3.join();
  EXPECT_FALSE(writerSawReader);
  EXPECT_FALSE(readerSawTorn);
  EXPECT_EQ(a, 2 * kWrites);
  EXPECT_EQ(b, 2 * kWrites);
  EXPECT_EQ(reads, 4500);
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
