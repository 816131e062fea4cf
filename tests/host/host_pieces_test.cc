// The host's own pieces where they can break: the kind-129 envelope, the
// quick-start configuration, the INI text, the record formats, the log
// counters and the command line.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <set>

#include "cli_options.h"
#include "device_table.h"
#include "ini_settings.h"
#include "log_lines.h"
#include "record_writer.h"
#include "request_config.h"
#include "runtime/settings/ini_file.h"
#include "runtime/settings/percent_codec.h"
#include "runtime/xml/xml_tree.h"
#include "send_envelope.h"
#include "udp_socket.h"
#include "value_text.h"

namespace {

using host::HostValue;

// ---- The kind-129 envelope --------------------------------------------------

bool Envelope(const std::string& bytes, host::SendEnvelope* env, int32_t count = -2) {
  std::string reason;
  return host::ParseSendEnvelope(bytes.data(), count == -2 ? static_cast<int32_t>(bytes.size()) : count, env,
                                 &reason);
}

TEST(SendEnvelope, TakesAddressPortAndTheFrameAfterTheHeader) {
  host::SendEnvelope env;
  // The frame may itself hold ">>" and ":" and zero bytes.
  const char raw[] = "<<TO:192.168.1.255:47809>>\x81\x0b>>:\0x";
  const std::string bytes(raw, sizeof raw - 1);
  ASSERT_TRUE(Envelope(bytes, &env));
  EXPECT_EQ(env.address, "192.168.1.255");
  EXPECT_EQ(env.port, 47809);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(env.frame), env.frameSize), std::string("\x81\x0b>>:\0x", 7));
}

TEST(SendEnvelope, RefusesOddInput) {
  host::SendEnvelope env;
  for (const std::string bad : {"", "<<TO:", "<<TO:10.0.0.1:47808", "<<TO:10.0.0.1:47808>",   // no ">>"
                                "<<TO:10.0.0.1:47808>>",                                      // empty frame
                                "<<TO:10.0.0.1:0>>x", "<<TO:10.0.0.1:65536>>x", "<<TO:10.0.0.1:-1>>x",
                                "<<TO:10.0.0.1:+80>>x", "<<TO:10.0.0.1:>>x", "<<TO:10.0.0.1>>x",  // ports
                                "<<TO:10.0.0.256:80>>x", "<<TO:host:80>>x", "<<TO::80>>x",
                                "<<TO:1.2.3.4.5:80>>x", "<<to:10.0.0.1:80>>x", " <<TO:10.0.0.1:80>>x"})
    EXPECT_FALSE(Envelope(bad, &env)) << bad;
  EXPECT_FALSE(Envelope("<<TO:10.0.0.1:80>>x", &env, 0));
  EXPECT_FALSE(Envelope("<<TO:10.0.0.1:80>>x", &env, -5));
  EXPECT_FALSE(Envelope("<<TO:10.0.0.1:80>>x", &env, 10));  // cut inside the header
  std::string reason;
  EXPECT_FALSE(host::ParseSendEnvelope(nullptr, 20, &env, &reason));
  // A long run of bytes without ">>" is not searched beyond the header's bound.
  std::string noClose = "<<TO:10.0.0.1:80" + std::string(host::kMaxEnvelopeAddress, '1') + ">>x";
  EXPECT_FALSE(Envelope(noClose, &env));
}

// ---- The quick-start configuration -------------------------------------------

TEST(RequestConfig, ItemListsParseOrFailWithAReason) {
  std::vector<host::ItemSpec> items;
  std::string reason;
  ASSERT_TRUE(host::ParseItemList(" ai:1 , MSV:4194303=Mode, nc:0 = Alarm class A=B ", &items, &reason)) << reason;
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].objectType, 0);
  EXPECT_EQ(items[0].name, "AI_1");
  EXPECT_EQ(items[1].objectType, 19);
  EXPECT_EQ(items[1].instance, 4194303u);
  EXPECT_EQ(items[1].name, "Mode");
  EXPECT_EQ(items[2].objectType, 15);
  EXPECT_EQ(items[2].name, "Alarm class A=B");
  for (const char* bad : {"", "AI:1,", ",AI:1", "AI", "AI:", "AI:x", "AI:-1", "AI:4194304", "XX:1", "AI:1=",
                          "AI:1=  ", "AI:1=a\tb", "AI:1,AV:1=AI_1", "AI:1=T,AV:2=T", "AI:99999999"}) {
    reason.clear();
    EXPECT_FALSE(host::ParseItemList(bad, &items, &reason)) << bad;
    EXPECT_FALSE(reason.empty()) << bad;
  }
}

