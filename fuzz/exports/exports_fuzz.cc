// A hostile host in process: each input is a small program of export calls
// (create, free, module info, log, options, commands, data) with odd call
// records, parameter lists of every value type and handles that are live,
// freed or made up.  Every buffer and list the records point at belongs to
// the fuzzer and has the size the record states: the abuse is in meaning,
// not in wild pointers.  Settings go to a private temporary folder only.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "../common/scratch_dir.h"
#include "bacnetip/plugin_abi.h"
#include "framework/exports_impl.h"
#include "framework/instance_registry.h"
#include "module/ta_plugin.h"
#include "params/params_list.h"
#include "params/params_list_wrap.h"
#include "platform/port.h"
#include "runtime/variant.h"

namespace {

constexpr size_t kMaxOps = 24;
constexpr size_t kMaxItems = 12;
constexpr size_t kMaxText = 600;

struct Setup {
  std::string dir;
  int pipeRead = -1;
  int pipeWrite = -1;
};

const Setup& Env() {
  static Setup s = [] {
    Setup e;
    e.dir = fuzzutil::MakeScratchDir("bacnetip-fuzz-exports");
    setenv("BACNETIP_REGISTRY_DIR", e.dir.c_str(), 1);
    setenv("BACNETIP_REGISTRY_MACHINE_DIR", (e.dir + "/machine").c_str(), 1);
    setenv("XDG_DATA_HOME", (e.dir + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (e.dir + "/config").c_str(), 1);
    setenv("TMPDIR", e.dir.c_str(), 1);
    int fds[2];
    if (pipe(fds) == 0) {
      fcntl(fds[0], F_SETFL, O_NONBLOCK);
      fcntl(fds[1], F_SETFL, O_NONBLOCK);
      e.pipeRead = fds[0];
      e.pipeWrite = fds[1];
    }
    kel::InitializeFramework();
    bacnet_module::RegisterModuleClass();
    // The folder goes when the run ends normally (a plain copy of its
    // name: the exit handler runs after this object is gone).
    static char made[256];
    if (e.dir != "/tmp" && e.dir.size() < sizeof made) std::memcpy(made, e.dir.c_str(), e.dir.size() + 1);
    std::atexit([] {
      std::error_code ec;
      if (made[0]) std::filesystem::remove_all(made, ec);
    });
    return e;
  }();
  return s;
}

void DrainPipe() {
  char buf[4096];
  while (Env().pipeRead >= 0 && read(Env().pipeRead, buf, sizeof buf) > 0) {
  }
}

const char* const kCommands[] = {"EVENT",
                                 "LOAD",
                                 "UNLOAD",
                                 "SET-ITEMS",
                                 "SET-STATE",
                                 "ITEMS",
                                 "EVENTS-SUPPORT",
                                 "GET-MODULE-PARAMETER",
                                 "SET-MODULE-PARAMETER",
                                 "SAVE-SETTINGS-NOW",
                                 "LOAD-SETTINGS-NOW",
                                 "load",
                                 "",
                                 "CMD?"};

const char* const kParamNames[] = {"COMMAND", "RESULT", "EVENT-TYPE", "ITEMS", "DATA-SOURCES-IN-CFG",
                                   "DATA-SOURCE-LOAD", "PARAM", "VALUE", "LANGUAGE", "INI-FILE",
                                   "REGISTRY-PATH", "INI-SECTION-PREFIX", "TEMPORARY-LOAD",
                                   "MSG-PROC-HANDLE", "HANDLE", "OWNER-FORM", "NO-SAVE", "CONFIG-ID",
                                   "APPLICATION-NAME", "$NEW_ROW$", "command", "Result"};

const char* const kModuleParams[] = {
    "LogTitle", "Description", "EventsSupported", "CustomCommands", "TranslatorComponentProperties",
    "ModuleType", "ModuleEnabled", "ModuleDllHandle", "ModuleLoadCount", "ModuleIndex",
    "ModulePluginHandle", "ModulePath", "ModuleDataPath", "AppDataPath", "ModuleName",
    "ModuleLoadForConfig", "ModuleConfigId", "ApplicationFullName", "INIFile", "ModuleRegistryRoot1",
    "ModuleRegistryRoot2", "ModuleRegistryPath", "INISectionPrefix", "DisplayFullVersion", "ParserItems",
    "ParserItemsCount", "ParserItemName0", "ParserItemDesc1", "ParserItemType999", "ParserItemName-1",
    "DataSourceLoadFor", "TerminateNow", "IsTemporaryLoad", "ParentApp", "OWNER-FORM",
    "SUBSCRIBE-FOR-DATA", "Custom", "Custom:x", "Custom 5", "Custom_COUNT", "CustomCOUNT", "Custom99",
    "TESTTRANSL", "logtitle"};

const char* const kEvents[] = {"PORT-OPEN", "PORT-CLOSE", "", "port-open", "DATA-SOURCE-STATE"};

const char* const kRegistryPaths[] = {
    "Software\\Kel\\BACnet", "", "\\", "..\\..\\..\\etc", "Software\\A\\B\\C\\D\\E\\F",
    "Software\\Kel\\{x:y}\\Data", "Software\\\\\\Kel", "Software\\Kel\\%41%00"};

const char* const kLanguages[] = {"", "English", "Deutsch", "Русский", "..\\..\\x", "\x01\x02"};

std::string AnyText(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
      return in.ConsumeRandomLengthString(kMaxText);
    case 1: {  // long: a short piece repeated
      std::string piece = in.ConsumeRandomLengthString(8);
      if (piece.empty()) piece = "x";
      std::string s;
      const size_t n = in.ConsumeIntegralInRange<size_t>(1, 4000 / piece.size());
      for (size_t i = 0; i < n; ++i) s += piece;
      return s;
    }
    case 2: {  // control bytes, separators, CR LF
      static const char kOdd[] = "\0\r\n\t;|%{}\\:\"\x7f\x80\xff$=";
      std::string s;
      const size_t n = in.ConsumeIntegralInRange<size_t>(0, 40);
      for (size_t i = 0; i < n; ++i) s.push_back(kOdd[in.ConsumeIntegralInRange<size_t>(0, sizeof kOdd - 2)]);
      return s;
    }
    case 3:
      return "7;Port7;COM port 7\r\nx;y\r\n;;;\r\n-1;a\r\n2147483648;b;c\r\n 8 ; P8 ; F8 ";
    case 4:
      return "a|b|c|1|0\r\nd|e|f|g\r\n||||\r\nq|w|e|true|1|extra";
    default:
      return std::string(kCommands[in.ConsumeIntegralInRange<size_t>(0, std::size(kCommands) - 1)]);
  }
}

kel::Variant AnyVariant(FuzzedDataProvider& in) {
  using kel::Variant;
  switch (in.ConsumeIntegralInRange<int>(0, 17)) {
    case 0: return Variant();
    case 1: return Variant::Null();
    case 2: return Variant::FromI2(in.ConsumeIntegral<int16_t>());
    case 3: return Variant(in.ConsumeIntegral<int32_t>());
    case 4: {
      static const float kF[] = {0.0f, -0.0f, 1.5f, 1e38f, -1e38f, std::numeric_limits<float>::infinity(),
                                 std::numeric_limits<float>::quiet_NaN(), 2147483648.0f};
      return Variant::FromR4(in.ConsumeBool() ? kF[in.ConsumeIntegralInRange<size_t>(0, std::size(kF) - 1)]
                                              : in.ConsumeFloatingPoint<float>());
    }
    case 5: {
      static const double kD[] = {0.0, 1.0, -1.0, 1e300, -1e300, 9.3e18, -9.3e18,
                                  std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN(), 4294967296.5};
      return Variant(in.ConsumeBool() ? kD[in.ConsumeIntegralInRange<size_t>(0, std::size(kD) - 1)]
                                      : in.ConsumeFloatingPoint<double>());
    }
    case 6: return Variant::FromCurrency(in.ConsumeIntegral<int64_t>());
    case 7: {
      static const double kDates[] = {0.0, -693594.0, 2958465.9999, 1e20, -1e20,
                                      std::numeric_limits<double>::quiet_NaN(), 45000.5};
      return Variant::FromDate(in.ConsumeBool() ? kDates[in.ConsumeIntegralInRange<size_t>(0, std::size(kDates) - 1)]
                                                : in.ConsumeFloatingPoint<double>());
    }
    case 8: {  // UTF-16, lone surrogates included
      std::u16string s;
      const size_t n = in.ConsumeIntegralInRange<size_t>(0, 64);
      for (size_t i = 0; i < n; ++i) s.push_back(in.ConsumeIntegral<char16_t>());
      if (in.ConsumeBool()) {
        std::string a = AnyText(in);
        s.append(a.begin(), a.end());
      }
      return Variant::FromOleStr(std::move(s));
    }
    case 9: return Variant(in.ConsumeBool());
    case 10: return Variant::FromI1(in.ConsumeIntegral<int8_t>());
    case 11: return Variant::FromUI1(in.ConsumeIntegral<uint8_t>());
    case 12: return Variant::FromUI2(in.ConsumeIntegral<uint16_t>());
    case 13: return Variant(in.ConsumeIntegral<uint32_t>());
    case 14: return Variant(in.ConsumeIntegral<int64_t>());
    case 15: return Variant(in.ConsumeIntegral<uint64_t>());
    default: return Variant(AnyText(in));
  }
}

// The handles an input has seen: live ones, freed ones and made-up ones.
struct Handles {
  std::vector<uint32_t> made;

