// Lookup and insertion costs of the parameter list, and a value read through
// the interface as a host makes it.
#include <benchmark/benchmark.h>

#include <string>

#include "params/params_list.h"
#include "params/params_list_wrap.h"
#include "params/params_ref.h"

namespace {

void Fill(kel::TkelParamsList& list, int n) {
  for (int i = 0; i < n; ++i) list.Add("Parameter_" + std::to_string(i), kel::Variant(int32_t(i)));
}

// Worst case: the wanted item is the last one.
void BM_IndexOfLast(benchmark::State& state) {
  kel::TkelParamsList list;
  const int n = static_cast<int>(state.range(0));
  Fill(list, n);
  const std::string name = "PARAMETER_" + std::to_string(n - 1);
  for (auto _ : state) benchmark::DoNotOptimize(list.IndexOf(name));
}
BENCHMARK(BM_IndexOfLast)->Arg(10)->Arg(100)->Arg(1000);

void BM_IndexOfMissing(benchmark::State& state) {
  kel::TkelParamsList list;
  Fill(list, static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(list.IndexOf("NotThere"));
}
BENCHMARK(BM_IndexOfMissing)->Arg(10)->Arg(100)->Arg(1000);

void BM_Add(benchmark::State& state) {
  kel::TkelParamsList list;
  const kel::Variant value(int32_t(42));
  int64_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(list.Add("DATA_SOURCE_ID", value));
    if (++n == 4096) {
      state.PauseTiming();
      list.Clear();
      n = 0;
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_Add);

void BM_AddText(benchmark::State& state) {
  kel::TkelParamsList list;
  const kel::Variant value("192.168.1.20:47808");
  int64_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(list.Add("REMOTE_ADDRESS", value));
    if (++n == 4096) {
      state.PauseTiming();
      list.Clear();
      n = 0;
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_AddText);

// GetValue through the raw function table, out variant cleared each time.
void BM_IntfGetValue(benchmark::State& state) {
  kel::TkelParamsList list;
  Fill(list, 20);
  list.Add("Text", kel::Variant("some text value"));
  IkelParamsListA* a = kel::TkelParamsListWrap::NewRefA(&list);
  const char* name = state.range(0) ? "Text" : "parameter_19";
  for (auto _ : state) {
    kel_variant out{};
    benchmark::DoNotOptimize(a->vtbl->GetValue(a, name, 0, -1, &out));
    kel::ClearBoundary(&out);
  }
  a->vtbl->Release(a);
}
BENCHMARK(BM_IntfGetValue)->Arg(0)->Arg(1);

void BM_ParamsRefGetValue(benchmark::State& state) {
  kel::TkelParamsList list;
  Fill(list, 20);
  kel::ParamsRef r(kel::TkelParamsListWrap::NewRefA(&list), true);
  for (auto _ : state) benchmark::DoNotOptimize(r.GetValue("parameter_19"));
}
BENCHMARK(BM_ParamsRefGetValue);

}  // namespace
