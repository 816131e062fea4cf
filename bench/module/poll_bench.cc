// The polling module's costs: an answer that ends a group, an I-Am with
// many devices known, the request list built from a large configuration,
// and a tick with nothing due.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/iam_frame.h"
#include "framework/exports_impl.h"
#include "framework/instance_registry.h"
#include "module/request_config.h"
#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"
#include "params/params_list.h"
#include "runtime/timing/timer_ex.h"

using namespace bacnet_module;
using testutil::IAmFrame;

namespace {

std::vector<uint8_t> g_lastFrame;

int32_t KEL_STDCALL CaptureSend(int32_t, int32_t, int32_t, int32_t, int32_t kind, void* data, int32_t count) {
  if (kind == KEL_DATA_KIND_SEND) {
    const auto* m = static_cast<const uint8_t*>(data);
    const std::string text(reinterpret_cast<const char*>(m), static_cast<size_t>(count));
    const size_t at = text.find(">>");
    g_lastFrame.assign(m + at + 2, m + count);
  }
  return 0;
}

std::string Items(int count, bool enabled, const std::string& instances, int interval) {
  std::string x = "<Request><Enabled>" + std::string(enabled ? "1" : "0") +
                  "</Enabled><EP>192.168.1.30</EP><Instance>" + instances +
                  "</Instance><MethodPoll>1</MethodPoll><PollInterval>" + std::to_string(interval) +
                  "</PollInterval><Response>";
  for (int i = 0; i < count; ++i)
    x += "<I><Name>P" + std::to_string(i) + "</Name><DataType>D00</DataType><Instance>" + std::to_string(i) +
         "</Instance></I>";
  return x + "</Response></Request>";
}

std::string InstanceList(int n) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += std::to_string(i) + ";";
  return s;
}

// A loaded instance with one communication module whose list is built
// from xml; ticks are the benchmark's own.
struct Rig {
  uint32_t handle = 0;
  TaPlugin* plugin = nullptr;
  TSerialPortDM* module = nullptr;
  kel::TkelParamsList params;

  explicit Rig(const std::string& xml) {
    kel::InitializeFramework();
    kel::TkelTimerEx::SetManualTicks(true);
    RegisterModuleClass();
    TPluginCallRec rec = NewRec();
    rec.Params = &params;
    kel::DoCreatePluginInstance(&rec);
    handle = rec.Instance;
    plugin = static_cast<TaPlugin*>(kel::ResolveHandle(handle).get());
    plugin->Host.SendDataEx = &CaptureSend;
    plugin->Config = new TDataSourceCfg(plugin);
    plugin->Config->lblParams_Caption = xml;
    plugin->Config->chkReadDevProp_Checked = false;
    plugin->Unloaded = false;
    plugin->TypeEnabled[0] = true;
    plugin->TypeEnabled[1] = true;
    module = new TSerialPortDM(plugin);
    module->DataSourceId = 1;
    BuildRequestList(*plugin, plugin->Config, module->RequestList, module);
  }
  ~Rig() {
    TPluginCallRec rec = NewRec();
    rec.Instance = handle;
    kel::DoFreePluginInstance(&rec);
  }
  static TPluginCallRec NewRec() {
    TPluginCallRec rec;
    std::memset(&rec, 0, sizeof rec);
    rec.Size = KEL_CALLREC_SIZE;
    return rec;
  }
};

// The answer to the frame sent last: a Real.
std::vector<uint8_t> AnswerLast() {
  const std::vector<uint8_t>& f = g_lastFrame;
  std::vector<uint8_t> a = {0x81, 0x0A, 0x00, 0x00, 0x01, 0x00, 0x30, f[8], 0x0C};
  a.insert(a.end(), f.begin() + 10, f.begin() + 15);  // object identifier
  a.insert(a.end(), {0x19, 0x55, 0x3E, 0x44, 0x41, 0xA8, 0x00, 0x00, 0x3F});
  a[3] = static_cast<uint8_t>(a.size());
  return a;
}