  uint32_t Pick(FuzzedDataProvider& in) const {
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
      case 0: return 0;
      case 1: return in.ConsumeIntegral<uint32_t>();
      default:
        if (made.empty()) return in.ConsumeBool() ? 1u : 0xFFFFFFFFu;
        return made[in.ConsumeIntegralInRange<size_t>(0, made.size() - 1)];
    }
  }
};

// Values for the parameters that reach the file system or the OS: kept
// inside the temporary folder, or to harmless handles.
kel::Variant ValueFor(const std::string& name, FuzzedDataProvider& in) {
  const Setup& env = Env();
  if (name == "INI-FILE" && in.ConsumeIntegralInRange<int>(0, 7) != 0) {
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
      case 0: return kel::Variant(env.dir + "/s" + std::to_string(in.ConsumeIntegralInRange<int>(0, 3)) + ".ini");
      case 1: return kel::Variant(env.dir + "/missing/sub/x.ini");
      case 2: return kel::Variant(env.dir);  // a folder, not a file
      case 3: return kel::Variant("$CUSTOM$");
      case 4: return kel::Variant("");
      default: return kel::Variant(env.dir + "/s0.ini");
    }
  }
  if (name == "INI-FILE") return kel::Variant::Null();
  if (name == "MSG-PROC-HANDLE") {
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
      case 0: return kel::Variant(-1);
      case 1: return kel::Variant(0);
      default: return kel::Variant(env.pipeWrite);
    }
  }
  if (name == "HANDLE") return in.ConsumeBool() ? kel::Variant(0) : kel::Variant::Null();
  if (name == "APPLICATION-NAME") return kel::Variant(in.ConsumeBool() ? "" : "no-such-host.so");
  if (name == "REGISTRY-PATH")
    return kel::Variant(kRegistryPaths[in.ConsumeIntegralInRange<size_t>(0, std::size(kRegistryPaths) - 1)]);
  if (name == "LANGUAGE" && in.ConsumeBool())
    return kel::Variant(kLanguages[in.ConsumeIntegralInRange<size_t>(0, std::size(kLanguages) - 1)]);
  if (name == "EVENT-TYPE" && in.ConsumeBool())
    return kel::Variant(kEvents[in.ConsumeIntegralInRange<size_t>(0, std::size(kEvents) - 1)]);
  if (name == "PARAM" && in.ConsumeIntegralInRange<int>(0, 3) != 0)
    return kel::Variant(kModuleParams[in.ConsumeIntegralInRange<size_t>(0, std::size(kModuleParams) - 1)]);
  return AnyVariant(in);
}

