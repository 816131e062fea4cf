#include <benchmark/benchmark.h>

#include <memory>

#include "runtime/thread_queue.h"

namespace {

struct Item {
  int value;
};

// One push and one pop: the steady state of the data path's inbound queue.
void BM_QueuePushPopPair(benchmark::State& state) {
  kel::TThreadSafeQueue<Item> q;
  for (auto _ : state) {
    q.Push(std::make_unique<Item>(Item{1}));
    auto p = q.Pop();
    benchmark::DoNotOptimize(p);
  }
}
BENCHMARK(BM_QueuePushPopPair);

// Bursts of 1000 pushes then 1000 pops, which crosses the compaction point.
void BM_QueueBurst1000(benchmark::State& state) {
  kel::TThreadSafeQueue<Item> q;
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) q.Push(std::make_unique<Item>(Item{i}));
    for (int i = 0; i < 1000; ++i) benchmark::DoNotOptimize(q.Pop());
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_QueueBurst1000);

}  // namespace
