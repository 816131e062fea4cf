// ProcessData around the module's handler, deliveries back to the host and
// the parser items.
#include <gtest/gtest.h>

#include "framework/call_rec.h"
#include "framework/parsed_data_list.h"
#include "host_params.h"
#include "framework_fixture.h"
#include "host_entry_points.h"
#include "parsed_records.h"

namespace kel::testing {
namespace {

constexpr uint8_t T(int n) { return static_cast<uint8_t>(1u << n); }

class DataPath : public FrameworkTest {
 protected:
  void TearDown() override {
    host::SetSendDataSink(nullptr);
    FrameworkTest::TearDown();
  }
  std::shared_ptr<TkelPlugin> NewPlugin(TCallRecResultEvent handler) {
    UseClass([handler](TestPlugin& p) { p.OnProcessData = handler; });
    EXPECT_EQ(session.Create(), 0);
    return ResolveHandle(session.Handle());
  }
  host::HostSession session{CoreExports()};
};

TEST_F(DataPath, CallTypesDecideWhetherTheHandlerRuns) {
  int calls = 0;
  auto p = NewPlugin([&](TkelPlugin&, TPluginCallRec*, int32_t& r) {
    ++calls;
    r = 5;
  });
  uint8_t frame[20] = {1, 2, 3};
  EXPECT_EQ(session.ProcessData(0, frame, sizeof frame), 0);  // no types: nothing runs
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(session.DrainLog(), "");
  EXPECT_EQ(session.ProcessData(T(1), frame, sizeof frame), 5);
  EXPECT_EQ(session.ProcessData(T(1), nullptr, 0), 0);  // positive result without input
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(session.ProcessData(T(2), nullptr, 0), 0);  // parse without data
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(session.DrainLog(), "\x02No data for processing\r\n");
  EXPECT_EQ(session.ProcessData(T(2), frame, sizeof frame), 5);
  EXPECT_EQ(session.DrainLog(), "\x03" "Data have been processed successfully\r\n");
  p->MsgWriteComplete.clear();
  EXPECT_EQ(session.ProcessData(T(3), frame, sizeof frame), 5);
  EXPECT_EQ(session.DrainLog(), "");
  // Any CallTypes value is taken.
  EXPECT_EQ(session.ProcessData(0xFF, frame, sizeof frame), 5);
}

TEST_F(DataPath, HandlerFailureGivesMinusThreeAndALogLine) {
  NewPlugin([](TkelPlugin&, TPluginCallRec* rec, int32_t& r) {
    if (rec->DataSourceId == 2) throw std::runtime_error("bad frame");
    r = -1;
  });
  uint8_t frame[4] = {};
  EXPECT_EQ(session.ProcessData(T(2), frame, 4, 1), -1);
  EXPECT_EQ(session.DrainLog(), "\x02" "Data have been processed with errors\r\n");
  EXPECT_EQ(session.ProcessData(T(2), frame, 4, 2), -3);
  EXPECT_EQ(session.DrainLog(), "\x02" "bad frame: Data have been processed with errors\r\n");
}

TEST_F(DataPath, BadRecordsAndTermination) {
  NewPlugin(nullptr);
  TPluginCallRec rec = Rec();
  rec.Instance = session.Handle();
  EXPECT_EQ(DoProcessData(&rec), -1);  // no Params
  EXPECT_EQ(DoProcessData(nullptr), -1);
  session.Command("LOAD");
  session.Command("UNLOAD");
  uint8_t frame[4] = {};
  EXPECT_EQ(session.ProcessData(T(1), frame, 4), -1);
  session.Command("LOAD");
  EXPECT_EQ(session.ProcessData(T(1), frame, 4), 0);
}

TEST_F(DataPath, EmptyInputListCountsAsNoInputAndRowsAreClosed) {
  int32_t seenCount = -1;
  NewPlugin([&](TkelPlugin&, TPluginCallRec* rec, int32_t& r) {
    seenCount = DescriptorParams(rec->Input).Count();
    r = 1;
  });
  TkelParamsList params, input;
  TPluginCallRec rec = Rec();
  rec.Instance = session.Handle();
  rec.Params = &params;
  rec.CallTypes = T(2);
  rec.Input.Kind = KEL_KIND_RAW_LIST;
  rec.Input.Value = reinterpret_cast<uintptr_t>(&input);
  EXPECT_EQ(DoProcessData(&rec), 0);
  EXPECT_EQ(seenCount, -1);  // no handler call
  input.Add("A", Variant(int32_t{1}));
  rec.Input.Kind = KEL_KIND_RAW_LIST;
  rec.Input.Value = reinterpret_cast<uintptr_t>(&input);
  EXPECT_EQ(DoProcessData(&rec), 1);
  EXPECT_EQ(seenCount, 2);  // the row was closed before the handler ran
  EXPECT_TRUE(input.Items(1)->IsNewRow());
  EXPECT_EQ(+rec.Input.Value, 0u);  // untouched input is not handed back
}

TEST_F(DataPath, KindEightInputThatIsNoListIsNotTakenForOne) {
  // A host that marks a plain buffer as a raw list: the module must not take
  // the bytes for a list object (and count its items through them).
  NewPlugin([](TkelPlugin&, TPluginCallRec* rec, int32_t& r) { r = rec->Input.Kind; });
  TkelParamsList params;
  uint8_t frame[64] = {};
  TPluginCallRec rec = Rec();
  rec.Instance = session.Handle();
  rec.Params = &params;
  rec.CallTypes = T(2);
  rec.Input.Kind = KEL_KIND_RAW_LIST;
  rec.Input.Size = sizeof frame;
  rec.Input.Value = reinterpret_cast<uintptr_t>(frame);
  EXPECT_EQ(DoProcessData(&rec), KEL_KIND_RAW_LIST);
  EXPECT_EQ(session.DrainLog(), "\x03" "Data have been processed successfully\r\n");
}

TEST_F(DataPath, WithoutHandlerTypeFiveEchoesTheInput) {
  NewPlugin(nullptr);
  uint8_t frame[6] = {};
  TPluginCallRec out;
  EXPECT_EQ(session.ProcessData(T(5), frame, 6, 1, &out), 0);
  EXPECT_EQ(+out.Output.Size, 6u);
  EXPECT_EQ(+out.Output.Kind, KEL_KIND_BUFFER);
  EXPECT_EQ(+out.Output.Value, reinterpret_cast<uintptr_t>(frame));
}

// Delivers twice into a host buffer and returns what the host received.
std::string DeliverTwice(TkelPlugin& p, TPluginCallRec* rec, const std::string& a, const std::string& b) {
  TParsedDataList list;
  list.Add("X", Variant(int32_t{1}));
  p.DeliverParsedData(rec, list, a, true);
  p.DeliverParsedData(rec, list, b, true);
  return std::string(reinterpret_cast<const char*>(rec->Input.Value), rec->Input.Size);
}

TEST_F(DataPath, DeliveryAppendsWithTheSeparator) {
  std::string got;
  uint32_t counter = 0;
  NewPlugin([&](TkelPlugin& p, TPluginCallRec* rec, int32_t&) {
    got = DeliverTwice(p, rec, "abc", "de");
    counter = rec->Output.Counter;
  });
  TkelParamsList params, output;
  std::string frame(20, 'f');
  TPluginCallRec rec = Rec();
  rec.Instance = session.Handle();
  rec.Params = &params;
  rec.CallTypes = T(2);
  rec.Input.Kind = KEL_KIND_BUFFER;
  rec.Input.Size = 20;
  rec.Input.Value = reinterpret_cast<uintptr_t>(frame.data());
  rec.Output.Kind = KEL_KIND_RAW_LIST;
  rec.Output.Value = reinterpret_cast<uintptr_t>(&output);
  EXPECT_EQ(DoProcessData(&rec), 0);
  EXPECT_EQ(got, frame + "<{[::]}>abc<{[::]}>de");
  EXPECT_EQ(counter, 2u);
  EXPECT_EQ(output.Count(), 2);  // appended twice
  EXPECT_EQ(frame, std::string(20, 'f'));  // the host's buffer is not touched
  // The host owns the block handed back.
  ASSERT_NE(+rec.Input.Value, reinterpret_cast<uintptr_t>(frame.data()));
  port::HostFree(reinterpret_cast<void*>(rec.Input.Value));
}

// The items of a record reach a raw list of the module's own (taken over
// or copied) and a host's own list (through its interface) alike: names,
// keys (A..Z lower-cased, UTF-8), data types, states, values, row markers.
TEST_F(DataPath, RecordReachesOwnAndHostListsAlike) {
  struct Seen {
    std::string name, key, value;
    int32_t type;
    uint8_t state;
    bool operator==(const Seen&) const = default;
  };
  bool take = false;
  size_t leftInList = 0;
  NewPlugin([&](TkelPlugin& p, TPluginCallRec* rec, int32_t&) {
    TParsedDataList list;
    list.Add("DEV_ID", Variant(uint32_t{7}));
    list.AddKeyed("Temp\xC3\xA9rature", "temp\xC3\xA9rature", Variant(std::string("21,5 \xC2\xB0" "C")));
    list.AddKeyed("Mixed_Case", "mixed_case", Variant(1.5));  // the key made once, given
    list.Add("STATE", Variant::Null())->State = 0;
    list.AddNewRow();
    p.DeliverParsedData(rec, list, "", true, take);
    leftInList = static_cast<size_t>(list.Count());
  });
  const std::vector<Seen> expected = {{"DEV_ID", "dev_id", "7", KEL_VT_UI4, 2},
                                      {"Temp\xC3\xA9rature", "temp\xC3\xA9rature", "21,5 \xC2\xB0" "C", KEL_VT_BSTR, 2},
                                      {"Mixed_Case", "mixed_case", "1.5", KEL_VT_R8, 2},
                                      {"STATE", "state", "", KEL_VT_NULL, 0},
                                      {"$NEW_ROW$", "$new_row$", "", KEL_VT_NULL, 2}};
  uint8_t frame[4] = {1, 2, 3, 4};
  // A host list, through its interface.
  host::HostParamsList* hostList = host::HostParamsList::Create();
  IkelParamsListA* hostIntf = hostList->Intf();
  TkelParamsList params;
  TPluginCallRec rec = Rec();
  rec.Instance = session.Handle();
  rec.Params = &params;
  rec.CallTypes = T(1);
  rec.Input.Kind = KEL_KIND_BUFFER;
  rec.Input.Size = sizeof frame;
  rec.Input.Value = reinterpret_cast<uintptr_t>(frame);
  rec.Output.Kind = KEL_KIND_LIST_INTF;
  rec.Output.Value = reinterpret_cast<uintptr_t>(&hostIntf);
  EXPECT_EQ(DoProcessData(&rec), 0);
  std::vector<Seen> viaHost;
  for (const auto& item : hostList->Items())
    viaHost.push_back({item->name, item->key, item->value.ToText(), item->value.vt, item->state});
  hostList->Release();
  // Our own raw list, with the items copied and then taken over.
  for (bool takeItems : {false, true}) {
    take = takeItems;
    TkelParamsList own;
    rec.Output.Kind = KEL_KIND_RAW_LIST;
    rec.Output.Value = reinterpret_cast<uintptr_t>(&own);
    rec.Input.Kind = KEL_KIND_BUFFER;
    rec.Input.Value = reinterpret_cast<uintptr_t>(frame);
    EXPECT_EQ(DoProcessData(&rec), 0);
    std::vector<Seen> viaOwn;
    for (int32_t i = 0; i < own.Count(); ++i) {
      const TkelParamsListItem& item = *own.Items(i);
      const Variant& v = item.Value();
      viaOwn.push_back({item.Name, item.Key, v.IsEmptyOrNull() ? "" : v.ToAnsi(),
                        item.IsNewRow() ? KEL_VT_NULL : static_cast<int32_t>(v.Type()), item.State});
    }
    EXPECT_EQ(viaOwn.size(), expected.size());
    for (size_t i = 0; i < expected.size() && i < viaOwn.size(); ++i) {
      EXPECT_EQ(viaOwn[i].name, expected[i].name);
      EXPECT_EQ(viaOwn[i].key, expected[i].key) << expected[i].name;
      EXPECT_EQ(viaOwn[i].state, expected[i].state) << expected[i].name;
    }
    EXPECT_EQ(leftInList, takeItems ? 0u : expected.size());
  }
  ASSERT_EQ(viaHost.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(viaHost[i].name, expected[i].name);
    EXPECT_EQ(viaHost[i].key, expected[i].key) << expected[i].name;
    EXPECT_EQ(viaHost[i].state, expected[i].state) << expected[i].name;
    if (i < 3) {
      EXPECT_EQ(viaHost[i].value, expected[i].value) << expected[i].name;
    }
  }
}

TEST_F(DataPath, ShortBufferGetsNoSeparatorAndReplaceStartsOver) {
  std::string got, replaced;
  NewPlugin([&](TkelPlugin& p, TPluginCallRec* rec, int32_t&) {
    TParsedDataList list;
    list.Add("X", Variant(int32_t{1}));
    p.DeliverParsedData(rec, list, "abc", true);
    got.assign(reinterpret_cast<const char*>(rec->Input.Value), rec->Input.Size);
    p.DeliverParsedData(rec, list, "zz", false);
    replaced.assign(reinterpret_cast<const char*>(rec->Input.Value), rec->Input.Size);
  });
  TkelParamsList params, output;
  output.Add("OLD", Variant(int32_t{0}));
  char frame[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};
  TPluginCallRec rec = Rec();
  rec.Instance = session.Handle();
  rec.Params = &params;
  rec.CallTypes = T(1);
  rec.Input.Kind = KEL_KIND_BUFFER;
  rec.Input.Size = 8;
  rec.Input.Value = reinterpret_cast<uintptr_t>(frame);
  rec.Output.Kind = KEL_KIND_RAW_LIST;
  rec.Output.Value = reinterpret_cast<uintptr_t>(&output);
  DoProcessData(&rec);
  EXPECT_EQ(got, "12345678abc");
  EXPECT_EQ(replaced, "zz");
  EXPECT_EQ(output.Count(), 1);  // cleared, then the one item
  port::HostFree(reinterpret_cast<void*>(rec.Input.Value));
}

TEST_F(DataPath, HostTakesAndFreesTheRawTextBlock) {
  // The block handed back in Input belongs to the host after the call; the
  // reference host copies and frees it (the leak checker watches this test).
  NewPlugin([](TkelPlugin& p, TPluginCallRec* rec, int32_t& r) {
    TParsedDataList list;
    list.Add("X", Variant(int32_t{1}));
    p.DeliverParsedData(rec, list, "raw text", false);
    r = 1;
  });
  uint8_t frame[20] = {};
  host::ParsedRecord delivered;
  TPluginCallRec out;
  EXPECT_EQ(session.ProcessData(T(2), frame, sizeof frame, 1, &out, &delivered), 1);
  EXPECT_EQ(delivered.rawText, "raw text");
  ASSERT_EQ(delivered.items.size(), 1u);
  EXPECT_EQ(delivered.items[0].first, "X");
  EXPECT_EQ(+out.Input.Value, 0u);  // freed by the host: not handed on
  EXPECT_EQ(session.ProcessData(T(2), frame, sizeof frame), 1);
}

TEST_F(DataPath, SendParsedDataReachesTheHost) {
  auto p = NewPlugin(nullptr);
  TParsedDataList list;
  list.Add("VALUE", Variant(int32_t{7}));
  list.AddPacket("p1");
  list.AddPacket("p2");
  EXPECT_EQ(p->SendRawData(1, 2, 0, "ab", 2), -1);  // no host yet
  p->SendParsedData(3, 0, list);                   // nothing happens
  std::vector<host::ParsedRecord> records;
  std::vector<std::string> sent;
  host::SetSendDataSink([&](int32_t module, int32_t ds, int32_t kind, void* data, int32_t count) {
    EXPECT_EQ(module, 9);
    if (kind == KEL_DATA_KIND_PARSED) {
      auto* rec = static_cast<TPluginCallRec*>(data);
      EXPECT_EQ(+rec->Flags, 1);
      EXPECT_EQ(+rec->Size, KEL_CALLREC_SIZE);
      records.push_back(host::ReadParsedRecord(rec));
      EXPECT_EQ(ds, 3);
    } else if (kind == KEL_DATA_KIND_SEND) {
      sent.emplace_back(static_cast<const char*>(data), static_cast<size_t>(count));
    }
    return 11;
  });
  const auto self = reinterpret_cast<int64_t>(port::LoadedLib(""));
  ASSERT_EQ(session.Command("LOAD", {{"HANDLE", host::Int64(self)}}, 9).code, 0);
  p->SendParsedData(3, 0, list);
  EXPECT_EQ(p->SendRawData(9, 2, 0, "ab", 2), 11);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].rawText, "p1<{[::]}>p2");
  ASSERT_EQ(records[0].items.size(), 1u);
  EXPECT_EQ(records[0].items[0].first, "VALUE");
  EXPECT_EQ(records[0].items[0].second.ToInt(), 7);
  EXPECT_EQ(sent, std::vector<std::string>{"ab"});
}