// ProcessData of the Complex-ACK that ends a group of 4.  The group is the
// last of the list, behind the other configured items (disabled, of one
// device), so the list holds exactly the items the name says; the group's
// first three items hold values already, and its last is the request out.
// Each round also puts the request out again and clears the record the
// host received (as a host does before its next call): a few stores under
// the list's lock, and freeing 12 items.  Nothing is paused: pausing the
// timer costs two clock system calls a round, more than what is measured.
void BM_AnswerEndingAGroup(benchmark::State& state) {
  const int others = static_cast<int>(state.range(0)) - 4;
  Rig rig("<MODBUSRTUQUERY>" + (others > 0 ? Items(others, false, "1", 0) : "") + Items(4, true, "7", 0) +
          "</MODBUSRTUQUERY>");
  if (rig.module->RequestList.Count() != static_cast<int32_t>(state.range(0))) {
    state.SkipWithError("wrong count");
    return;
  }
  TPluginCallRec rec = Rig::NewRec();
  rec.Instance = rig.handle;
  rec.DataSourceId = 1;
  rec.CallTypes = 0b10;
  std::strcpy(rec.PeerAddress, "192.168.1.30:47808");
  kel::TkelParamsList input, output;
  rec.Params = &input;
  rig.module->TimerTick();  // registers the device
  TRequestItem* last = nullptr;
  {
    auto& items = rig.module->RequestList.LockList();
    for (size_t i = items.size() - 4; i < items.size(); ++i) items[i]->Value = kel::Variant(1.5);
    last = items.back();
    rig.module->RequestList.UnlockList();
  }
  g_lastFrame = {0x81, 0x0A, 0x00, 0x11, 0x01, 0x04, 0x00, 0x05, 0x00, 0x0C, 0x0C, 0x00, 0x00, 0x00, 0x03, 0x19, 0x55};
  std::vector<uint8_t> answer = AnswerLast();
  uint8_t invoke = 0;
  for (auto _ : state) {
    {
      rig.module->RequestList.LockList();
      last->Pending = true;
      last->InvokeId = ++invoke;
      rig.module->Current = last;
      rig.module->RequestList.UnlockList();
    }
    answer[7] = invoke;
    output.Clear();
    rec.Input.Kind = KEL_KIND_BUFFER;
    rec.Input.Size = static_cast<uint32_t>(answer.size());
    rec.Input.Value = reinterpret_cast<uintptr_t>(answer.data());
    rec.Output.Kind = KEL_KIND_RAW_LIST;
    rec.Output.Value = reinterpret_cast<uintptr_t>(&output);
    kel::DoProcessData(&rec);
    if (rec.Input.Value != reinterpret_cast<uintptr_t>(answer.data())) std::free(reinterpret_cast<void*>(rec.Input.Value));
    if (output.Count() != 4 + 3 + 4 + 1) {
      state.SkipWithError(("no record: " + std::to_string(output.Count())).c_str());
      break;
    }
  }
}
BENCHMARK(BM_AnswerEndingAGroup)->Arg(100)->Arg(100000)->ArgName("items");

// The address of device k of a table, 10.x.y.z; its I-Am names instance
// 100000 + k.
std::string TableAddress(uint32_t k) {
  return "10." + std::to_string(k / 62500) + "." + std::to_string(k / 250 % 250) + "." + std::to_string(k % 250 + 1);
}

