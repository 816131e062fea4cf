// Several threads share one list through the thread-safe holder.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "params/thread_params_list.h"

namespace kel {
namespace {

TEST(ThreadParamsList, WritersAndReadersKeepTheListWhole) {
  TkelThreadParamsList shared;
  constexpr int kWriters = 3, kPerWriter = 200;
  std::atomic<bool> badRead{false};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w)
    threads.emplace_back([&, w] {
      for (int i = 0; i < kPerWriter; ++i) {
        TkelParamsList& list = shared.LockWrite();
        list.SetValue("counter", Variant(list.GetValue("counter").ToInt32() + 1), true);
        list.Add("w" + std::to_string(w), Variant(int32_t(i)));
        shared.UnlockWrite();
      }
    });
  threads.emplace_back([&] {
    for (int i = 0; i < 300; ++i) {
      TkelParamsList& list = shared.LockRead();
      const int32_t n = list.Count();
      for (int32_t k = 0; k < n; ++k)
        if (!list.Items(k)) badRead = true;
      shared.UnlockRead();
    }
  });
  for (auto& t : threads) t.join();
  EXPECT_FALSE(badRead);
  TkelParamsList& list = shared.LockRead();
  EXPECT_EQ(list.GetValue("counter").ToInt32(), kWriters * kPerWriter);
  EXPECT_EQ(list.Count(), 1 + kWriters * kPerWriter);
  shared.UnlockRead();
}

}  // namespace
}  // namespace kel