// Fills a parameter list: a command (mostly), then named values.
void FillList(kel::TkelParamsList& list, FuzzedDataProvider& in, bool command) {
  if (command && in.ConsumeIntegralInRange<int>(0, 7) != 0) {
    kel::Variant cmd;
    if (in.ConsumeIntegralInRange<int>(0, 5) != 0)
      cmd = kel::Variant(kCommands[in.ConsumeIntegralInRange<size_t>(0, std::size(kCommands) - 1)]);
    else
      cmd = AnyVariant(in);
    list.Add("COMMAND", cmd);
  }
  const size_t n = in.ConsumeIntegralInRange<size_t>(0, kMaxItems);
  for (size_t i = 0; i < n && in.remaining_bytes() > 0; ++i) {
    std::string name = in.ConsumeIntegralInRange<int>(0, 7) != 0
                           ? kParamNames[in.ConsumeIntegralInRange<size_t>(0, std::size(kParamNames) - 1)]
                           : in.ConsumeRandomLengthString(24);
    // A random name may spell a file-system parameter in another case:
    // only the listed spellings carry free values.
    std::string upper = port::AnsiUpper(name);
    if (upper != name && (upper == "INI-FILE" || upper == "MSG-PROC-HANDLE" || upper == "HANDLE" ||
                          upper == "REGISTRY-PATH" || upper == "APPLICATION-NAME"))
      name = upper;
    kel::TkelParamsListItem* item = list.Add(name, ValueFor(name, in));
    if (item && in.ConsumeIntegralInRange<int>(0, 9) == 0) {
      item->DataType = in.ConsumeBool() ? kel::kRowMarkerType : in.ConsumeIntegral<int32_t>();
      item->State = in.ConsumeIntegral<uint8_t>();
    }
  }
}