TEST(ParserItems, TextForm) {
  TkelPlugin p(nullptr, 0);
  p.AddStandardParserItems(false);
  std::string text = p.GetParserItemsText();
  auto lines = SplitLines(text);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[2], "Datetime stamp|DATE_TIME_STAMP|DateTime|");
  EXPECT_EQ(lines[5], "Data source long name|DATA_SOURCE_FULL_NAME|String|");  // no trailing line break
  p.SetParserItemsText("X|NAME|float\r\nY|OTHER|nosuch|attr\r\n", false);
  ASSERT_EQ(p.ParserItemsCount(), 8);
  EXPECT_EQ(p.ParserItems[6].DataType, 5);
  EXPECT_EQ(p.ParserItems[7].DataType, 17);
  EXPECT_EQ(p.ParserItems[7].Attribute, "attr");
  p.SetParserItemsText("A|B\r\nno separator\r\nC|D", true);
  ASSERT_EQ(p.ParserItemsCount(), 1);
  EXPECT_EQ(p.GetParserItemsText(), "A|B||");
  p.SetParserItem(3, TParserItem{"N", "D", 200, ""});
  EXPECT_EQ(p.ParserItemsCount(), 4);
  EXPECT_EQ(p.GetParserItemsText(), "A|B||\r\n|||\r\n|||\r\nD|N||");  // an unknown type writes no name
  p.AddStandardParserItems(true);
  EXPECT_EQ(p.ParserItemsCount(), 11);
}

