// The simulator's answering cost: one ReadProperty, and one global Who-Is
// answered by a generated building of 1000 devices (the I-Am flood).
#include <benchmark/benchmark.h>

#include "building.h"
#include "responder.h"

using namespace bacsim;

namespace {

Building Generated(uint32_t local, uint32_t routed) {
  Building b;
  b.devices.clear();
  GenerateSpec g;
  g.local = local;
  g.routed = routed;
  std::string error;
  Generate(b, g, error);
  return b;
}

void Run(benchmark::State& state, Responder& r, size_t socket, const Bytes& frame) {
  std::vector<Outgoing> out;
  std::vector<std::string> log;
  size_t answers = 0;
  for (auto _ : state) {
    out.clear();
    log.clear();
    r.Handle({socket, {0x7F000001, 40000}, frame.data(), frame.size()}, 12.5, out, log);
    answers += out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["answers/s"] = benchmark::Counter(static_cast<double>(answers), benchmark::Counter::kIsRate);
}

void BM_ReadPropertyPresentValue(benchmark::State& state) {
  Responder r(Generated(10, 0));
  const Bytes rp = {0x81, 0x0A, 0x00, 0x11, 0x01, 0x04, 0x00, 0x05, 0x07, 0x0C,
                    0x0C, 0x00, 0x00, 0x00, 0x00, 0x19, 0x55};
  Run(state, r, 1, rp);  // socket 0 is the broadcast address, 1 the first device
}
BENCHMARK(BM_ReadPropertyPresentValue);

void BM_RoutedReadProperty(benchmark::State& state) {
  Responder r(Generated(0, 1000));
  const Bytes rp = {0x81, 0x0A, 0x00, 0x17, 0x01, 0x24, 0x00, 0x05, 0x02, 0x01, 0xF4, 0xFF,
                    0x00, 0x05, 0x07, 0x0C, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x19, 0x55};
  Run(state, r, 1, rp);  // the router; station 0x01F4
}
BENCHMARK(BM_RoutedReadProperty);

void BM_GlobalWhoIsTo1000Devices(benchmark::State& state) {
  Responder r(Generated(1000, 0));
  const Bytes whoIs = {0x81, 0x0B, 0x00, 0x0C, 0x01, 0x20, 0xFF, 0xFF, 0x00, 0xFF, 0x10, 0x08};
  Run(state, r, 0, whoIs);
}
BENCHMARK(BM_GlobalWhoIsTo1000Devices);

}  // namespace