// What a descriptor or Params points at; everything lives until the call is
// over, and the references the fuzzer holds are released afterwards.
struct Target {
  std::unique_ptr<kel::TkelParamsList> list;
  IkelParamsListA* intf = nullptr;  // our counted reference
  IkelParamsListA* var = nullptr;   // the variable the record points at
  std::vector<uint8_t> buffer;
  IkelParamsListA* nullVar = nullptr;

  ~Target() {
    if (intf) intf->vtbl->Release(intf);
  }
};

// A variable holding a W reference where an A one belongs is not among
// them: the module cannot tell a foreign W table from an A table, and the
// records always carry A references.
enum class PointerKind { None, RawList, IntfVar, NullVar, Buffer };

// Makes what a pointer field points at and returns the pointer.
void* MakeTarget(Target& t, FuzzedDataProvider& in, bool command, PointerKind kind) {
  switch (kind) {
    case PointerKind::None:
      return nullptr;
    case PointerKind::RawList:
    case PointerKind::IntfVar:
      t.list = std::make_unique<kel::TkelParamsList>();
      FillList(*t.list, in, command);
      if (kind == PointerKind::RawList) return t.list.get();
      t.intf = kel::TkelParamsListWrap::NewRefA(t.list.get());
      t.var = t.intf;
      return &t.var;
    case PointerKind::NullVar:
      return &t.nullVar;
    case PointerKind::Buffer:
      // Zeros: no list signature and no interface in it, and more bytes
      // than a list header has.
      t.buffer.assign(in.ConsumeIntegralInRange<size_t>(64, 256), 0);
      return t.buffer.data();
  }
  return nullptr;
}

PointerKind AnyPointerKind(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 9)) {
    case 0: return PointerKind::None;
    case 1: return PointerKind::NullVar;
    case 2: return PointerKind::Buffer;
    case 3:
    case 4:
    case 5:
    case 6: return PointerKind::RawList;
    default: return PointerKind::IntfVar;
  }
}

// A value descriptor: list kinds point at lists, buffer kinds at buffers of
// the stated size, other kinds carry numbers.
void FillDescriptor(TPluginValue& v, Target& t, FuzzedDataProvider& in) {
  v.Counter = in.ConsumeIntegral<uint32_t>();
  static const uint8_t kKinds[] = {0, KEL_KIND_OBJECT, KEL_KIND_COPIED, KEL_KIND_BUFFER, KEL_KIND_STATUS,
                                   KEL_KIND_CONTROL, KEL_KIND_RAW_LIST, KEL_KIND_LIST_INTF, 3, 7, 200};
  v.Kind = kKinds[in.ConsumeIntegralInRange<size_t>(0, std::size(kKinds) - 1)];
  switch (v.Kind) {
    case KEL_KIND_OBJECT:
    case KEL_KIND_RAW_LIST: {
      PointerKind k = in.ConsumeBool() ? PointerKind::RawList : PointerKind::None;
      if (in.ConsumeIntegralInRange<int>(0, 5) == 0) k = PointerKind::Buffer;
      v.Value = reinterpret_cast<uintptr_t>(MakeTarget(t, in, false, k));
      v.Size = in.ConsumeIntegral<uint32_t>();
      if (k == PointerKind::Buffer) v.Size = static_cast<uint32_t>(t.buffer.size());
      break;
    }
    case KEL_KIND_LIST_INTF: {
      PointerKind k = AnyPointerKind(in);
      if (k == PointerKind::RawList) k = PointerKind::IntfVar;
      v.Value = reinterpret_cast<uintptr_t>(MakeTarget(t, in, false, k));
      v.Size = in.ConsumeIntegral<uint32_t>();
      break;
    }
    case KEL_KIND_BUFFER:
    case KEL_KIND_COPIED: {
      std::string bytes = in.ConsumeRandomLengthString(512);
      if (in.ConsumeBool() || bytes.empty()) {
        t.buffer.assign(bytes.begin(), bytes.end());
        if (t.buffer.empty()) t.buffer.push_back(0);
        v.Value = reinterpret_cast<uintptr_t>(t.buffer.data());
        v.Size = static_cast<uint32_t>(in.ConsumeIntegralInRange<size_t>(0, t.buffer.size()));
      } else {
        v.Value = 0;
        v.Size = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint32_t>();
      }
      break;
    }
    default:
      // Status, control and unknown kinds: a number.  Numbers that look
      // like addresses are kept small so that none is a live address.
      v.Value = in.ConsumeBool() ? KEL_SHUTDOWN_CODE : in.ConsumeIntegralInRange<uint32_t>(0, 0xFFFF);
      v.Size = in.ConsumeIntegral<uint32_t>();
      break;
  }
}

