#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "module/data_source_cfg.h"
#include "params/params_list.h"
#include "platform/port.h"
#include "platform/registry.h"
#include "runtime/settings/ini_file.h"
#include "runtime/settings/wreg.h"

namespace {

std::string BenchDir() {
  static std::string dir = [] {
    std::string d = (std::filesystem::temp_directory_path() / "bacnetip-bench-settings").string();
    std::filesystem::create_directories(d);
    setenv("BACNETIP_REGISTRY_DIR", d.c_str(), 1);
    return d;
  }();
  return dir;
}

void FillTenLineMap(kel::TWreg& w) {
  for (const char* line : bacnet_module::kOptionsPersistenceMap) w.Components.Add(line);
}

void Configure(kel::TWreg& w, bool ini) {
  if (ini) {
    w.INIFile = BenchDir() + "/bench.ini";
  } else {
    w.RegistryRoot = kel::TRegistryRoot::rrHKEY_CURRENT_USER;
    w.RegistryPath = "\\Software\\Bench\\Options";
  }
}

void BM_SaveTenLineMap(benchmark::State& state) {
  bool ini = state.range(0) == 1;
  bacnet_module::TDataSourceCfg cfg;
  cfg.lblParams_Caption = "<MODBUSRTUQUERY><REQUEST ENDPOINT=\"127.0.0.1:47808\"/></MODBUSRTUQUERY>";
  kel::TWreg w;
  Configure(w, ini);
  FillTenLineMap(w);
  for (auto _ : state) benchmark::DoNotOptimize(w.Save({&cfg, nullptr}));
}
BENCHMARK(BM_SaveTenLineMap)->Arg(1)->Arg(0)->ArgName("ini");

void BM_LoadTenLineMap(benchmark::State& state) {
  bool ini = state.range(0) == 1;
  bacnet_module::TDataSourceCfg cfg;
  kel::TWreg w;
  Configure(w, ini);
  FillTenLineMap(w);
  w.Save({&cfg, nullptr});
  for (auto _ : state) benchmark::DoNotOptimize(w.Load({&cfg, nullptr}));
}
BENCHMARK(BM_LoadTenLineMap)->Arg(1)->Arg(0)->ArgName("ini");

void BM_SaveHundredLineMap(benchmark::State& state) {
  bool ini = state.range(0) == 1;
  kel::TkelParamsList values;
  kel::TWreg w;
  Configure(w, ini);
  for (int i = 0; i < 100; ++i) {
    std::string name = "Value" + std::to_string(i);
    values.Add(name, kel::Variant(int32_t{i}));
    w.Components.Add(name + ",Group" + std::to_string(i % 10) + "\\" + name);
  }
  for (auto _ : state) benchmark::DoNotOptimize(w.Save({nullptr, &values}));
}
BENCHMARK(BM_SaveHundredLineMap)->Arg(1)->Arg(0)->ArgName("ini");

void BM_ParseOneMegabyteIni(benchmark::State& state) {
  std::string text;
  for (int s = 0; text.size() < (1u << 20); ++s) {
    text += "[Section" + std::to_string(s) + "]\r\n";
    for (int k = 0; k < 20; ++k) text += "Key" + std::to_string(k) + "=some value " + std::to_string(k) + "\r\n";
  }
  for (auto _ : state) {
    kel::TIniFile ini(text);
    benchmark::DoNotOptimize(ini);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseOneMegabyteIni);

// One section of about 90,000 keys: every key line looks up the keys before it.
void BM_ParseOneMegabyteIniOneSection(benchmark::State& state) {
  std::string text = "[Values]\r\n";
  for (int k = 0; text.size() < (1u << 20); ++k) text += "Key" + std::to_string(k) + "=" + std::to_string(k) + "\r\n";
  for (auto _ : state) {
    kel::TIniFile ini(text);
    benchmark::DoNotOptimize(ini);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseOneMegabyteIniOneSection);

// A registry store of about 1 MB in one key, opened (every open reads it).
void BM_OpenOneMegabyteRegistryStore(benchmark::State& state) {
  std::string text = "BACNETIP-REGISTRY 1\n[Software\\Bench\\Big]\n";
  for (int k = 0; text.size() < (1u << 20); ++k) text += "i Value" + std::to_string(k) + " " + std::to_string(k) + "\n";
  std::string dir = BenchDir() + "/big-store";
  std::filesystem::create_directories(dir);
  setenv("BACNETIP_REGISTRY_DIR", dir.c_str(), 1);
  port::WriteFileAtomic(dir + "/user.reg", text);
  for (auto _ : state) {
    port::Registry reg(port::kHKEY_CURRENT_USER);
    benchmark::DoNotOptimize(reg.OpenKey("\\Software\\Bench\\Big", false));
  }
  setenv("BACNETIP_REGISTRY_DIR", BenchDir().c_str(), 1);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_OpenOneMegabyteRegistryStore);

}  // namespace
