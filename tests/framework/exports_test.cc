#include <gtest/gtest.h>

#include <sys/mman.h>

#include <vector>

#include "framework/call_rec.h"
#include "framework_fixture.h"
#include "params/params_list_wrap.h"

namespace kel::testing {
namespace {

constexpr uint32_t kHeader = sizeof(TPluginModuleInfo);

// A page that can never be read: records and Params pointing here must be
// refused without a fault.
void* UnreadablePage() {
  static void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return page;
}

using CreateFree = FrameworkTest;

TEST_F(CreateFree, NonZeroInstanceCreatesNothing) {
  int before = InstanceCount();
  TPluginCallRec rec = Rec();
  rec.Instance = 7;
  EXPECT_EQ(DoCreatePluginInstance(&rec), -1);
  EXPECT_EQ(InstanceCount(), before);
}

TEST_F(CreateFree, FreeTwiceThenUnknown) {
  TkelParamsList params;
  TPluginCallRec rec = Rec();
  rec.Params = &params;
  ASSERT_EQ(DoCreatePluginInstance(&rec), 0);
  uint32_t h = rec.Instance;
  EXPECT_NE(h, 0u);
  EXPECT_EQ(DoFreePluginInstance(&rec), 0);
  EXPECT_EQ(DoFreePluginInstance(&rec), -1);
  rec.Instance = 0xDEADBEEF;
  EXPECT_EQ(DoFreePluginInstance(&rec), -1);
}

TEST_F(CreateFree, HandlesAreNeverReused) {
  uint32_t a = NewInstance();
  TPluginCallRec rec = Rec();
  rec.Instance = a;
  ASSERT_EQ(DoFreePluginInstance(&rec), 0);
  created_.clear();
  uint32_t b = NewInstance();
  EXPECT_NE(a, b);
  // The stale handle resolves to nothing.
  TkelParamsList params;
  params.Add("COMMAND", Variant("EVENTS-SUPPORT"));
  EXPECT_EQ(Command(a, params), -1);
}

TEST_F(CreateFree, ShutdownRunsProceduresOnce) {
  static int runs = 0;
  runs = 0;
  AddShutdownProc([] { ++runs; });
  AddShutdownProc([] { throw std::runtime_error("ignored"); });
  AddShutdownProc([] { ++runs; });
  TPluginCallRec rec = Rec();
  rec.Input.Kind = KEL_KIND_CONTROL;
  rec.Input.Value = KEL_SHUTDOWN_CODE;
  EXPECT_EQ(DoFreePluginInstance(&rec), 0);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(DoFreePluginInstance(&rec), 0);  // nothing registered: still 0
  EXPECT_EQ(runs, 2);
}

TEST_F(CreateFree, CreationHandlerFailureIsContained) {
  int before = InstanceCount();
  UseClass([](TestPlugin&) { throw std::runtime_error("module refused"); });
  TkelParamsList params;
  TPluginCallRec rec = Rec();
  rec.Params = &params;
  EXPECT_EQ(DoCreatePluginInstance(&rec), -1);
  EXPECT_EQ(uint32_t{rec.Instance}, 0u);
  EXPECT_EQ(InstanceCount(), before);
}

using ModuleInfo = FrameworkTest;

TEST_F(ModuleInfo, TwoCallNegotiation) {
  UseClass([](TestPlugin& p) {
    WriteGuard settings(p.SettingsLock);  // free: the instance is not shared yet
    p.Description = "Bacnet/IP";
    p.ModuleType = 3;
    p.ModuleOptions = 0x05;
    p.ModuleVersion = 5.0f;
    p.CustomCommands.Add("A", "B", "C", true, false);
  });
  uint32_t h = NewInstance();
  TPluginCallRec rec = Rec();
  rec.Instance = h;
  const std::string commands = "A|B|C|1|0\r\n";
  uint32_t needed = 0;
  EXPECT_FALSE(DoGetModuleInfo(&rec, nullptr, &needed));
  EXPECT_EQ(needed, kHeader + 9 + commands.size());

  // Header only: filled, but false because texts do not fit.
  std::vector<uint8_t> small(kHeader, 0xCC);
  auto* info = reinterpret_cast<TPluginModuleInfo*>(small.data());
  info->Size = kHeader;
  EXPECT_FALSE(DoGetModuleInfo(&rec, info, &needed));
  EXPECT_EQ(+info->Size, kHeader);
  EXPECT_EQ(+info->ModuleType, 3u | (5u << 16));
  EXPECT_EQ(+info->FrameworkVersion, 4u);
  EXPECT_FLOAT_EQ(+info->ModuleVersion, 5.0f);
  EXPECT_EQ(+info->Description, 0u);

  std::vector<uint8_t> full(needed);
  info = reinterpret_cast<TPluginModuleInfo*>(full.data());
  info->Size = needed;
  ASSERT_TRUE(DoGetModuleInfo(&rec, info, &needed));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info->Description), info->DescriptionLength), "Bacnet/IP");
  EXPECT_EQ(+info->Description, reinterpret_cast<uintptr_t>(full.data() + kHeader));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info->Commands), info->CommandsLength), commands);
}

