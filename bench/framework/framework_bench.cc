// The host conversation's hot paths: a command round trip, one ProcessData
// call, the log written and drained, and a line added to a full log.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "framework/exports_impl.h"
#include "framework/instance_registry.h"
#include "framework/kel_plugin.h"
#include "framework/log_data_list.h"
#include "params/params_list.h"

namespace {

TPluginCallRec Rec() {
  TPluginCallRec rec;
  std::memset(&rec, 0, sizeof rec);
  rec.Size = sizeof rec;
  return rec;
}

// One instance of the plain framework class, with a trivial handler.
uint32_t NewInstance() {
  kel::InitializeFramework();
  kel::RegisterPluginClass([](TPluginCallRec* rec, uint32_t h) -> kel::TkelPlugin* {
    auto* p = new kel::TkelPlugin(rec, h);
    p->EventsSupported = "PORT-OPEN";
    p->OnProcessData = [](kel::TkelPlugin&, TPluginCallRec* r, int32_t& result) {
      result = static_cast<int32_t>(r->Input.Size);
    };
    return p;
  });
  kel::TkelParamsList params;
  TPluginCallRec rec = Rec();
  rec.Params = &params;
  kel::DoCreatePluginInstance(&rec);
  return rec.Instance;
}

void FreeInstance(uint32_t h) {
  TPluginCallRec rec = Rec();
  rec.Instance = h;
  kel::DoFreePluginInstance(&rec);
}

void BM_ExecuteEventsSupport(benchmark::State& state) {
  const uint32_t h = NewInstance();
  kel::TkelParamsList params;
  params.Add("COMMAND", kel::Variant("EVENTS-SUPPORT"));
  params.Add("RESULT", kel::Variant());
  for (auto _ : state) {
    TPluginCallRec rec = Rec();
    rec.Instance = h;
    rec.Params = &params;
    benchmark::DoNotOptimize(kel::DoExecutePluginCommand(&rec));
  }
  FreeInstance(h);
}
BENCHMARK(BM_ExecuteEventsSupport);

void BM_ProcessData20Bytes(benchmark::State& state) {
  const uint32_t h = NewInstance();
  kel::TkelParamsList params;
  uint8_t frame[20] = {0x81, 0x0A, 0x00, 0x14};
  for (auto _ : state) {
    TPluginCallRec rec = Rec();
    rec.Instance = h;
    rec.Params = &params;
    rec.CallTypes = 1u << 1;
    rec.Input.Kind = KEL_KIND_BUFFER;
    rec.Input.Size = sizeof frame;
    rec.Input.Value = reinterpret_cast<uintptr_t>(frame);
    benchmark::DoNotOptimize(kel::DoProcessData(&rec));
  }
  FreeInstance(h);
}
BENCHMARK(BM_ProcessData20Bytes);

// 10,000 distinct lines through AddLog, then one GetLogEx into a buffer.
void BM_AddLogAndGetLogEx10k(benchmark::State& state) {
  const uint32_t h = NewInstance();
  auto inst = kel::ResolveHandle(h);
  std::vector<std::string> messages;
  for (int i = 0; i < 10000; ++i) messages.push_back("message number " + std::to_string(i));
  std::vector<char> buffer(1 << 20);
  for (auto _ : state) {
    for (const auto& m : messages) inst->AddLog(2, m);
    TPluginCallRec rec = Rec();
    rec.Instance = h;
    rec.Input.Size = static_cast<uint32_t>(buffer.size());
    rec.Input.Value = reinterpret_cast<uintptr_t>(buffer.data());
    benchmark::DoNotOptimize(kel::DoGetLogEx(&rec));
  }
  state.SetItemsProcessed(state.iterations() * 10000);
  inst.reset();
  FreeInstance(h);
}
BENCHMARK(BM_AddLogAndGetLogEx10k)->Unit(benchmark::kMillisecond);

// A line added to a log at its limit: the oldest line goes.
void BM_AddLineToFullLog(benchmark::State& state) {
  kel::TLogDataList log(51200);
  for (int i = 0; i < 51200; ++i) log.AddLine("\x03" "filler line " + std::to_string(i));
  std::string lines[2] = {"\x03" "new line A", "\x03" "new line B"};
  size_t i = 0;
  for (auto _ : state) log.AddLine(lines[i++ & 1]);
  state.counters["lines"] = log.Count();
}
BENCHMARK(BM_AddLineToFullLog);

}  // namespace