TEST(RequestConfig, IntervalsTimeoutsAndInstances) {
  host::IntervalSpec iv;
  std::string reason;
  ASSERT_TRUE(host::ParseInterval("250", &iv, &reason));
  EXPECT_EQ(iv.units, "MS");
  EXPECT_EQ(iv.Milliseconds(), 250u);
  ASSERT_TRUE(host::ParseInterval("2m", &iv, &reason));
  EXPECT_EQ(iv.count, 2u);
  EXPECT_EQ(iv.units, "M");
  ASSERT_TRUE(host::ParseInterval("596h", &iv, &reason));  // 2145600000 ms still fits
  for (const char* bad : {"0", "0s", "655351", "1d", "s", "-1s", "1.5s", "597h", "655350m"})
    EXPECT_FALSE(host::ParseInterval(bad, &iv, &reason)) << bad;
  uint32_t ms = 0;
  ASSERT_TRUE(host::ParseTimeout("65s", &ms, &reason));
  EXPECT_EQ(ms, 65000u);
  for (const char* bad : {"0", "66s", "65536", "1m", ""}) EXPECT_FALSE(host::ParseTimeout(bad, &ms, &reason)) << bad;
  std::string list;
  ASSERT_TRUE(host::ParseDeviceInstances("7, *;4194303", &list, &reason));
  EXPECT_EQ(list, "7;*;4194303");
  for (const char* bad : {"", "1;;2", "0", "4194304", "12a", "-3"})
    EXPECT_FALSE(host::ParseDeviceInstances(bad, &list, &reason)) << bad;
}

// Reads a request as the module reads it: the first element of that name at
// or below the start element.
std::string ReadText(const kel::TzovXMLNode* start, const char* name) {
  return kel::XmlReadText(start, name, "<missing>", true);
}

TEST(RequestConfig, TheModulesReaderFindsEveryValue) {
  host::PollSpec a = host::DefaultPoll();
  a.caption = "Boiler \"A\" & <pumps>";
  a.instances = "1234;*";
  std::string reason;
  ASSERT_TRUE(host::ParseItemList("AI:1=T<1> & 'x',MSO:12,BV:0=\xC3\xA4nderung", &a.items, &reason));
  host::PollSpec b;
  b.address = "10.1.2.255";
  b.port = 47809;
  b.instances = "9";
  b.once = true;
  b.timeoutMs = 300;
  b.interval = {500, "MS"};
  b.items = {{2, 7, "AV_7"}};
  kel::TzovXMLTree tree;
  tree.LoadFromText(host::BuildRequestXml({a, b}));
  const kel::TzovXMLNode* root = tree.FindNode("modbusrtuquery");
  ASSERT_NE(root, nullptr);
  ASSERT_EQ(root->ChildCount(), 2u);
  const kel::TzovXMLNode* r1 = root->Child(0);
  EXPECT_EQ(r1->GetAttribute("caption"), "Boiler \"A\" & <pumps>");
  EXPECT_EQ(ReadText(r1, "Enabled"), "1");
  EXPECT_EQ(ReadText(r1, "EP"), "127.0.0.2:47808");
  EXPECT_EQ(ReadText(r1, "Instance"), "1234;*");  // the request's own, not an item's
  EXPECT_EQ(ReadText(r1, "Timeout"), "1500");
  EXPECT_EQ(ReadText(r1, "MethodPoll"), "1");
  EXPECT_EQ(ReadText(r1, "PollInterval"), "1");
  EXPECT_EQ(ReadText(r1, "PollUnits"), "S");
  const kel::TzovXMLNode* response = r1->FindNode("Response");
  ASSERT_NE(response, nullptr);
  ASSERT_EQ(response->ChildCount(), 3u);
  const char* names[] = {"T<1> & 'x'", "MSO_12", "\xC3\xA4nderung"};
  const char* types[] = {"D00", "D0E", "D05"};
  const char* instances[] = {"1", "12", "0"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(ReadText(response->Child(i), "Name"), names[i]);
    EXPECT_EQ(ReadText(response->Child(i), "DataType"), types[i]);
    EXPECT_EQ(ReadText(response->Child(i), "Instance"), instances[i]);
  }
  const kel::TzovXMLNode* r2 = root->Child(1);
  EXPECT_EQ(r2->GetAttribute("caption"), "Request #2");
  EXPECT_EQ(ReadText(r2, "EP"), "10.1.2.255:47809");
  EXPECT_EQ(ReadText(r2, "MethodPoll"), "0");
  EXPECT_EQ(ReadText(r2, "PollInterval"), "500");
  EXPECT_EQ(ReadText(r2, "PollUnits"), "MS");
  EXPECT_EQ(ReadText(r2, "Timeout"), "300");
  EXPECT_TRUE(host::HasRequestRoot(host::BuildRequestXml({})));
  EXPECT_TRUE(host::HasRequestRoot("<?xml version=\"1.0\"?><ModbusRtuQuery check=\"2\"/>"));
  EXPECT_FALSE(host::HasRequestRoot("<MODBUSRTUQUERYX></MODBUSRTUQUERYX> MODBUSRTUQUERY"));
}

