#include <benchmark/benchmark.h>
#include <malloc.h>

#include <array>
#include <memory>
#include <string>
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

// A table of n devices on 250 addresses, as a flood or a large site leaves it.
TDeviceConnInfo TableDevice(uint32_t k) {
  TDeviceConnInfo c{TIpEndPoint{"10." + std::to_string(k / 62500) + "." + std::to_string(k / 250 % 250) + "." +
                                    std::to_string(k % 250 + 1),
                                47808, false}};
  c.Instance = 100000 + k;
  return c;
}

void Fill(TBACnetStack& stack, uint32_t n) {
  for (uint32_t k = 0; k < n; ++k) {
    const TDeviceConnInfo c = TableDevice(k);
    stack.RegisterDevice(c, c.Instance, nullptr, nullptr, true);
  }
}

// The send path's look-up of a request's device (under the read side, as
// the tick does), spread over the table; beside it the scan of the list
// that the look-up replaced, on the same table.
void BM_SendPathDeviceLookup(benchmark::State& state) {
  const auto n = static_cast<uint32_t>(state.range(0));
  const bool scan = state.range(1) != 0;
  TBACnetStack stack;
  Fill(stack, n);
  std::vector<TDeviceConnInfo> probes;
  for (uint32_t k = 0; k < 1024; ++k) probes.push_back(TableDevice(static_cast<uint32_t>((k * 7919ull) % n)));
  size_t i = 0;
  for (auto _ : state) {
    const TDeviceConnInfo& c = probes[i++ & 1023];
    TDeviceReadLock lock(stack.Data.Devices);
    TDevice* found = nullptr;
    if (scan) {
      for (TDevice* d : lock.Items())
        if (SameEndPoint(d->ConnInfo.EndPoint, c.EndPoint) && d->ConnInfo.Instance == c.Instance) {
          found = d;
          break;
        }
    } else {
      found = stack.FindDevice(c, c.Instance);
    }
    if (!found) state.SkipWithError("not found");
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_SendPathDeviceLookup)
    ->ArgsProduct({{10, 1000, 100000}, {0, 1}})
    ->ArgNames({"devices", "scan"});

// Memory the table takes per device (devices, list and index), as the heap
// counts it.
void BM_DeviceTableMemory(benchmark::State& state) {
  constexpr uint32_t kDevices = 100000;
  double perDevice = 0;
  for (auto _ : state) {
    auto stack = std::make_unique<TBACnetStack>();
    std::vector<TDeviceConnInfo> conns;
    for (uint32_t k = 0; k < kDevices; ++k) conns.push_back(TableDevice(k));
    malloc_trim(0);
    const size_t before = mallinfo2().uordblks;
    for (const TDeviceConnInfo& c : conns) stack->RegisterDevice(c, c.Instance, nullptr, nullptr, true);
    perDevice = static_cast<double>(mallinfo2().uordblks - before) / kDevices;
    if (stack->Data.Devices.Count() != static_cast<int32_t>(kDevices)) state.SkipWithError("wrong count");
  }
  state.counters["bytes_per_device"] = perDevice;
  state.counters["sizeof_device"] = sizeof(TDevice);
}
BENCHMARK(BM_DeviceTableMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

// A ReadPropertyMultiple-ACK of n Real present values (22: what 480 octets
// carry), checked and read into results.
void BM_DecodeReadPropertyMultipleAck(benchmark::State& state) {
  const auto n = static_cast<uint32_t>(state.range(0));
  std::vector<uint8_t> ack = {0x30, 0x04, 0x0E};
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t result[] = {0x0C, 0x00, 0x00, 0x00, static_cast<uint8_t>(i), 0x1E, 0x29, 0x55,
                              0x4E, 0x44, 0x42, 0x28, 0x00, 0x00, 0x4F, 0x1F};
    ack.insert(ack.end(), std::begin(result), std::end(result));
  }
  double sum = 0;
  auto take = [&](const TRpmResult& r) { sum += r.Value.RawDouble(); };
  for (auto _ : state) {
    if (DecodeReadPropertyMultipleAck(ack, 0, n, take) != TRpmStatus::Ok) state.SkipWithError("not read");
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_DecodeReadPropertyMultipleAck)->Arg(1)->Arg(22)->Arg(70);

void BM_BuildReadPropertyMultipleFrame(benchmark::State& state) {
  const TDeviceConnInfo conn{TIpEndPoint{"192.168.1.20", 47808, false}};
  std::vector<TRpmItem> items(static_cast<size_t>(state.range(0)));
  for (uint32_t i = 0; i < items.size(); ++i) items[i] = {0, i};
  std::array<uint8_t, kMaxRpmRequestLength> frame;
  for (auto _ : state) benchmark::DoNotOptimize(BuildReadPropertyMultipleFrame(frame, conn, items));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildReadPropertyMultipleFrame)->Arg(22)->Arg(70);

}  // namespace
