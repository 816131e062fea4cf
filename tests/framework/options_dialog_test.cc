// The options-dialog exchange as a host drives it: the package and its size
// negotiation, named forms, the module's extra text, odd records, and the
// show-options call with its statuses and the dialog's state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework_fixture.h"
#include "platform/port.h"

namespace kel::testing {
namespace {

// A packed record field, copied (no reference may bind to it).
template <class T>
T V(T v) {
  return v;
}

uint32_t LE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

const unsigned char kName[] = {'t', 'f', 'o', 'r', 'm', 0, 'x'};  // capitalised on use; junk after the zero
const unsigned char kScript[] = "SCRIPT-BYTES\r\n<=======>";
const unsigned char kForm[] = {'T', 'P', 'F', '0', 0, 1, 2, 3, 0xFF};
const unsigned char kNamedForm[] = "NAMED-FORM";
const unsigned char kNamedCode[] = "NAMED-CODE";
const unsigned char kFormOnly[] = "ONLY-FORM";
const port::EmbeddedResource kTable[] = {
    {"FORM_NAME", kName, sizeof kName},
    {"FORM_DATA", kScript, sizeof kScript - 1},
    {"TFORM", kForm, sizeof kForm},
    {"MYFORM", kNamedForm, sizeof kNamedForm - 1},
    {"MYFORM_CODE", kNamedCode, sizeof kNamedCode - 1},
    {"FORMONLY", kFormOnly, sizeof kFormOnly - 1},
};
constexpr uint32_t kDefaultTotal = 24 + sizeof kForm + sizeof kScript - 1;

class OptionsDialog : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    port::RegisterResources(kTable, std::size(kTable));
  }
  void TearDown() override {
    port::UnregisterResources(kTable);
    SetDiagnosticsHandler({});
    FrameworkTest::TearDown();
  }

  // GetOptionsDialog with Input pointing at buffer (size bytes offered).
  TPluginCallRec Get(uint32_t handle, void* buffer, uint32_t size) {
    TPluginCallRec rec = Rec();
    rec.Instance = handle;
    rec.Input.Kind = KEL_KIND_BUFFER;
    rec.Input.Value = reinterpret_cast<uintptr_t>(buffer);
    rec.Input.Size = size;
    rec.Output.Kind = 77;
    DoGetOptionsDialog(&rec);
    return rec;
  }

  static std::string LastLogLine(uint32_t handle) {
    auto inst = ResolveHandle(handle);
    if (!inst) return {};
    const auto& lines = inst->Log->LockRead();
    std::string text = lines.empty() ? std::string() : lines.back().text;
    inst->Log->UnlockRead();
    return text;
  }
};

TEST_F(OptionsDialog, TwoCallsDeliverThePackageWithAnEmptyExtraPart) {
  uint32_t h = NewInstance();
  TPluginCallRec rec = Get(h, nullptr, 0);
  EXPECT_EQ(V(rec.Output.Kind), KEL_KIND_STATUS);
  EXPECT_EQ(V(rec.Output.Value), 3u);
  EXPECT_EQ(V(rec.Output.Size), kDefaultTotal);

  std::vector<uint8_t> buf(V(rec.Output.Size), 0xCC);
  buf[0] = 0;  // no form name: the module's own form
  rec = Get(h, buf.data(), static_cast<uint32_t>(buf.size()));
  EXPECT_EQ(V(rec.Output.Kind), KEL_KIND_COPIED);
  EXPECT_EQ(V(rec.Output.Size), 0u);
  EXPECT_EQ(V(rec.Output.Value), kDefaultTotal);
  EXPECT_EQ(LE32(&buf[0]), 24u);
  EXPECT_EQ(LE32(&buf[4]), sizeof kForm);
  EXPECT_EQ(LE32(&buf[8]), 24u + sizeof kForm);
  EXPECT_EQ(LE32(&buf[12]), 0u);
  EXPECT_EQ(LE32(&buf[16]), 24u + sizeof kForm);
  EXPECT_EQ(LE32(&buf[20]), sizeof kScript - 1);
  EXPECT_EQ(std::memcmp(&buf[24], kForm, sizeof kForm), 0);
  EXPECT_EQ(std::string(buf.begin() + 24 + sizeof kForm, buf.end()), std::string(reinterpret_cast<const char*>(kScript)));
}