// ---- The INI text the module reads -------------------------------------------

TEST(IniSettings, TextsAreEncodedAsTheModuleEncodesThem) {
  for (const std::string& text :
       {std::string("<A b=\"1\">\r\n  x + y = 100%</A>"), std::string(" lead"), std::string("two  spaces "),
        std::string("tab\there"), std::string("\xC3\xA4\xE2\x82\xAC \xF0\x9F\x98\x80"), std::string("%%+"),
        std::string("\x7F\x01", 2), std::string(1, '\0'), std::string()})
    EXPECT_EQ(host::PercentEncode(text), kel::PercentEncode(text)) << text;
  EXPECT_EQ(kel::PercentDecode(host::PercentEncode("<X>\r\n  a%b</X>")), "<X>\r\n  a%b</X>");
}

TEST(IniSettings, UpdatingKeepsTheRestOfTheFile) {
  const std::string before =
      "; kept\r\n[Other]\nParser config=not ours\n\n[ common ]\r\nLeft=10\r\n PARSER CONFIG = old\r\n"
      "Top=5\r\n\r\n[Last]\r\nx=1";
  const std::string after =
      host::UpdateIniText(before, "Common", {{"Parser config", "new%0D%0A"}, {"Read dev props", "False"}});
  kel::TIniFile ini(after);
  EXPECT_EQ(ini.ReadString("Common", "Parser config", "?"), "new%0D%0A");
  EXPECT_EQ(ini.ReadString("Common", "Read dev props", "?"), "False");
  EXPECT_EQ(ini.ReadString("Common", "Left", "?"), "10");
  EXPECT_EQ(ini.ReadString("Common", "Top", "?"), "5");
  EXPECT_EQ(ini.ReadString("Other", "Parser config", "?"), "not ours");
  EXPECT_EQ(ini.ReadString("Last", "x", "?"), "1");
  EXPECT_NE(after.find("; kept\r\n"), std::string::npos);
  // The missing key goes into the section, not after the next one.
  EXPECT_LT(after.find("Read dev props=False"), after.find("[Last]"));

  // No file yet, or one without the section.
  kel::TIniFile fresh(host::UpdateIniText("", "Common", {{"Parser config", "a"}}));
  EXPECT_EQ(fresh.ReadString("Common", "Parser config", "?"), "a");
  kel::TIniFile other(host::UpdateIniText("[X]\r\nk=v\r\n\r\n", "Common", {{"Parser config", "a"}}));
  EXPECT_EQ(other.ReadString("Common", "Parser config", "?"), "a");
  EXPECT_EQ(other.ReadString("X", "k", "?"), "v");
}

// ---- Record formats -------------------------------------------------------------

HostValue V(uint16_t vt, int64_t i = 0, double d = 0, const std::string& text = {}) {
  HostValue v;
  v.vt = vt;
  v.i = i;
  v.d = d;
  v.text = host::Utf8To16(text);
  return v;
}

