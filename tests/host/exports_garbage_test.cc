// Garbage call records through each of the eight exports of the built
// library, as a careless or hostile host would send them: sizes of every
// kind, pointers to nothing, to unreadable pages, to readable garbage and to
// garbage that looks like an interface; live, freed and made-up handles;
// the host's own lists holding values of every type.  Every call must return
// one of its documented codes, and nothing may be left allocated.  Buffers
// the module may write into are exactly the size the record states and end
// where an unreadable page begins, so that a write past them faults.
//
// BACNETIP_GARBAGE_RECORDS sets the records per export (default 2000; the
// volume script runs 100,000) and BACNETIP_GARBAGE_SEED the first seed.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "host_entry_points.h"
#include "host_params.h"
#include "host_session.h"
#include "platform/port.h"
#include "plugin_library.h"
#include "settings/temp_dir.h"

namespace {

size_t Records() {
  const char* n = std::getenv("BACNETIP_GARBAGE_RECORDS");
  return n && *n ? static_cast<size_t>(std::strtoull(n, nullptr, 10)) : 2000;
}

uint64_t FirstSeed() {
  const char* n = std::getenv("BACNETIP_GARBAGE_SEED");
  return n && *n ? std::strtoull(n, nullptr, 10) : 20261209;
}

// Pages: [unreadable][readable and writable][unreadable].  The middle page
// holds garbage; buffers are carved from its end.
class Arena {
 public:
  Arena() {
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    base_ = static_cast<uint8_t*>(mmap(nullptr, 3 * page_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (base_ != MAP_FAILED) mprotect(base_ + page_, page_, PROT_READ | PROT_WRITE);
  }
  ~Arena() {
    if (base_ != MAP_FAILED) munmap(base_, 3 * page_);
  }
  bool ok() const { return base_ != MAP_FAILED; }
  uint8_t* Unreadable() const { return base_; }
  uint8_t* Page() const { return base_ + page_; }
  uint8_t* End() const { return base_ + 2 * page_; }
  size_t PageSize() const { return page_; }

  // Random bytes over the page; some words point back into it, so that a
  // word read as an interface pointer finds a readable "table" of data.
  void Scramble(std::mt19937_64& rng) {
    for (size_t i = 0; i + 8 <= page_; i += 8) {
      uint64_t w = rng();
      if (w % 4 == 0) w = reinterpret_cast<uintptr_t>(Page() + (rng() % (page_ / 8)) * 8);
      std::memcpy(Page() + i, &w, 8);
    }
  }
  // n bytes ending where the unreadable page begins.
  uint8_t* Tail(size_t n) const { return End() - std::min(n, page_); }

 private:
  size_t page_ = 4096;
  uint8_t* base_ = static_cast<uint8_t*>(MAP_FAILED);
};

const char* const kCommands[] = {"LOAD", "UNLOAD", "SET-ITEMS", "SET-STATE", "ITEMS", "EVENTS-SUPPORT", "EVENT",
                                 "GET-MODULE-PARAMETER", "SET-MODULE-PARAMETER", "SAVE-SETTINGS-NOW",
                                 "LOAD-SETTINGS-NOW", "load", "", "NO SUCH COMMAND"};
const char* const kNames[] = {"RESULT", "EVENT-TYPE", "ITEMS", "DATA-SOURCES-IN-CFG", "DATA-SOURCE-LOAD",
                              "PARAM", "VALUE", "LANGUAGE", "INI-SECTION-PREFIX", "TEMPORARY-LOAD",
                              "OWNER-FORM", "NO-SAVE", "CONFIG-ID", "$NEW_ROW$", "x"};
const char* const kParams[] = {"LogTitle", "Description", "CustomCommands", "ModuleIndex", "ModulePath",
                               "ParserItems", "ParserItemName0", "INIFile", "TerminateNow", "Nope"};

class Generator {
 public:
  Generator(uint64_t seed, Arena& arena, const std::string& dir, int pipeFd)
      : rng_(seed), arena_(arena), dir_(dir), pipeFd_(pipeFd) {}

  uint64_t Next() { return rng_(); }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }
  bool OneIn(uint32_t n) { return Below(n) == 0; }

  host::HostValue AnyValue() {
    host::HostValue v;
    static const uint16_t kTypes[] = {KEL_VT_EMPTY, KEL_VT_NULL, KEL_VT_I2,  KEL_VT_I4,  KEL_VT_R4,
                                      KEL_VT_R8,    KEL_VT_CY,   KEL_VT_DATE, KEL_VT_BSTR, KEL_VT_BOOL,
                                      KEL_VT_I1,    KEL_VT_UI1,  KEL_VT_UI2, KEL_VT_UI4, KEL_VT_I8,
                                      KEL_VT_UI8,   KEL_VT_BSTR, KEL_VT_BSTR};
    v.vt = kTypes[Below(std::size(kTypes))];
    const uint64_t bits = Next();
    v.i = static_cast<int64_t>(bits);
    switch (v.vt) {
      case KEL_VT_I2: v.i = static_cast<int16_t>(bits); break;
      case KEL_VT_I4: v.i = static_cast<int32_t>(bits); break;
      case KEL_VT_I1: v.i = static_cast<int8_t>(bits); break;
      case KEL_VT_UI1: v.i = static_cast<uint8_t>(bits); break;
      case KEL_VT_UI2: v.i = static_cast<uint16_t>(bits); break;
      case KEL_VT_UI4: v.i = static_cast<uint32_t>(bits); break;
      case KEL_VT_BOOL: v.i = OneIn(2) ? -1 : 0; break;
      case KEL_VT_R4:
      case KEL_VT_R8:
      case KEL_VT_DATE: {
        static const double kD[] = {0.0, -1.0, 1e300, -1e300, 2958466.0, -657435.0, 4294967296.5, 1.0 / 0.0};
        if (OneIn(2)) v.d = kD[Below(std::size(kD))];
        else std::memcpy(&v.d, &bits, sizeof v.d);
        break;
      }
      case KEL_VT_BSTR: {
        const size_t n = OneIn(8) ? 3000 : Below(40);
        for (size_t i = 0; i < n; ++i) v.text.push_back(static_cast<char16_t>(OneIn(3) ? Next() : 0x20 + Below(95)));
        if (OneIn(3)) v.text = host::Utf8To16(kCommands[Below(std::size(kCommands))]);
        break;
      }
      default: break;
    }
    return v;
  }

  // A host list with a command (mostly) and named values of every type.
  host::HostParamsList* AnyList(bool command) {
    host::HostParamsList* list = host::HostParamsList::Create();
    if (command && !OneIn(8)) {
      if (OneIn(6)) list->Set("COMMAND", AnyValue());
      else list->SetText("COMMAND", kCommands[Below(std::size(kCommands))]);
    }
    const uint32_t n = Below(10);
    for (uint32_t i = 0; i < n; ++i) {
      const std::string name = kNames[Below(std::size(kNames))];
      if (name == "PARAM" && !OneIn(4)) list->SetText(name, kParams[Below(std::size(kParams))]);
      else list->Set(name, AnyValue());
    }
    // The names that reach the file system or the OS keep harmless values.
    if (OneIn(4)) list->SetText("INI-FILE", dir_ + "/g" + std::to_string(Below(3)) + ".ini");
    if (OneIn(4)) list->SetText("REGISTRY-PATH", OneIn(2) ? "Software\\Garbage" : "..\\..\\x");
    if (OneIn(4)) list->SetInt("MSG-PROC-HANDLE", OneIn(2) ? pipeFd_ : -1);
    if (OneIn(4)) list->SetText("APPLICATION-NAME", "no-such-host.so");
    lists_.push_back(list);
    return list;
  }

  // A pointer of any of the kinds a broken host hands over.
  void* AnyPointer(bool command) {
    switch (Below(11)) {
      case 0: return nullptr;
      case 1: return reinterpret_cast<void*>(static_cast<uintptr_t>(1 + Below(0xFFFF)));  // low, unmapped
      case 2: return arena_.Unreadable() + Below(static_cast<uint32_t>(arena_.PageSize()));
      case 3: return arena_.Tail(1 + Below(16));  // readable words run into the unreadable page
      case 4:
      case 5: return arena_.Page() + 8 * Below(static_cast<uint32_t>(arena_.PageSize() / 8 - 8));  // garbage
      case 6: return reinterpret_cast<void*>(static_cast<uintptr_t>(Next()));  // anywhere
      case 7: {  // a variable holding nothing
        vars_.push_back(nullptr);
        return &vars_.back();
      }
      default: {  // a variable holding a host list
        vars_.push_back(AnyList(command)->Intf());
        return &vars_.back();
      }
    }
  }

  // A descriptor: list kinds point at anything above, buffer kinds at an
  // exact buffer or at nothing readable, other kinds carry a number.
  void FillValue(TPluginValue& v) {
    v.Counter = static_cast<uint32_t>(Next());
    static const uint8_t kKinds[] = {0, KEL_KIND_OBJECT, KEL_KIND_COPIED, KEL_KIND_BUFFER, KEL_KIND_STATUS,
                                     KEL_KIND_CONTROL, KEL_KIND_RAW_LIST, KEL_KIND_LIST_INTF, 3, 7, 200, 255};
    v.Kind = kKinds[Below(std::size(kKinds))];
    switch (v.Kind) {
      case KEL_KIND_OBJECT:
      case KEL_KIND_RAW_LIST:
      case KEL_KIND_LIST_INTF:
        v.Value = reinterpret_cast<uintptr_t>(AnyPointer(false));
        v.Size = static_cast<uint32_t>(Next());
        break;
      case KEL_KIND_BUFFER:
      case KEL_KIND_COPIED:
        if (OneIn(3)) {
          v.Value = OneIn(2) ? 0 : reinterpret_cast<uintptr_t>(arena_.Unreadable());
          v.Size = OneIn(2) ? 0 : static_cast<uint32_t>(Next());
        } else {
          v.Size = Below(static_cast<uint32_t>(arena_.PageSize()));
          v.Value = reinterpret_cast<uintptr_t>(arena_.Tail(v.Size));
        }
        break;
      default:
        v.Value = OneIn(3) ? KEL_SHUTDOWN_CODE : Below(0x10000);
        v.Size = static_cast<uint32_t>(Next());
        break;
    }
  }

  // Input as the host's buffer that GetLogEx and GetOptionsDialog write
  // into, whatever its kind says: exact, or nothing that can be read.
  void WriteTarget(TPluginValue& v) {
    if (OneIn(4)) {
      v.Value = OneIn(2) ? 0 : reinterpret_cast<uintptr_t>(arena_.Unreadable());
      v.Size = OneIn(2) ? 0 : static_cast<uint32_t>(Next());
    } else {
      v.Size = OneIn(3) ? 24 + Below(40) : Below(static_cast<uint32_t>(arena_.PageSize()));
      v.Value = reinterpret_cast<uintptr_t>(arena_.Tail(v.Size));
      if (OneIn(2)) std::memcpy(arena_.Tail(v.Size), "TFRMOPTION", std::min<size_t>(v.Size, 11));
    }
  }

  TPluginCallRec Record(const std::vector<uint32_t>& live, const std::vector<uint32_t>& freed, bool command) {
    arena_.Scramble(rng_);
    TPluginCallRec r{};
    switch (Below(10)) {
      case 0: r.Size = static_cast<uint32_t>(Next()); break;
      case 1: r.Size = KEL_CALLREC_SIZE + (OneIn(2) ? 1 : -1); break;
      case 2: r.Size = 0; break;
      default: r.Size = KEL_CALLREC_SIZE; break;
    }
    r.Flags = static_cast<uint8_t>(Next());
    switch (Below(6)) {
      case 0: r.Instance = 0; break;
      case 1: r.Instance = static_cast<uint32_t>(Next()); break;
      case 2: r.Instance = freed.empty() ? 0xFFFFFFFFu : freed[Below(static_cast<uint32_t>(freed.size()))]; break;
      default: r.Instance = live.empty() ? 1u : live[Below(static_cast<uint32_t>(live.size()))]; break;
    }
    r.ModuleIndex = static_cast<int32_t>(Next());
    r.DataSourceId = static_cast<int32_t>(Next());
    r.PeerId = static_cast<int32_t>(Next());
    r.CallTypes = static_cast<uint8_t>(Next());
    r.Params = AnyPointer(command);
    FillValue(r.Input);
    FillValue(r.Output);
    for (char& c : r.PeerAddress) c = static_cast<char>(OneIn(4) ? Next() : '0' + Below(10));
    return r;
  }

  // Releases the host's own references once the call is over.
  void EndCall() {
    for (host::HostParamsList* l : lists_) l->Release();
    lists_.clear();
    vars_.clear();
  }

 private:
  std::mt19937_64 rng_;
  Arena& arena_;
  std::string dir_;
  int pipeFd_;
  std::vector<host::HostParamsList*> lists_;
  std::deque<IkelParamsListA*> vars_;  // stable addresses
};

// What each export may return.
const std::map<std::string, std::set<int64_t>> kDocumented = {
    {"CreatePluginInstance", {0, -1}},
    {"FreePluginInstance", {0, -1, -3}},
    {"GetModuleInfo", {0, 1}},
    {"ExecutePluginCommand", {0, -1, -2, -3, -4}},
    {"ProcessData", {0, -1, -3}},
};

class ExportsGarbage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(arena.ok());
    std::string error;
    ASSERT_TRUE(lib.Load(BACNETIP_PLUGIN_PATH, &error)) << error;
    ASSERT_EQ(pipe(fds), 0);
    host::SetSendDataSink([](int32_t, int32_t, int32_t, void*, int32_t) { return 0; });
  }
  void TearDown() override {
    host::SetSendDataSink(nullptr);
    lib.Unload();
    close(fds[0]);
    close(fds[1]);
  }
  void Drain() {
    char buf[4096];
    while (true) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 0) != 1 || read(fds[0], buf, sizeof buf) <= 0) break;
    }
  }
  // A buffer the module handed back in Input belongs to the host now.
  static void TakeBack(const TPluginCallRec& before, const TPluginCallRec& after) {
    if (after.Input.Kind == KEL_KIND_BUFFER && after.Input.Value != 0 && after.Input.Value != before.Input.Value)
      std::free(reinterpret_cast<void*>(after.Input.Value));
  }

  Arena arena;
  host::PluginLibrary lib;
  kel::testing::TempDir dir;
  int fds[2] = {-1, -1};
};

