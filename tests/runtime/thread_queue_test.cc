#include "runtime/thread_queue.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace kel {
namespace {

struct Counted {
  explicit Counted(int v, int* live) : value(v), live(live) { ++*live; }
  ~Counted() { --*live; }
  int value;
  int* live;
};

TEST(ThreadSafeQueue, FifoOrderAndEmptyPop) {
  int live = 0;
  TThreadSafeQueue<Counted> q;
  EXPECT_EQ(q.Pop(), nullptr);
  for (int i = 0; i < 3; ++i) q.Push(std::make_unique<Counted>(i, &live));
  q.Push(nullptr);
  EXPECT_EQ(q.Count(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(q.Pop()->value, i);
  EXPECT_EQ(q.Pop(), nullptr);
  EXPECT_EQ(live, 0);
}

TEST(ThreadSafeQueue, OrderSurvivesCompaction) {
  int live = 0;
  TThreadSafeQueue<Counted> q;
  const int total = 16384 + 100;
  for (int i = 0; i < total; ++i) q.Push(std::make_unique<Counted>(i, &live));
  for (int i = 0; i < 16384; ++i) ASSERT_EQ(q.Pop()->value, i);
  // The dead head slots were dropped in one move.
  EXPECT_EQ(q.SlotCount(), 100u);
  for (int i = 16384; i < total; ++i) ASSERT_EQ(q.Pop()->value, i);
  EXPECT_EQ(q.Pop(), nullptr);
  EXPECT_EQ(live, 0);
}

TEST(ThreadSafeQueue, DestroyFreesQueuedItems) {
  int live = 0;
  {
    TThreadSafeQueue<Counted> q;
    for (int i = 0; i < 5; ++i) q.Push(std::make_unique<Counted>(i, &live));
    q.Pop();
  }
  EXPECT_EQ(live, 0);
}

TEST(DataItem, CopiesAndOptionallyFreesSource) {
  const char text[] = "frame";
  TDataItem a(text, false, 5);
  ASSERT_EQ(a.Size(), 5);
  EXPECT_EQ(std::memcmp(a.Data(), "frame", 5), 0);
  TDataItem empty(nullptr, false, 10);
  EXPECT_EQ(empty.Size(), 0);
  EXPECT_EQ(empty.Data(), nullptr);
  void* block = std::malloc(4);
  std::memcpy(block, "abcd", 4);
  TDataItem owned(block, true, 4);  // ASan reports a leak if the source is kept
  EXPECT_EQ(owned.Size(), 4);
}

}  // namespace
}  // namespace kel