struct Call {
  TPluginCallRec rec{};
  Target params, input, output;
};

void FillRecord(Call& c, FuzzedDataProvider& in, const Handles& handles, bool command) {
  TPluginCallRec& r = c.rec;
  r.Size = in.ConsumeIntegralInRange<int>(0, 7) != 0 ? KEL_CALLREC_SIZE : in.ConsumeIntegral<uint32_t>();
  r.Flags = in.ConsumeIntegral<uint8_t>();
  r.Instance = handles.Pick(in);
  r.ModuleIndex = in.ConsumeIntegral<int32_t>();
  r.DataSourceId = in.ConsumeIntegral<int32_t>();
  r.PeerId = in.ConsumeIntegral<int32_t>();
  r.CallTypes = in.ConsumeIntegral<uint8_t>();
  r.Params = MakeTarget(c.params, in, command, AnyPointerKind(in));
  FillDescriptor(r.Input, c.input, in);
  FillDescriptor(r.Output, c.output, in);
  // The peer address, terminated or not.
  std::string peer = in.ConsumeRandomLengthString(sizeof r.PeerAddress);
  std::memcpy(r.PeerAddress, peer.data(), peer.size());
}

enum Op { kCreate, kFree, kModuleInfo, kLog, kGetOptions, kShowOptions, kCommand, kProcess, kWriteIni, kOpCount };