TEST_F(ExportsGarbage, EveryExportTakesGarbageAndAnswersWithItsDocumentedCodes) {
  const auto& x = lib.Exports();
  const size_t records = Records();
  Generator g(FirstSeed(), arena, dir.path(), fds[1]);
  std::vector<uint32_t> live, freed;
  std::map<std::string, std::map<int64_t, size_t>> seen;
  auto note = [&](const char* name, int64_t code) { ++seen[name][code]; };

  // A live instance or two to aim at.
  for (int i = 0; i < 2; ++i) {
    host::HostParamsList* l = host::HostParamsList::Create();
    IkelParamsListA* var = l->Intf();
    TPluginCallRec rec = host::NewCallRec();
    rec.Params = &var;
    ASSERT_EQ(x.CreatePluginInstance(&rec), 0);
    const uint32_t handle = rec.Instance;  // packed: copied, not bound
    live.push_back(handle);
    l->Release();
  }

  for (size_t n = 0; n < records; ++n) {
    // CreatePluginInstance: a record with Instance 0 mostly makes one.
    {
      TPluginCallRec rec = g.Record(live, freed, false);
      if (!g.OneIn(4)) rec.Instance = 0;
      const TPluginCallRec before = rec;
      const int32_t code = x.CreatePluginInstance(&rec);
      note("CreatePluginInstance", code);
      if (code == 0) {
        const uint32_t handle = rec.Instance;
        EXPECT_NE(handle, 0u);
        live.push_back(handle);
      }
      TakeBack(before, rec);
      g.EndCall();
    }
    // FreePluginInstance: now and then a live one, so that freed handles
    // come back later; never the shutdown code (that ends the library).
    {
      TPluginCallRec rec = g.Record(live, freed, false);
      if (rec.Input.Kind == KEL_KIND_CONTROL && rec.Input.Value == KEL_SHUTDOWN_CODE) rec.Input.Value = 0;
      // A host keeps a handful of instances: beyond 16 every free is aimed.
      const bool aimed = live.size() > 16 || (live.size() > 2 && g.OneIn(2));
      if (aimed) rec.Instance = live.back();
      const int32_t code = x.FreePluginInstance(&rec);
      note("FreePluginInstance", code);
      const uint32_t handle = rec.Instance;
      if (code == 0) {
        for (size_t i = 0; i < live.size(); ++i)
          if (live[i] == handle) {
            freed.push_back(live[i]);
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
            break;
          }
      }
      g.EndCall();
    }
    // GetModuleInfo: no buffer, or one of exactly the stated size.
    {
      TPluginCallRec rec = g.Record(live, freed, false);
      TPluginModuleInfo* info = nullptr;
      uint32_t needed = 0;
      if (!g.OneIn(4)) {
        const uint32_t size = g.OneIn(2) ? g.Below(600) : KEL_MODULEINFO_HEADER;
        if (size >= 4) {
          info = reinterpret_cast<TPluginModuleInfo*>(arena.Tail(size));
          info->Size = size;
        }
      }
      const uint8_t ok = x.GetModuleInfo(&rec, info, g.OneIn(4) ? nullptr : &needed);
      note("GetModuleInfo", ok);
      g.EndCall();
    }
    // GetLogEx: the log is drained into Input, a buffer of the stated size.
    {
      TPluginCallRec rec = g.Record(live, freed, false);
      g.WriteTarget(rec.Input);
      const TPluginCallRec before = rec;
      const int32_t code = x.GetLogEx(&rec);
      EXPECT_GE(code, 0);
      note("GetLogEx", code > 0 ? 1 : code);
      TakeBack(before, rec);
      g.EndCall();
    }
    // GetOptionsDialog and ShowOptionsDialog.
    {
      TPluginCallRec rec = g.Record(live, freed, false);
      g.WriteTarget(rec.Input);
      const TPluginCallRec before = rec;
      x.GetOptionsDialog(&rec);
      note("GetOptionsDialog", 0);
      TakeBack(before, rec);
      g.EndCall();
      rec = g.Record(live, freed, false);
      x.ShowOptionsDialog(&rec);
      note("ShowOptionsDialog", 0);
      g.EndCall();
      Drain();
    }
    // ExecutePluginCommand and ProcessData.
    {
      TPluginCallRec rec = g.Record(live, freed, true);
      TPluginCallRec before = rec;
      note("ExecutePluginCommand", x.ExecutePluginCommand(&rec));
      TakeBack(before, rec);
      g.EndCall();
      rec = g.Record(live, freed, false);
      before = rec;
      note("ProcessData", x.ProcessData(&rec));
      TakeBack(before, rec);
      g.EndCall();
      Drain();
    }
  }

  // The host's end: every instance, then the library.
  for (uint32_t h : live) {
    TPluginCallRec rec = host::NewCallRec();
    rec.Instance = h;
    EXPECT_EQ(x.FreePluginInstance(&rec), 0);
  }
  Drain();

  size_t calls = 0;
  std::string table;
  for (const auto& [name, codes] : seen) {
    table += name + ":";
    for (const auto& [code, count] : codes) {
      calls += count;
      table += " " + std::to_string(code) + "x" + std::to_string(count);
      auto doc = kDocumented.find(name);
      if (doc != kDocumented.end()) {
        EXPECT_TRUE(doc->second.count(code)) << name << " returned " << code;
      }
    }
    table += "\n";
  }
  std::printf("garbage records: %zu per export, %zu calls, seed %llu\n%s", records, calls,
              static_cast<unsigned long long>(FirstSeed()), table.c_str());
}

}  // namespace