TEST(RecordFormats, JsonValuesAreTypedAndEscaped) {
  host::Record r;
  r.source = 2;
  r.items = {{"DATE_TIME_STAMP", V(KEL_VT_DATE, 0, 46000.5)},
             {"I", V(KEL_VT_I4, -7)},
             {"U8", V(KEL_VT_UI8, -1)},
             {"CY", V(KEL_VT_CY, -123450)},
             {"R4", V(KEL_VT_R4, 0, static_cast<double>(0.1f))},
             {"NAN", V(KEL_VT_R8, 0, std::nan(""))},
             {"B", V(KEL_VT_BOOL, 1)},
             {"T", V(KEL_VT_BSTR, 0, 0, std::string("q\"\\/\r\n\t\x01", 8))},
             {"N", V(KEL_VT_NULL)},
             {"I", V(KEL_VT_EMPTY)},
             {"bad\xFF\xC0\xAF", V(KEL_VT_BSTR, 0, 0, "\xE2\x82\xAC")}};
  auto json = host::MakeRecordWriter(host::RecordFormat::Jsonl);
  EXPECT_EQ(json->Format(r),
            "{\"source\":2,\"via\":\"output\",\"items\":{\"DATE_TIME_STAMP\":\"2025-12-09T12:00:00.000\",\"I\":-7,"
            "\"U8\":18446744073709551615,\"CY\":-12.345,\"R4\":0.1,\"NAN\":null,\"B\":true,"
            "\"T\":\"q\\\"\\\\/\\r\\n\\t\\u0001\",\"N\":null,\"I#2\":null,"
            "\"bad\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\":\"\xE2\x82\xAC\"}}\n");
}

TEST(RecordFormats, WidenedRealsControlCharactersAndCsvEdges) {
  // A Real arrives widened to double: its single-precision text, in JSON
  // and CSV alike; a double that is no single keeps its own.
  host::Record r;
  r.items = {{"REAL", V(KEL_VT_R8, 0, static_cast<double>(18.007145f))}, {"DOUBLE", V(KEL_VT_R8, 0, 0.1)},
             {"BIG", V(KEL_VT_R8, 0, 1e300)}};
  EXPECT_EQ(host::MakeRecordWriter(host::RecordFormat::Jsonl)->Format(r),
            "{\"source\":0,\"via\":\"output\",\"items\":{\"REAL\":18.007145,\"DOUBLE\":0.1,\"BIG\":1e+300}}\n");
  EXPECT_EQ(host::MakeRecordWriter(host::RecordFormat::Csv)->Format(r),
            "source,via,REAL,DOUBLE,BIG\r\n0,output,18.007145,0.1,1e+300\r\n");
  // Every control character below 0x20 is escaped in JSON.
  std::string controls;
  for (char c = 1; c < 0x20; ++c) controls.push_back(c);
  r.items = {{"T", V(KEL_VT_BSTR, 0, 0, controls)}};
  const std::string json = host::MakeRecordWriter(host::RecordFormat::Jsonl)->Format(r);
  for (size_t i = 0; i + 1 < json.size(); ++i)
    EXPECT_GE(static_cast<unsigned char>(json[i]), 0x20) << "raw control at " << i << ": " << json;
  // CSV quotes a bare CR and a trailing blank.
  r.items = {{"CR", V(KEL_VT_BSTR, 0, 0, "a\rb")}, {"BLANK", V(KEL_VT_BSTR, 0, 0, "end ")}};
  EXPECT_EQ(host::MakeRecordWriter(host::RecordFormat::Csv)->Format(r),
            "source,via,CR,BLANK\r\n0,output,\"a\rb\",\"end \"\r\n");
}

TEST(RecordFormats, DatesAndCurrencyAtTheirEdges) {
  std::string t;
  ASSERT_TRUE(host::OleDateToIso(0, &t));
  EXPECT_EQ(t, "1899-12-30T00:00:00.000");
  ASSERT_TRUE(host::OleDateToIso(-1.25, &t));  // the time counts forward also before the epoch
  EXPECT_EQ(t, "1899-12-29T06:00:00.000");
  ASSERT_TRUE(host::OleDateToIso(1.0 - 1e-10, &t));  // rounds to the next midnight
  EXPECT_EQ(t, "1899-12-31T00:00:00.000");
  ASSERT_TRUE(host::OleDateToIso(2958465.9999999, &t));
  EXPECT_EQ(t, "9999-12-31T23:59:59.991");
  ASSERT_TRUE(host::OleDateToIso(-657434, &t));
  EXPECT_EQ(t, "0100-01-01T00:00:00.000");
  for (double bad : {2958466.0, -657435.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e300})
    EXPECT_FALSE(host::OleDateToIso(bad, &t)) << bad;
  EXPECT_EQ(host::CurrencyText(0), "0");
  EXPECT_EQ(host::CurrencyText(12345), "1.2345");
  EXPECT_EQ(host::CurrencyText(-5000), "-0.5");
  EXPECT_EQ(host::CurrencyText(std::numeric_limits<int64_t>::min()), "-922337203685477.5808");
}