void RunOp(FuzzedDataProvider& in, Handles& handles) {
  const int op = in.ConsumeIntegralInRange<int>(0, kOpCount - 1);
  Call c;
  switch (op) {
    case kCreate: {
      FillRecord(c, in, handles, false);
      if (in.ConsumeIntegralInRange<int>(0, 3) != 0) c.rec.Instance = 0;
      const bool made = kel::DoCreatePluginInstance(&c.rec) == 0;
      const uint32_t handle = c.rec.Instance;  // packed field: copied, not bound
      if (made && handle != 0) handles.made.push_back(handle);
      break;
    }
    case kFree:
      FillRecord(c, in, handles, false);
      kel::DoFreePluginInstance(&c.rec);
      break;
    case kModuleInfo: {
      FillRecord(c, in, handles, false);
      const size_t capacity = in.ConsumeIntegralInRange<size_t>(0, 512);
      std::vector<uint8_t> buf(sizeof(TPluginModuleInfo) + capacity, 0xCC);
      auto* info = reinterpret_cast<TPluginModuleInfo*>(buf.data());
      // The stated capacity is never more than the buffer holds.
      info->Size = static_cast<uint32_t>(in.ConsumeIntegralInRange<size_t>(0, buf.size()));
      uint32_t needed = 0;
      kel::DoGetModuleInfo(&c.rec, in.ConsumeBool() ? info : nullptr, in.ConsumeBool() ? &needed : nullptr);
      break;
    }
    case kLog: {
      FillRecord(c, in, handles, false);
      // The log is drained into Input: a buffer of exactly the stated size.
      std::vector<uint8_t> buf(in.ConsumeIntegralInRange<size_t>(0, 2048));
      c.rec.Input.Value = buf.empty() ? 0 : reinterpret_cast<uintptr_t>(buf.data());
      c.rec.Input.Size = static_cast<uint32_t>(buf.size());
      c.rec.Input.Kind = in.ConsumeBool() ? KEL_KIND_BUFFER : in.ConsumeIntegral<uint8_t>();
      if (c.rec.Input.Kind == KEL_KIND_RAW_LIST || c.rec.Input.Kind == KEL_KIND_OBJECT ||
          c.rec.Input.Kind == KEL_KIND_LIST_INTF)
        c.rec.Input.Kind = KEL_KIND_BUFFER;
      kel::DoGetLogEx(&c.rec);
      break;
    }
    case kGetOptions: {
      FillRecord(c, in, handles, false);
      // Input is the host's buffer: exactly the size it states, holding a
      // form name or not.  Often the size the module asked for, or just
      // short of it.
      uint32_t needed = 0;
      if (in.ConsumeBool()) {
        TPluginCallRec probe = c.rec;
        probe.Input.Value = 0;
        probe.Input.Size = 0;
        kel::DoGetOptionsDialog(&probe);
        if (probe.Output.Value == 3) needed = probe.Output.Size;
      }
      static const uint32_t kSizes[] = {0, 1, 23, 24, 25, 64, 4096};
      uint32_t size = kSizes[in.ConsumeIntegralInRange<size_t>(0, std::size(kSizes) - 1)];
      if (needed != 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 2)) {
          case 0: size = needed; break;
          case 1: size = needed - 1; break;
          default: size = needed + in.ConsumeIntegralInRange<uint32_t>(0, 64); break;
        }
      }
      std::vector<uint8_t> buf(size, in.ConsumeBool() ? 0 : 0x78);
      static const char* const kNames[] = {"", "TFRMOPTION", "tfrmoption", "FORM_DATA", "FORM_NAME", "TAPLUGIN", "FORM"};
      std::string name;
      switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: name = kNames[in.ConsumeIntegralInRange<size_t>(0, std::size(kNames) - 1)]; break;
        case 1: name = in.ConsumeRandomLengthString(64); break;
        case 2: name.assign(10240, 'N'); break;  // longer than any buffer here: no terminator
        default: break;
      }
      if (!buf.empty()) std::memcpy(buf.data(), name.data(), std::min(name.size(), buf.size()));
      if (name.size() < buf.size() && in.ConsumeBool()) buf[name.size()] = 0;
      c.rec.Input.Kind = in.ConsumeBool() ? KEL_KIND_BUFFER : in.ConsumeIntegral<uint8_t>();
      c.rec.Input.Value = buf.empty() ? 0 : reinterpret_cast<uintptr_t>(buf.data());
      c.rec.Input.Size = size;
      kel::DoGetOptionsDialog(&c.rec);
      break;
    }
    case kShowOptions:
      FillRecord(c, in, handles, false);
      kel::DoShowOptionsDialog(&c.rec);
      break;
    case kCommand:
      FillRecord(c, in, handles, true);
      kel::DoExecutePluginCommand(&c.rec);
      break;
    case kProcess:
      FillRecord(c, in, handles, false);
      kel::DoProcessData(&c.rec);
      break;
    case kWriteIni: {
      // A settings file edited behind the module's back.
      const std::string file = Env().dir + "/s" + std::to_string(in.ConsumeIntegralInRange<int>(0, 3)) + ".ini";
      port::WriteFileAtomic(file, in.ConsumeRandomLengthString(4096));
      break;
    }
  }
  DrainPipe();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Env();
  FuzzedDataProvider in(data, size);
  Handles handles;
  for (size_t i = 0; i < kMaxOps && in.remaining_bytes() > 0; ++i) RunOp(in, handles);

  // The host ends every instance, then the library.
  for (uint32_t h : handles.made) {
    TPluginCallRec rec{};
    rec.Size = KEL_CALLREC_SIZE;
    rec.Instance = h;
    kel::DoFreePluginInstance(&rec);
  }
  TPluginCallRec shutdown{};
  shutdown.Size = KEL_CALLREC_SIZE;
  shutdown.Input.Kind = KEL_KIND_CONTROL;
  shutdown.Input.Value = KEL_SHUTDOWN_CODE;
  kel::DoFreePluginInstance(&shutdown);
  DrainPipe();
  return 0;
}