TEST(ParserItems, FillStandardItems) {
  TkelPlugin p(nullptr, 0);
  TParsedDataList list;
  EXPECT_EQ(p.FillStandardItems(nullptr, "", "", 0, 0, "", "", ""), 0);
  EXPECT_EQ(p.FillStandardItems(&list, "", "", 4, 0, "DS", "Data source", "client"), 4);
  EXPECT_EQ(list.GetValue("DATA_SOURCE_NAME").ToAnsi(), "DS");
  EXPECT_EQ(list.GetValue("DATA_SOURCE_ID").Type(), VarType::UI4);
  EXPECT_EQ(list.GetValue("DATE_TIME_STAMP").Type(), VarType::Date);
  EXPECT_GT(list.GetValue("DATE_TIME_STAMP").ToDouble(), 45000.0);  // after 2023
  list.Clear();
  EXPECT_EQ(p.FillStandardItems(&list, "full", "pkt", 4, 9, "DS", "Data source", "client"), 7);
  EXPECT_EQ(list.GetValue("DATA_SOURCE_NAME").ToAnsi(), "client");
  EXPECT_EQ(list.GetValue("CLIENTID").ToInt32(), 9);
}

TEST(ParsedDataList, PacketsAndClear) {
  TParsedDataList list;
  list.AddPacket("a");
  list.AddPacket("b");
  EXPECT_EQ(list.FullPacket, "a<{[::]}>b");
  list.Add("X", Variant(int32_t{1}));
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.FullPacket, "");
}

}  // namespace
}  // namespace kel::testing