TEST(RecordFormats, CsvQuotesWhereNeededAndRepeatsTheHeaderOnNewItemSets) {
  auto csv = host::MakeRecordWriter(host::RecordFormat::Csv);
  host::Record a;
  a.source = 1;
  a.items = {{"A,B", V(KEL_VT_BSTR, 0, 0, "say \"hi\"")}, {"T", V(KEL_VT_BSTR, 0, 0, " lead")},
             {"L", V(KEL_VT_BSTR, 0, 0, "two\nlines")}, {"N", V(KEL_VT_NULL)}, {"X", V(KEL_VT_R8, 0, 2.5)}};
  EXPECT_EQ(csv->Format(a),
            "source,via,\"A,B\",T,L,N,X\r\n1,output,\"say \"\"hi\"\"\",\" lead\",\"two\nlines\",,2.5\r\n");
  a.items[4].second = V(KEL_VT_BOOL, 0);
  EXPECT_EQ(csv->Format(a), "1,output,\"say \"\"hi\"\"\",\" lead\",\"two\nlines\",,false\r\n");
  host::Record b;
  b.source = 3;
  b.via = host::RecordVia::Kind9;
  b.items = {{"X", V(KEL_VT_I2, 4)}};
  EXPECT_EQ(csv->Format(b), "source,via,X\r\n3,kind9,4\r\n");
}

TEST(RecordFormats, OutputListsSplitAtRowMarkers) {
  host::NamedValues list = {{"$NEW_ROW$", V(KEL_VT_NULL)}, {"A", V(KEL_VT_I4, 1)}, {"$NEW_ROW$", V(KEL_VT_NULL)},
                            {"$NEW_ROW$", V(KEL_VT_NULL)}, {"B", V(KEL_VT_I4, 2)}, {"C", V(KEL_VT_I4, 3)}};
  auto rows = host::SplitRows(list);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].size(), 1u);
  EXPECT_EQ(rows[1].size(), 2u);
  EXPECT_TRUE(host::SplitRows({{"$NEW_ROW$", V(KEL_VT_NULL)}}).empty());
}

// ---- Sockets ----------------------------------------------------------------------

TEST(UdpSockets, FiveHundredSourcesOnPortZeroGetFiveHundredPorts) {
  std::vector<std::unique_ptr<host::UdpSocket>> sockets;
  std::set<uint16_t> ports;
  for (int i = 0; i < 500; ++i) {
    auto s = std::make_unique<host::UdpSocket>();
    std::string error;
    ASSERT_TRUE(s->Open("127.0.0.1", 0, &error)) << error;
    ports.insert(s->LocalPort());
    sockets.push_back(std::move(s));
  }
  EXPECT_EQ(ports.size(), 500u) << "two sources shared a port";
}

// ---- Log lines ----------------------------------------------------------------------

TEST(LogLines, CountsTimeoutsAndErrorAnswersWithTheirRepeats) {
  const std::string log =
      "\x02" "Bacnet/IP. Request timeout: Request #1 (127.0.0.2:47808) x3\r\n"
      "\x02" "Bacnet/IP. Request timeout: Boiler x2\r\n"  // no endpoint: the " x2" is its own text
      "\x02" "Bacnet/IP. Error response [Object, Unknown Object]\r\n"
      "\x82" "Bacnet/IP. Error response [Property, Unknown Property] x12\r\n"
      "\x01" "Bacnet/IP. Request timeout: Request #1 (1.2.3.4:1)\r\n"  // an error, not a warning
      "\x02" "Other. Request timeout: Request #1 (1.2.3.4:1)\r\n"
      "no control character\r\n";
  auto lines = host::SplitLog(log);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[3].level, 1);
  EXPECT_TRUE(lines[3].flagged);
  EXPECT_EQ(lines[6].level, -1);
  EXPECT_EQ(lines[6].text, "no control character");
  host::LogCounters counts;
  for (const auto& l : lines) counts.Count(l);
  EXPECT_EQ(counts.timeouts, 4u);
  EXPECT_EQ(counts.errorAnswers, 13u);
}