TEST_F(ModuleInfo, EmptyTextsFitTheHeader) {
  UseClass([](TestPlugin&) {});
  uint32_t h = NewInstance();
  TPluginCallRec rec = Rec();
  rec.Instance = h;
  std::vector<uint8_t> buf(kHeader);
  auto* info = reinterpret_cast<TPluginModuleInfo*>(buf.data());
  info->Size = kHeader;
  uint32_t needed = 0;
  EXPECT_TRUE(DoGetModuleInfo(&rec, info, &needed));
  EXPECT_EQ(needed, kHeader);
  EXPECT_EQ(+info->DescriptionLength, 0u);
  EXPECT_EQ(+info->Commands, 0u);
}

TEST_F(ModuleInfo, UnknownOrUnreadableRecord) {
  TPluginCallRec rec = Rec();
  rec.Instance = 0x7FFFFFF0;
  uint32_t needed = 99;
  EXPECT_FALSE(DoGetModuleInfo(&rec, nullptr, &needed));
  EXPECT_EQ(needed, 0u);
  EXPECT_FALSE(DoGetModuleInfo(static_cast<TPluginCallRec*>(UnreadablePage()), nullptr, &needed));
  EXPECT_FALSE(DoGetModuleInfo(nullptr, nullptr, &needed));
}

using Execute = FrameworkTest;

TEST_F(Execute, BadRecordsGiveDocumentedCodes) {
  uint32_t h = NewInstance();
  TkelParamsList params;
  params.Add("COMMAND", Variant("EVENTS-SUPPORT"));
  TPluginCallRec rec = Rec();
  rec.Instance = h;
  rec.Params = &params;
  rec.Size = sizeof rec - 1;
  EXPECT_EQ(DoExecutePluginCommand(&rec), -1);
  rec.Size = sizeof rec;
  rec.Instance = 0;
  EXPECT_EQ(DoExecutePluginCommand(&rec), -4);
  rec.Instance = h;
  rec.Params = nullptr;
  EXPECT_EQ(DoExecutePluginCommand(&rec), -1);
  rec.Params = UnreadablePage();
  EXPECT_EQ(DoExecutePluginCommand(&rec), -1);
  uint8_t zeros[64] = {};
  rec.Params = zeros;  // an interface variable holding null
  EXPECT_EQ(DoExecutePluginCommand(&rec), -1);
  EXPECT_EQ(DoExecutePluginCommand(nullptr), -1);
  EXPECT_EQ(DoExecutePluginCommand(static_cast<TPluginCallRec*>(UnreadablePage())), -1);
  TkelParamsList noCommand;
  rec.Params = &noCommand;
  EXPECT_EQ(DoExecutePluginCommand(&rec), -1);
}