TEST_F(OptionsDialog, ShortBuffersAreNeverWritten) {
  uint32_t h = NewInstance();
  for (uint32_t size : {1u, 23u, 24u, kDefaultTotal - 1}) {
    std::vector<uint8_t> buf(size, 0);  // an empty name: zero first
    buf.push_back(0xAB);                // one byte past what the host offers
    TPluginCallRec rec = Get(h, buf.data(), size);
    EXPECT_EQ(V(rec.Output.Value), 3u) << size;
    EXPECT_EQ(V(rec.Output.Size), kDefaultTotal) << size;
    for (uint32_t i = 1; i < size; ++i) ASSERT_EQ(buf[i], 0) << size << " byte " << i;
    EXPECT_EQ(buf[size], 0xAB) << size;
  }
}

TEST_F(OptionsDialog, AHugeStatedSizeGetsOnlyThePackage) {
  uint32_t h = NewInstance();
  std::vector<uint8_t> buf(kDefaultTotal + 64, 0x5A);
  buf[0] = 0;
  TPluginCallRec rec = Get(h, buf.data(), 0x7FFFFFFF);
  EXPECT_EQ(V(rec.Output.Value), kDefaultTotal);
  for (size_t i = kDefaultTotal; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0x5A) << i;
}

TEST_F(OptionsDialog, NamedForms) {
  uint32_t h = NewInstance();
  std::vector<uint8_t> buf(4096, 0);
  auto named = [&](const std::string& name, bool terminate) {
    std::fill(buf.begin(), buf.end(), 0xEE);
    std::memcpy(buf.data(), name.data(), name.size());
    if (terminate) buf[name.size()] = 0;
    // Without a terminator the stated size ends the name.
    const uint32_t size = terminate ? static_cast<uint32_t>(buf.size()) : static_cast<uint32_t>(name.size());
    return Get(h, buf.data(), size);
  };
  // Any letter case names the same form: resource N and its "N_CODE" script.
  for (const char* name : {"myform", "MyForm", "MYFORM"}) {
    TPluginCallRec rec = named(name, true);
    ASSERT_EQ(V(rec.Output.Value), 24u + 10 + 10) << name;
    EXPECT_EQ(std::string(buf.begin() + 24, buf.begin() + 44), "NAMED-FORMNAMED-CODE");
  }
  // No terminator: the size the host states is all of the name; the
  // package then does not fit in it.
  TPluginCallRec rec = named("myform", false);
  EXPECT_EQ(V(rec.Output.Value), 3u);
  EXPECT_EQ(V(rec.Output.Size), 44u);
  // A form without a script of its own.
  rec = named("formonly", true);
  EXPECT_EQ(V(rec.Output.Value), 24u + 9);
  EXPECT_EQ(LE32(&buf[20]), 0u);
  // Neither form nor script: nothing to deliver.
  EXPECT_EQ(named("NOSUCHFORM", true).Output.Value, 2u);
  // The default form's name is not a named form's script.
  EXPECT_EQ(named("FORM", true).Output.Value, 2u);
  // A name of 10 kB, terminated or not.
  std::string huge(10240, 'M');
  std::vector<uint8_t> big(huge.begin(), huge.end());
  rec = Get(h, big.data(), static_cast<uint32_t>(big.size()));
  EXPECT_EQ(V(rec.Output.Value), 2u);
  big.push_back(0);
  rec = Get(h, big.data(), static_cast<uint32_t>(big.size()));
  EXPECT_EQ(V(rec.Output.Value), 2u);
  for (size_t i = 0; i + 1 < big.size(); ++i) ASSERT_EQ(big[i], 'M');
}

TEST_F(OptionsDialog, OddRecordsGetTheDocumentedStatus) {
  DoGetOptionsDialog(nullptr);
  DoShowOptionsDialog(nullptr);
  uint32_t h = NewInstance();
  for (uint32_t handle : {0u, h + 1000u, 0xFFFFFFFFu}) {
    TPluginCallRec rec = Get(handle, nullptr, 0);
    EXPECT_EQ(V(rec.Output.Kind), KEL_KIND_STATUS);
    EXPECT_EQ(V(rec.Output.Size), 0u);
    EXPECT_EQ(V(rec.Output.Value), 1u);
  }
  // A stated size with no buffer behind it: the host hears the size needed.
  TPluginCallRec rec = Get(h, nullptr, 100000);
  EXPECT_EQ(V(rec.Output.Value), 3u);
  EXPECT_EQ(V(rec.Output.Size), kDefaultTotal);
}