// ---- The command line -----------------------------------------------------------------

TEST(CommandLine, PollOptionsApplyToTheirRequestAfterTheDefaults) {
  host::HostOptions o;
  std::string error;
  ASSERT_TRUE(host::ParseCommandLine({"--interval", "5s", "--timeout=2s", "--poll", "10.0.0.1", "--items", "AV:2",
                                      "--poll", "10.0.0.2:47809", "--once", "--interval", "100ms", "--instance",
                                      "1;2", "--source", "5:Field bus@127.0.0.1:0", "--bind", "0.0.0.0:47810",
                                      "--format", "csv", "--records", "3"},
                                     &o, &error))
      << error;
  ASSERT_EQ(o.polls.size(), 2u);
  EXPECT_EQ(o.polls[0].interval.units, "S");
  EXPECT_EQ(o.polls[0].timeoutMs, 2000u);
  EXPECT_EQ(o.polls[0].instances, "1001");
  EXPECT_EQ(o.polls[0].items.size(), 1u);
  EXPECT_FALSE(o.polls[0].once);
  EXPECT_EQ(o.polls[1].port, 47809);
  EXPECT_TRUE(o.polls[1].once);
  EXPECT_EQ(o.polls[1].interval.units, "MS");
  EXPECT_EQ(o.polls[1].timeoutMs, 2000u);
  EXPECT_EQ(o.polls[1].instances, "1;2");
  EXPECT_EQ(o.polls[1].items.size(), 3u);  // the built-in AI:1,AV:1,BI:1
  ASSERT_EQ(o.sources.size(), 2u);
  EXPECT_EQ(o.sources[0].id, 5);
  EXPECT_EQ(o.sources[0].name, "Field bus");
  EXPECT_EQ(o.sources[1].id, 2);
  EXPECT_EQ(o.sources[1].bindPort, 47810);
  EXPECT_EQ(*o.records, 3u);

  host::HostOptions d;
  ASSERT_TRUE(host::ParseCommandLine({}, &d, &error));
  ASSERT_EQ(d.polls.size(), 1u);
  EXPECT_EQ(d.polls[0].address, "127.0.0.2");
  EXPECT_EQ(d.polls[0].instances, "1001");
  EXPECT_EQ(d.sources.size(), 1u);
  EXPECT_EQ(d.sources[0].bindPort, 47808);
}

