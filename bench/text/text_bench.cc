// Reading a large request configuration, loading a large language file and
// translating one text.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/port.h"
#include "runtime/text/language_file.h"
#include "runtime/text/translator.h"
#include "runtime/xml/xml_tree.h"

namespace {

// A configuration as the options form writes it, repeated up to about `bytes`.
std::string MakeConfig(size_t bytes) {
  std::string s = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<MODBUSRTUQUERY>\r\n";
  for (int r = 1; s.size() < bytes; ++r) {
    std::string n = std::to_string(r);
    s += "  <Category caption=\"Boiler &amp; pump " + n + "\">\r\n"
         "    <Enabled check=\"2\"></Enabled>\r\n"
         "    <EP>192.168.1." + std::to_string(r % 250) + ":47808</EP>\r\n"
         "    <MethodPoll>1</MethodPoll>\r\n    <PollInterval>10</PollInterval>\r\n"
         "    <PollUnits>S</PollUnits>\r\n    <Timeout>1500</Timeout>\r\n    <Instance>1;2;*</Instance>\r\n"
         "    <Response>\r\n";
    for (int i = 0; i < 4; ++i)
      s += "      <Item caption=\"Value " + std::to_string(i) + "\"><DataType>D0" + std::to_string(i) +
           "</DataType><Name>T" + n + "_" + std::to_string(i) + "</Name><Instance>" + std::to_string(i) +
           "</Instance></Item>\r\n";
    s += "    </Response>\r\n  </Category>\r\n";
  }
  return s + "</MODBUSRTUQUERY>\r\n";
}

void BM_ParseConfig10MB(benchmark::State& state) {
  const std::string text = MakeConfig(10u << 20);
  for (auto _ : state) {
    kel::TzovXMLTree tree;
    tree.LoadFromText(text);
    benchmark::DoNotOptimize(tree.ChildCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseConfig10MB)->Unit(benchmark::kMillisecond);

// Hostile input: 100 MB of "<a>" (held by the node limit).
void BM_ParseOpenTags100MB(benchmark::State& state) {
  std::string text;
  text.reserve(100u << 20);
  while (text.size() < (100u << 20)) text += "<a>";
  for (auto _ : state) {
    kel::TzovXMLTree tree;
    tree.LoadFromText(text);
    benchmark::DoNotOptimize(tree.NodeCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseOpenTags100MB)->Unit(benchmark::kMillisecond)->Iterations(2);

// Hostile input: 10 MB of "<" with unbalanced quotes, which no ">" ever closes.
void BM_ParseUnclosedTags10MB(benchmark::State& state) {
  std::string text;
  while (text.size() < (10u << 20)) text += "<'<\"<<x";
  for (auto _ : state) {
    kel::TzovXMLTree tree;
    tree.LoadFromText(text);
    benchmark::DoNotOptimize(tree.TokenCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseUnclosedTags10MB)->Unit(benchmark::kMillisecond);

std::string MakeLanguageFile(int entries) {
  std::string s = "Encoding=utf-8\r\n[Languages]\r\n_EN=English\r\n_DE=Deutsch\r\nDefault=EN\r\n\r\n";
  for (int i = 0; i < entries; ++i)
    s += "EN:>Message text number " + std::to_string(i) + " (%s)\r\nDE:>Meldungstext Nummer " + std::to_string(i) +
         " (%s)\r\n\r\n";
  return s;
}

void BM_LoadLanguageFile5000(benchmark::State& state) {
  const std::string bytes = MakeLanguageFile(5000);
  for (auto _ : state) {
    kel::TWtranslLanguagesList table;
    benchmark::DoNotOptimize(kel::LoadLanguageData(bytes, "EN", "DE", table, nullptr));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_LoadLanguageFile5000)->Unit(benchmark::kMillisecond);

class TranslatorFixture {
 public:
  TranslatorFixture() {
    path_ = port::TempDirectory() + "/kel_bench_" + std::to_string(port::CurrentThreadId()) + ".lng";
    port::WriteFileAtomic(path_, MakeLanguageFile(5000));
    t_.LanguageFile = path_;
    std::string warm = "x";
    t_.TranslateText("DE", warm, "EN");
  }
  ~TranslatorFixture() { port::RemoveFile(path_); }
  kel::TWtransl t_;
  std::string path_;
};

void BM_TranslateOneText(benchmark::State& state) {
  TranslatorFixture f;
  const std::string hit = "Message text number 4321 (%s)";
  const std::string miss = "Some text that has no translation";
  const std::string lower = "message text number 4321 (%s)";
  const std::string& text = state.range(0) == 0 ? hit : state.range(0) == 1 ? lower : miss;
  for (auto _ : state) {
    std::string s = text;
    f.t_.TranslateText("DE", s, "EN");
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_TranslateOneText)->Arg(0)->Arg(1)->Arg(2)->ArgNames({"hit0_lower1_miss2"});

}  // namespace