TEST_F(OptionsDialog, TheHandlerGivesAFormNameAndExtraText) {
  std::string nameGiven = "myform", extraGiven = "EXTRA";
  int calls = 0;
  UseClass([&](TestPlugin& p) {
    p.OnGetOptionsDialog = [&](TkelPlugin&, TPluginCallRec*, std::string& name, std::string& extra) {
      ++calls;
      EXPECT_TRUE(name.empty());
      EXPECT_TRUE(extra.empty());
      name = nameGiven;
      extra = extraGiven;
      if (name == "throw") throw std::runtime_error("no form today");
    };
  });
  uint32_t h = NewInstance();
  std::vector<uint8_t> buf(256, 0);
  TPluginCallRec rec = Get(h, buf.data(), static_cast<uint32_t>(buf.size()));
  ASSERT_EQ(V(rec.Output.Value), 24u + 10 + 5 + 10);
  EXPECT_EQ(LE32(&buf[8]), 34u);
  EXPECT_EQ(LE32(&buf[12]), 5u);
  EXPECT_EQ(LE32(&buf[16]), 39u);
  EXPECT_EQ(std::string(buf.begin() + 24, buf.begin() + 49), "NAMED-FORMEXTRANAMED-CODE");
  // Extra text alone is a package too.
  nameGiven.clear();
  std::fill(buf.begin(), buf.end(), 0);
  rec = Get(h, buf.data(), static_cast<uint32_t>(buf.size()));
  EXPECT_EQ(V(rec.Output.Value), 29u);
  EXPECT_EQ(LE32(&buf[4]), 0u);
  EXPECT_EQ(LE32(&buf[20]), 0u);
  // Both empty: nothing to deliver.
  extraGiven.clear();
  std::fill(buf.begin(), buf.end(), 0);
  EXPECT_EQ(Get(h, buf.data(), static_cast<uint32_t>(buf.size())).Output.Value, 2u);
  // A name from the host is used without asking the handler.
  calls = 0;
  std::memcpy(buf.data(), "myform", 7);
  EXPECT_EQ(Get(h, buf.data(), static_cast<uint32_t>(buf.size())).Output.Value, 44u);
  EXPECT_EQ(calls, 0);
  // A failing handler delivers nothing and says why in the log.
  nameGiven = "throw";
  std::fill(buf.begin(), buf.end(), 0);
  rec = Get(h, buf.data(), static_cast<uint32_t>(buf.size()));
  EXPECT_EQ(V(rec.Output.Kind), KEL_KIND_STATUS);
  EXPECT_EQ(V(rec.Output.Value), 2u);
  EXPECT_NE(LastLogLine(h).find("{GETOPTIONS} no form today"), std::string::npos);
}

// ---- ShowOptionsDialog --------------------------------------------------------

struct Seen {
  bool open = false;
  uint8_t callTypes = 0;
  std::string inputItem;
  std::string ini;
  uintptr_t owner = 0;
  std::string language;
};

TEST_F(OptionsDialog, ShowStatuses) {
  bool changeIt = false;
  bool fail = false;
  UseClass([&](TestPlugin& p) {
    p.OnShowOptionsDialog = [&](TkelPlugin&, TPluginCallRec*, bool& changed) {
      if (fail) throw std::runtime_error("dialog broke");
      changed = changeIt;
    };
  });
  uint32_t h = NewInstance();
  auto show = [&](uint32_t handle, void* params) {
    TPluginCallRec rec = Rec();
    rec.Instance = handle;
    rec.Params = params;
    rec.Output.Kind = 77;
    DoShowOptionsDialog(&rec);
    EXPECT_EQ(V(rec.Output.Kind), KEL_KIND_STATUS);
    EXPECT_EQ(V(rec.Output.Size), 4u);
    return static_cast<uint32_t>(V(rec.Output.Value));
  };
  EXPECT_EQ(show(0, nullptr), 2u);
  EXPECT_EQ(show(h + 1000, nullptr), 2u);
  EXPECT_EQ(show(h, nullptr), 0u);
  changeIt = true;
  EXPECT_EQ(show(h, nullptr), 1u);
  TkelParamsList list;
  EXPECT_EQ(show(h, &list), 1u);
  // Params pointing at something that is no list: the call fails before
  // the handler runs.
  std::vector<uint8_t> zeros(128, 0);
  EXPECT_EQ(show(h, zeros.data()), 4u);
  EXPECT_NE(LastLogLine(h).find("{SHOWOPTIONS}"), std::string::npos);
  // The handler raises: logged as its message and " {SHOWOPTIONS}", and the
  // call is reported as failed, not as "not changed".
  fail = true;
  EXPECT_EQ(show(h, nullptr), 4u);
  EXPECT_NE(LastLogLine(h).find("dialog broke {SHOWOPTIONS}"), std::string::npos);

  UseClass([](TestPlugin&) {});
  EXPECT_EQ(show(NewInstance(), nullptr), 3u);
}