TEST_F(Execute, RawListIsWrappedForTheCallAndPutBack) {
  UseClass([](TestPlugin& p) {
    port::Guard commands(p.CommandLock);  // free: the instance is not shared yet
    p.EventsSupported = "PORT-OPEN";
  });
  uint32_t h = NewInstance();
  TkelParamsList params;
  params.Add("COMMAND", Variant("EVENTS-SUPPORT"));
  params.Add("RESULT", Variant::Null());
  TPluginCallRec rec = Rec();
  rec.Instance = h;
  rec.Params = &params;
  rec.Flags = 0x01;
  EXPECT_EQ(DoExecutePluginCommand(&rec), 0);
  EXPECT_EQ(+rec.Params, &params);
  EXPECT_EQ(+rec.Flags, 0x01);
  EXPECT_EQ(params.GetValue("RESULT").ToAnsi(), "PORT-OPEN");
}

TEST_F(Execute, InterfaceVariableKeepsFlagForTheCall) {
  uint8_t seenFlags = 0;
  UseClass([&seenFlags](TestPlugin& p) {
    p.OnCustomCommand = [&seenFlags](TkelPlugin&, const std::string&, TPluginCallRec* rec, int32_t& r) {
      seenFlags = rec->Flags;
      r = 5;
    };
  });
  uint32_t h = NewInstance();
  auto* wrap = new TkelParamsListWrap();
  wrap->List()->Add("COMMAND", Variant("MY-COMMAND"));
  IkelParamsListA* intf = TkelParamsListWrap::NewRefA(wrap->List());
  TPluginCallRec rec = Rec();
  rec.Instance = h;
  rec.Params = &intf;
  EXPECT_EQ(DoExecutePluginCommand(&rec), 5);
  EXPECT_EQ(seenFlags & KEL_FLAG_PARAMS_INTF, KEL_FLAG_PARAMS_INTF);
  EXPECT_EQ(+rec.Flags & KEL_FLAG_PARAMS_INTF, 0);
  intf->vtbl->Release(intf);
  delete wrap;
}

TEST_F(Execute, NestedCommandFailsAndLeavesOuterIntact) {
  int32_t inner = 0;
  UseClass([&inner](TestPlugin& p) {
    p.OnCustomCommand = [&inner](TkelPlugin& self, const std::string& cmd, TPluginCallRec*, int32_t& r) {
      if (cmd == "OUTER") {
        TkelParamsList nested;
        nested.Add("COMMAND", Variant("INNER"));
        TPluginCallRec rec;
        std::memset(&rec, 0, sizeof rec);
        rec.Size = sizeof rec;
        rec.Instance = self.ModulePluginHandle;
        rec.Params = &nested;
        inner = DoExecutePluginCommand(&rec);
        r = 0;
      } else {
        r = 99;
      }
    };
  });
  uint32_t h = NewInstance();
  TkelParamsList params;
  params.Add("COMMAND", Variant("OUTER"));
  EXPECT_EQ(Command(h, params), 0);
  EXPECT_EQ(inner, -3);
  TkelParamsList again;
  again.Add("COMMAND", Variant("X"));
  EXPECT_EQ(Command(h, again), 99);  // depth and lock were released
}

TEST_F(Execute, HandlerExceptionGivesMinusThreeAndLogsReport) {
  UseClass([](TestPlugin& p) {
    p.LogTitle = "T";
    p.OnCustomCommand = [](TkelPlugin&, const std::string&, TPluginCallRec*, int32_t&) {
      throw std::runtime_error("boom");
    };
  });
  uint32_t h = NewInstance();
  TkelParamsList params;
  params.Add("COMMAND", Variant("FAIL"));
  EXPECT_EQ(Command(h, params), -3);
  auto inst = ResolveHandle(h);
  ASSERT_TRUE(inst);
  // Held for the scope: a failed assertion returns with the lock given back.
  const TReadLocked<TThreadStringList> lines(*inst->Log);
  ASSERT_FALSE(lines.Items().empty());
  EXPECT_NE(lines.Items().back().text.find("{FAIL} boom"), std::string::npos);
}

