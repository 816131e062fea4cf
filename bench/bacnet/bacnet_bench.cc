#include <benchmark/benchmark.h>

#include <array>
#include <memory>
#include <vector>

#include "bacnet/bacnet_stack.h"

using namespace bacnet;

namespace {

const std::vector<uint8_t> kAckReal = {0x81, 0x0A, 0x00, 0x17, 0x01, 0x00, 0x30, 0x04, 0x0C, 0x0C, 0x00, 0x00,
                                       0x00, 0x03, 0x19, 0x55, 0x3E, 0x44, 0x42, 0x28, 0x00, 0x00, 0x3F};

// A queued ReadProperty-ACK with a Real, matched to its request; the queue
// is refilled outside the timed region.
void BM_ProcessReceivedRealAck(benchmark::State& state) {
  TBACnetStack stack;
  const TDeviceConnInfo expected{TIpEndPoint{"192.168.1.20", 47808, false}};
  TProperty result;
  constexpr int kBatch = 4096;
  int left = 0;
  for (auto _ : state) {
    if (left == 0) {
      state.PauseTiming();
      for (int i = 0; i < kBatch; ++i)
        stack.Inbound.Push(std::make_unique<TBacDataItem>(kAckReal.data(), static_cast<int32_t>(kAckReal.size()),
                                                          "192.168.1.20", 47808));
      left = kBatch;
      state.ResumeTiming();
    }
    --left;
    if (stack.ProcessReceived(4, expected, result) != 0x30) state.SkipWithError("not matched");
    benchmark::DoNotOptimize(result.Value);
  }
}
BENCHMARK(BM_ProcessReceivedRealAck);

// The whole receive path: the item made and queued, then processed.
void BM_PushAndProcessRealAck(benchmark::State& state) {
  TBACnetStack stack;
  const TDeviceConnInfo expected{TIpEndPoint{"192.168.1.20", 47808, false}};
  TProperty result;
  for (auto _ : state) {
    stack.Inbound.Push(std::make_unique<TBacDataItem>(kAckReal.data(), static_cast<int32_t>(kAckReal.size()),
                                                      "192.168.1.20", 47808));
    stack.ProcessReceived(4, expected, result);
    benchmark::DoNotOptimize(result.Value);
  }
}
BENCHMARK(BM_PushAndProcessRealAck);

void BM_BuildReadPropertyFrame(benchmark::State& state) {
  TDeviceConnInfo conn{TIpEndPoint{"192.168.1.20", 47808, false}};
  if (state.range(0)) {
    conn.Network = 5;
    const uint8_t station[] = {0x34};
    conn.SetStationAddress(station, 1);
  }
  std::array<uint8_t, kMaxRequestLength> frame;
  uint32_t instance = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(BuildReadPropertyFrame(frame, conn, ++instance & 0xFFFF, 0, 85));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_BuildReadPropertyFrame)->Arg(0)->Arg(1)->ArgName("routed");

// ReadProperty through the stack, the send handler included.
void BM_ReadProperty(benchmark::State& state) {
  TBACnetStack stack;
  int64_t octets = 0;
  stack.OnSend = [&](TBACnetStack&, TBacBytes f, const TDeviceConnInfo&, int32_t len) {
    octets += f[static_cast<size_t>(len) - 1];
    return 0;
  };
  TDeviceConnInfo conn{TIpEndPoint{"192.168.1.20", 47808, false}};
  for (auto _ : state) {
    ++conn.InvokeId;
    benchmark::DoNotOptimize(stack.ReadProperty(conn, 3, 0, 85));
  }
  benchmark::DoNotOptimize(octets);
}
BENCHMARK(BM_ReadProperty);

struct Sample {
  const char* name;
  std::vector<uint8_t> octets;
};

const std::vector<Sample>& Samples() {
  static const std::vector<Sample> s = {
      {"null", {0x00}},
      {"boolean", {0x11, 0x3F}},
      {"unsigned", {0x23, 0x01, 0x86, 0xA0}},
      {"signed", {0x32, 0xFF, 0x38}},
      {"real", {0x44, 0x42, 0x28, 0x00, 0x00}},
      {"double", {0x55, 0x08, 0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18}},
      {"octet_string", {0x65, 0x08, 1, 2, 3, 4, 5, 6, 7, 8}},
      {"char_string", {0x75, 0x0C, 0x00, 'B', 'o', 'i', 'l', 'e', 'r', ' ', 'r', 'o', 'o', 'm'}},
      {"bit_string", {0x83, 0x04, 0xA5, 0xF0}},
      {"enumerated", {0x91, 0x03}},
      {"date", {0xA4, 0x7C, 0x03, 0x0F, 0xFF}},
      {"time", {0xB4, 0x17, 0x3B, 0x3B, 0x00}},
      {"object_id", {0xC4, 0x02, 0x00, 0x04, 0xD2}},
  };
  return s;
}

void BM_DecodeApplicationValue(benchmark::State& state) {
  const Sample& s = Samples()[static_cast<size_t>(state.range(0))];
  state.SetLabel(s.name);
  kel::Variant v;
  for (auto _ : state) {
    int32_t pos = 0;
    benchmark::DoNotOptimize(DecodeApplicationValue(s.octets, pos, v));
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_DecodeApplicationValue)->DenseRange(0, 12);

}  // namespace