// ProcessData of an I-Am with n devices known (found by the pattern
// 10.255.255.255 / "*"): of a known device again (what a router looping
// broadcasts sends), and of a device no request can use (dropped), both
// spread over the table.  The cost is meant to stay the same at any n.
void BM_ProcessDataIAm(benchmark::State& state) {
  const auto n = static_cast<uint32_t>(state.range(0));
  const bool stranger = state.range(1) != 0;
  Rig rig("<MODBUSRTUQUERY><Request><Enabled>1</Enabled><EP>10.255.255.255</EP><Instance>*</Instance>"
          "<MethodPoll>1</MethodPoll><PollInterval>3600000</PollInterval><Response><I><Name>P</Name>"
          "<DataType>D00</DataType><Instance>1</Instance></I></Response></Request></MODBUSRTUQUERY>");
  for (uint32_t k = 0; k < n; ++k) {
    bacnet::TDeviceConnInfo c{bacnet::TIpEndPoint{TableAddress(k), 47808, false}};
    rig.module->Stack.RegisterDevice(c, 100000 + k, nullptr, nullptr);
  }
  struct Sample {
    std::vector<uint8_t> frame;
    std::string peer;
  };
  std::vector<Sample> samples;
  for (uint32_t i = 0; i < 1024; ++i) {
    const auto k = static_cast<uint32_t>((i * 7919ull) % n);
    samples.push_back({IAmFrame(100000 + k), (stranger ? "172.16.0." + std::to_string(i % 250 + 1) : TableAddress(k)) +
                                                 ":47808"});
  }
  TPluginCallRec rec = Rig::NewRec();
  rec.Instance = rig.handle;
  rec.DataSourceId = 1;
  rec.CallTypes = 0b10;
  kel::TkelParamsList input, output;
  rec.Params = &input;
  size_t i = 0;
  for (auto _ : state) {
    const Sample& s = samples[i++ & 1023];
    std::strcpy(rec.PeerAddress, s.peer.c_str());
    rec.Input.Kind = KEL_KIND_BUFFER;
    rec.Input.Size = static_cast<uint32_t>(s.frame.size());
    rec.Input.Value = reinterpret_cast<uintptr_t>(s.frame.data());
    rec.Output.Kind = KEL_KIND_RAW_LIST;
    rec.Output.Value = reinterpret_cast<uintptr_t>(&output);
    kel::DoProcessData(&rec);
  }
  if (rig.module->Stack.Data.Devices.Count() != static_cast<int32_t>(n)) state.SkipWithError("the table changed");
}
BENCHMARK(BM_ProcessDataIAm)->ArgsProduct({{10, 1000, 100000}, {0, 1}})->ArgNames({"devices", "stranger"});

// The request list of a configuration of 100,000 items: 1,000 devices of
// 100 items each.
void BM_BuildRequestList(benchmark::State& state) {
  Rig rig("<MODBUSRTUQUERY></MODBUSRTUQUERY>");
  rig.plugin->Config->lblParams_Caption =
      "<MODBUSRTUQUERY>" + Items(100, true, InstanceList(1000), 1000) + "</MODBUSRTUQUERY>";
  size_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    rig.module->RequestList.Reset();
    malloc_trim(0);
    const size_t before = mallinfo2().uordblks;
    state.ResumeTiming();
    BuildRequestList(*rig.plugin, rig.plugin->Config, rig.module->RequestList, rig.module);
    state.PauseTiming();
    bytes = mallinfo2().uordblks - before;
    if (rig.module->RequestList.Count() != 100000) {
      state.SkipWithError("wrong count");
      break;
    }
    state.ResumeTiming();
  }
  state.counters["bytes_per_item"] = static_cast<double>(bytes) / 100000.0;
}
BENCHMARK(BM_BuildRequestList)->Unit(benchmark::kMillisecond);

// A tick that finds nothing due.
void BM_IdleTick(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Rig rig("<MODBUSRTUQUERY>" + Items(n / 10, true, InstanceList(10), 3600000) + "</MODBUSRTUQUERY>");
  {
    auto& items = rig.module->RequestList.LockList();
    for (TRequestItem* item : items) item->Stopwatch.Start();
    rig.module->RequestList.UnlockList();
  }
  g_lastFrame.clear();
  for (auto _ : state) rig.module->TimerTick();
  if (!g_lastFrame.empty()) state.SkipWithError("something was sent");
}
BENCHMARK(BM_IdleTick)->Arg(1000)->Arg(100000)->ArgName("items")->Unit(benchmark::kMicrosecond);

}  // namespace