TEST_F(OptionsDialog, TheDialogSeesItsListLanguageAndOwner) {
  Seen seen;
  UseClass([&](TestPlugin& p) {
    p.OnShowOptionsDialog = [&](TkelPlugin& self, TPluginCallRec*, bool&) {
      seen.open = self.OptionsDialogOpen;
      seen.callTypes = self.OptionsCallTypes;
      seen.inputItem = self.OptionsParams ? self.OptionsParams.GetValue("FIELD").ToAnsi() : "<none>";
      seen.ini = self.INIFile;
      seen.owner = self.OwnerForm;
      seen.language = self.Language;
    };
  });
  uint32_t h = NewInstance();
  auto inst = ResolveHandle(h);
  inst->INIFile = "old.ini";
  TkelParamsList params;
  params.Add("INI-FILE", Variant("/tmp/options.ini"));
  params.Add("LANGUAGE", Variant("DE"));
  params.Add("OWNER-FORM", Variant(int64_t{0x1234}));
  TkelParamsList input;
  input.Add("FIELD", Variant("from the host"));
  TPluginCallRec rec = Rec();
  rec.Instance = h;
  rec.Params = &params;
  rec.CallTypes = 0x05;
  rec.Input.Kind = KEL_KIND_RAW_LIST;
  rec.Input.Value = reinterpret_cast<uintptr_t>(&input);
  DoShowOptionsDialog(&rec);
  EXPECT_EQ(V(rec.Output.Value), 0u);
  EXPECT_TRUE(seen.open);
  EXPECT_EQ(seen.callTypes, 0x05);
  EXPECT_EQ(seen.inputItem, "from the host");
  EXPECT_EQ(seen.ini, "/tmp/options.ini");
  EXPECT_EQ(seen.owner, 0x1234u);
  EXPECT_EQ(seen.language, "DE");
  // Only while the handler runs.
  EXPECT_FALSE(inst->OptionsDialogOpen);
  EXPECT_EQ(inst->OptionsCallTypes, 0);
  EXPECT_FALSE(inst->OptionsParams);
  EXPECT_EQ(V(rec.Params), &params);  // the record is given back as it came

  // A list without "INI-FILE" empties it; without an input list there is none.
  TkelParamsList bare;
  rec = Rec();
  rec.Instance = h;
  rec.Params = &bare;
  DoShowOptionsDialog(&rec);
  EXPECT_EQ(seen.ini, "");
  EXPECT_EQ(seen.inputItem, "<none>");
  EXPECT_EQ(seen.owner, 0x1234u);
}

// ---- The diagnostics report -----------------------------------------------------

TEST_F(OptionsDialog, FailuresReachTheDiagnosticsHandler) {
  std::vector<std::pair<TkelPlugin*, std::string>> reports;
  SetDiagnosticsHandler([&](TkelPlugin* instance, const std::string& text) { reports.emplace_back(instance, text); });
  UseClass([](TestPlugin& p) {
    p.OnCustomCommand = [](TkelPlugin&, const std::string&, TPluginCallRec*, int32_t&) {
      throw std::runtime_error("boom");
    };
    p.OnShowOptionsDialog = [](TkelPlugin&, TPluginCallRec*, bool&) { throw std::logic_error("not this one"); };
  });
  uint32_t h = NewInstance();
  TkelParamsList params;
  params.Add("COMMAND", Variant("FAIL"));
  EXPECT_EQ(Command(h, params), -3);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].first, ResolveHandle(h).get());
  // The stack, then the error line.
  const std::string& text = reports[0].second;
  EXPECT_EQ(text.rfind("#0 ", 0), 0u) << text;
  EXPECT_NE(text.find("\r\n{FAIL} boom"), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 11), "{FAIL} boom") << text;

  // A handler that fails itself does not change the call's result.
  SetDiagnosticsHandler([](TkelPlugin*, const std::string&) { throw std::runtime_error("report lost"); });
  EXPECT_EQ(Command(h, params), -3);
  SetDiagnosticsHandler({});
  EXPECT_EQ(Command(h, params), -3);
}

TEST(Diagnostics, TextIsTheStackThenTheExtraText) {
  std::string text = DiagnosticsText("extra line");
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.rfind("#0 0x", 0), 0u);
  EXPECT_GT(std::count(text.begin(), text.end(), '\n'), 2);
  EXPECT_EQ(text.substr(text.size() - 12), "\r\nextra line");
  // The test binary exports its symbols: the frames of the test framework
  // that called this test are named.
  EXPECT_NE(text.find("testing::"), std::string::npos) << text;
}

}  // namespace
}  // namespace kel::testing