using Process = FrameworkTest;

TEST_F(Process, GuardsAndHandler) {
  UseClass([](TestPlugin& p) {
    p.OnProcessData = [](TkelPlugin&, TPluginCallRec* rec, int32_t& r) { r = static_cast<int32_t>(rec->Input.Size); };
  });
  uint32_t h = NewInstance();
  TkelParamsList params;
  uint8_t frame[20] = {};
  TPluginCallRec rec = Rec();
  rec.Instance = h;
  rec.Params = &params;
  rec.Input.Kind = KEL_KIND_BUFFER;
  rec.Input.Size = sizeof frame;
  rec.Input.Value = reinterpret_cast<uintptr_t>(frame);
  rec.CallTypes = 1u << 1;
  EXPECT_EQ(DoProcessData(&rec), 20);
  rec.Input.Value = reinterpret_cast<uintptr_t>(frame);
  rec.Size = 1;
  EXPECT_EQ(DoProcessData(&rec), -1);
  rec.Size = sizeof rec;
  rec.Params = nullptr;
  EXPECT_EQ(DoProcessData(&rec), -1);
  EXPECT_EQ(DoProcessData(nullptr), -1);
}

TEST_F(Process, RawOutputListBecomesInterfaceForTheCall) {
  UseClass([](TestPlugin& p) {
    p.OnProcessData = [](TkelPlugin&, TPluginCallRec* rec, int32_t& r) {
      ParamsRef out = DescriptorParams(rec->Output);
      r = rec->Output.Kind == KEL_KIND_LIST_INTF && out && out.Add("VALUE", Variant(int32_t{42})) ? 0 : -9;
    };
  });
  uint32_t h = NewInstance();
  TkelParamsList params, output;
  TPluginCallRec rec = Rec();
  rec.Instance = h;
  rec.Params = &params;
  rec.Output.Kind = KEL_KIND_RAW_LIST;
  rec.Output.Value = reinterpret_cast<uintptr_t>(&output);
  rec.CallTypes = 1u << 1;
  EXPECT_EQ(DoProcessData(&rec), 0);
  EXPECT_EQ(output.GetValue("VALUE").ToInt32(), 42);
  // The descriptor stays converted: the host must not use its Value.
  EXPECT_EQ(+rec.Output.Kind, KEL_KIND_LIST_INTF);
}

TEST_F(Process, RawListKindWithoutAListIsNotWrapped) {
  // Kind 8 that points at anything but a list: the handler must find no
  // list (wrapping it would hand the handler a list made of garbage).
  UseClass([](TestPlugin& p) {
    p.OnProcessData = [](TkelPlugin&, TPluginCallRec* rec, int32_t& r) {
      r = DescriptorParams(rec->Output) || DescriptorParams(rec->Input) ? -9 : 0;
    };
  });
  uint32_t h = NewInstance();
  TkelParamsList params;
  uint32_t notAList[16] = {};
  TPluginCallRec rec = Rec();
  rec.Instance = h;
  rec.Params = &params;
  rec.Input.Kind = KEL_KIND_RAW_LIST;
  rec.Input.Value = reinterpret_cast<uintptr_t>(UnreadablePage());
  rec.Output.Kind = KEL_KIND_RAW_LIST;
  rec.Output.Value = reinterpret_cast<uintptr_t>(notAList);
  rec.CallTypes = 1u << 1;
  EXPECT_EQ(DoProcessData(&rec), 0);
  EXPECT_EQ(+rec.Output.Kind, KEL_KIND_RAW_LIST);
  EXPECT_EQ(rec.Output.Value, reinterpret_cast<uintptr_t>(notAList));
  EXPECT_EQ(+rec.Input.Kind, KEL_KIND_RAW_LIST);
}

}  // namespace
}  // namespace kel::testing
