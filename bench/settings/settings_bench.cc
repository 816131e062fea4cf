#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "module/data_source_cfg.h"
#include "params/params_list.h"
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

}  // namespace