TEST(CommandLine, BadArgumentsGiveAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"},
      {"--poll"},
      {"--poll", "example.org"},
      {"--poll", "10.0.0.1:0"},
      {"--bind", "10.0.0.1:70000"},
      {"--format", "xml"},
      {"--records", "0"},
      {"--records", "-1"},
      {"--duration", "-1"},
      {"--duration", "nan"},
      {"--duration", "5s"},
      {"--device-properties", "yes"},
      {"--quiet=1"},
      {"--config", "x.xml", "--poll", "10.0.0.1"},
      {"--config", "x.xml", "--items", "AI:1"},
      {"--source", "1@10.0.0.1", "--source", "1:B@10.0.0.2"},
      {"--source", "0@10.0.0.1"},
      {"--source", "1:a;b@10.0.0.1"},
      {"--source", "x@10.0.0.1"},
      {"--bind", "127.0.0.1:47808", "--bind", "127.0.0.1:47808"},
      {"--caption", "two\nlines"},
      {"--language", ""},
      {"--frob\r\nnicate"},            // quoted in the reason, still one line
      {"--poll", "1.2.3.4:80\nx"},
      {"--pace", "quick"},
      {"--in-flight", "0"},
      {"--in-flight", "256"},
      {"--per-device", "x"},
      {"--ttl", "60"},                       // without --bbmd
      {"--bbmd", "10.0.0.1", "--ttl", "0"},
      {"--bbmd", "10.0.0.1", "--ttl", "65536"},
      {"--bbmd", "10.0.0.1:0"},
      {"--write-config", "x.xml"},           // without --discover
      {"--discover", "10.0.0.255", "--poll", "10.0.0.1"},
      {"--discover", "10.0.0.255", "--config", "x.xml"},
      {"--rpm", "yes"},
      {"--cov", "yes"},
      {"--config", "x.xml", "--cov", "on"},
  };
  for (const auto& args : bad) {
    host::HostOptions o;
    std::string error;
    EXPECT_FALSE(host::ParseCommandLine(args, &o, &error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
    EXPECT_EQ(error.find_first_of("\r\n"), std::string::npos) << error;
  }
  host::HostOptions o;
  std::string error;
  ASSERT_TRUE(host::ParseCommandLine({"--bogus", "--help"}, &o, &error));
  EXPECT_EQ(o.mode, host::RunMode::Help);
  host::HostOptions pace;
  ASSERT_TRUE(host::ParseCommandLine({"--pace", "fast", "--in-flight", "255", "--per-device", "4"}, &pace, &error));
  EXPECT_EQ(pace.fastPace, true);
  EXPECT_EQ(pace.inFlight, 255u);
  EXPECT_EQ(pace.inFlightPerDevice, 4u);
  EXPECT_FALSE(pace.readMultiple.has_value()) << "the stored option stays unless given";
  ASSERT_TRUE(host::ParseCommandLine({"--rpm", "on"}, &pace, &error));
  EXPECT_EQ(pace.readMultiple, true);
}

TEST(DeviceTable, StatusLinesBecomeATableAndAConfiguration) {
  const std::string status =
      "source=1 device=1201 address=10.0.0.1:47808 network=5 station=12 answers=3 timeouts=0 rtt-avg-ms=14 "
      "rtt-max-ms=20 last-answer-s-ago=1 name=\"AHU \\\"roof\\\"\" vendor=\"acme\" model=\"m 1\" firmware=\"7.0\"\r\n"
      "source=1 device=7 address=10.0.0.9:47809 answers=0 timeouts=2\r\n"
      "source=1 address=10.0.0.8:47808\r\n";  // no device: not a device line
  const std::vector<host::FoundDevice> devices = host::ParseDeviceStatus(status);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].name, "AHU \"roof\"");
  EXPECT_EQ(devices[0].model, "m 1");
  EXPECT_EQ(devices[0].network, "5");
  EXPECT_EQ(devices[1].port, 47809);
  EXPECT_EQ(host::DeviceTable(devices),
            "instance  address         route                 vendor  model  object name  firmware  rtt ms\n"
            "1201      10.0.0.1:47808  network 5 station 12  acme    m 1    AHU \"roof\"   7.0       14\n"
            "7         10.0.0.9:47809  -\n");
  // The configuration names each device with its object name, or its number.
  const std::string xml = host::DiscoveredConfigXml(devices);
  EXPECT_NE(xml.find("caption=\"AHU &quot;roof&quot;\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("<EP>10.0.0.9:47809</EP>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("caption=\"Device 7\""), std::string::npos) << xml;
}

TEST(CommandLine, CovOnWritesLogOnChangeOnlyIntoItsRequests) {
  host::HostOptions o;
  std::string error;
  ASSERT_TRUE(host::ParseCommandLine({"--poll", "10.0.0.1", "--cov", "on", "--poll", "10.0.0.2"}, &o, &error)) << error;
  ASSERT_EQ(o.polls.size(), 2u);
  EXPECT_TRUE(o.polls[0].logOnChange);
  EXPECT_FALSE(o.polls[1].logOnChange);
  kel::TzovXMLTree tree;
  tree.LoadFromText(host::BuildRequestXml(o.polls));
  const kel::TzovXMLNode* root = tree.FindNode("modbusrtuquery");
  ASSERT_NE(root, nullptr);
  ASSERT_EQ(root->ChildCount(), 2u);
  EXPECT_EQ(ReadText(root->Child(0), "LogOnChange"), "1");
  // Off, the request is written as before: no element at all.
  EXPECT_EQ(root->Child(1)->FindNode("LogOnChange"), nullptr);
  host::HostOptions d;
  ASSERT_TRUE(host::ParseCommandLine({"--cov", "on"}, &d, &error)) << error;
  ASSERT_EQ(d.polls.size(), 1u);
  EXPECT_TRUE(d.polls[0].logOnChange) << "the quick-start request";
}

}  // namespace
