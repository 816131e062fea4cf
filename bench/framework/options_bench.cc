// A host fetching the module's options package: the size call, then the
// call with a buffer of that size (both with the module's real resources).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "framework/exports_impl.h"
#include "framework/instance_registry.h"
#include "module/ta_plugin.h"
#include "params/params_list.h"

namespace {

void BM_GetOptionsDialogTwoCalls(benchmark::State& state) {
  kel::InitializeFramework();
  bacnet_module::RegisterModuleClass();
  kel::TkelParamsList params;
  TPluginCallRec create{};
  create.Size = KEL_CALLREC_SIZE;
  create.Params = &params;
  kel::DoCreatePluginInstance(&create);
  std::string buffer;
  for (auto _ : state) {
    TPluginCallRec rec{};
    rec.Size = KEL_CALLREC_SIZE;
    rec.Instance = create.Instance;
    kel::DoGetOptionsDialog(&rec);
    buffer.assign(rec.Output.Size, '\0');
    rec.Input.Size = rec.Output.Size;
    rec.Input.Value = reinterpret_cast<uintptr_t>(buffer.data());
    kel::DoGetOptionsDialog(&rec);
    benchmark::DoNotOptimize(rec.Output.Value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
  kel::DoFreePluginInstance(&create);
}
BENCHMARK(BM_GetOptionsDialogTwoCalls);

}  // namespace
