// Windows-side checks, run in process (under Wine in CI): the timer core's
// window timers on a message-only window, the plug-in's settings in the
// real registry and in INI files read back by a second instance, and the
// library freed while its window timers run and loaded again.  Every check
// prints "ok NAME" or "FAIL NAME" with the conditions that failed; the exit
// status is 1 when any failed.  Waits are bounded and end on events.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "config_files.h"
#include "host_entry_points.h"
#include "host_session.h"
#include "ini_settings.h"
#include "platform/port.h"
#include "plugin_library.h"
#include "request_config.h"

namespace {

bool g_ok = true;  // of the check that runs

#define EXPECT(cond)                                                  \
  do {                                                                \
    if (!(cond)) {                                                    \
      std::printf("  line %d: %s\n", __LINE__, #cond);                \
      g_ok = false;                                                   \
    }                                                                 \
  } while (0)

using Check = void (*)();

ULONGLONG Now() { return GetTickCount64(); }

// Dispatches this thread's messages until done() holds or boundMs passed.
bool PumpUntil(const std::function<bool()>& done, DWORD boundMs) {
  const ULONGLONG end = Now() + boundMs;
  for (;;) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
    if (done()) return true;
    const ULONGLONG now = Now();
    if (now >= end) return false;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

// Dispatches for a fixed span: for checks that something does NOT happen.
void PumpFor(DWORD ms) { PumpUntil([] { return false; }, ms); }

bool TimerClassRegistered(HINSTANCE module) {
  WNDCLASSA wc;
  return GetClassInfoA(module, "bacnetipTimerWindow", &wc) != 0;
}

struct TickCount {
  std::atomic<int> ticks{0};
  static void Tick(void* self) { ++static_cast<TickCount*>(self)->ticks; }
};

// ---- The timer core ------------------------------------------------------

void TicksArriveThroughTheOwnersMessageLoop() {
  TickCount c;
  port::TimerCore* t = port::CreateTimerCore(TickCount::Tick, &c);
  EXPECT(t != nullptr);
  if (!t) return;
  EXPECT(TimerClassRegistered(GetModuleHandleA(nullptr)));
  EXPECT(port::SetTimerCore(t, true, 50));
  const ULONGLONG start = Now();
  EXPECT(PumpUntil([&] { return c.ticks >= 4; }, 3000));
  // Four ticks of 50 ms take at least 150 ms.
  EXPECT(Now() - start >= 150);
  port::DestroyTimerCore(t);
  EXPECT(!TimerClassRegistered(GetModuleHandleA(nullptr)));
}

void TheStateAskedForLastWins() {
  TickCount c;
  port::TimerCore* t = port::CreateTimerCore(TickCount::Tick, &c);
  EXPECT(t != nullptr);
  if (!t) return;
  // A start posted from another thread, then a stop here: the stop stands
  // when the posted message arrives.
  std::thread([t] { port::SetTimerCore(t, true, 20); }).join();
  port::SetTimerCore(t, false, 20);
  PumpFor(200);
  EXPECT(c.ticks == 0);
  // And the other way round: a posted stop does not end a later start.
  std::thread([t] { port::SetTimerCore(t, false, 20); }).join();
  port::SetTimerCore(t, true, 20);
  EXPECT(PumpUntil([&] { return c.ticks >= 3; }, 2000));
  port::DestroyTimerCore(t);
}

void DestroyedFromAnotherThreadWhileTheOwnerPumps() {
  TickCount c;
  port::TimerCore* t = port::CreateTimerCore(TickCount::Tick, &c);
  EXPECT(t != nullptr);
  if (!t) return;
  port::SetTimerCore(t, true, 20);
  EXPECT(PumpUntil([&] { return c.ticks >= 2; }, 2000));
  std::atomic<bool> done{false};
  const ULONGLONG start = Now();
  const DWORD owner = GetCurrentThreadId();
  std::thread other([&] {
    port::DestroyTimerCore(t);
    done = true;
    PostThreadMessageA(owner, WM_NULL, 0, 0);  // wakes the pump
  });
  EXPECT(PumpUntil([&] { return done.load(); }, 12000));
  other.join();
  EXPECT(Now() - start < 2000);
  const int after = c.ticks;
  PumpFor(100);
  EXPECT(c.ticks == after);
  EXPECT(!TimerClassRegistered(GetModuleHandleA(nullptr)));
}

// The owner is busy (not pumping) while another thread frees its timer: the
// call gives up waiting, and the owner, pumping again, handles the late
// messages: its window goes, and the timer never ticks again.
void DestroyedWhileTheOwnerDoesNotPump() {
  port::SetTimerFreeWaitForTests(100);
  TickCount c;
  port::TimerCore* t = nullptr;
  HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE resume = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> ticksAtFree{-1};
  std::atomic<bool> classGone{false};
  std::thread owner([&] {
    t = port::CreateTimerCore(TickCount::Tick, &c);
    if (t) port::SetTimerCore(t, true, 20);
    PumpUntil([&] { return !t || c.ticks >= 2; }, 2000);
    SetEvent(started);
    WaitForSingleObject(resume, 5000);  // busy: no messages handled
    ticksAtFree = c.ticks.load();
    PumpFor(200);
    classGone = !TimerClassRegistered(GetModuleHandleA(nullptr));
  });
  WaitForSingleObject(started, 5000);
  EXPECT(t != nullptr);
  EXPECT(c.ticks >= 2);
  const ULONGLONG start = Now();
  if (t) port::DestroyTimerCore(t);
  EXPECT(Now() - start < 2000);
  SetEvent(resume);
  owner.join();
  EXPECT(c.ticks == ticksAtFree);
  EXPECT(classGone.load());
  CloseHandle(started);
  CloseHandle(resume);
  port::SetTimerFreeWaitForTests(0);
}

struct SelfDestroying {
  port::TimerCore* timer = nullptr;
  int ticks = 0;
  static void Tick(void* p) {
    auto* self = static_cast<SelfDestroying*>(p);
    ++self->ticks;
    port::DestroyTimerCore(self->timer);
  }
};

void DestroyedFromItsOwnTick() {
  SelfDestroying s;
  s.timer = port::CreateTimerCore(SelfDestroying::Tick, &s);
  EXPECT(s.timer != nullptr);
  if (!s.timer) return;
  port::SetTimerCore(s.timer, true, 20);
  EXPECT(PumpUntil([&] { return s.ticks >= 1; }, 2000));
  PumpFor(100);
  EXPECT(s.ticks == 1);
  EXPECT(!TimerClassRegistered(GetModuleHandleA(nullptr)));
}

struct Pumping {
  int depth = 0, deepest = 0, ticks = 0;
  static void Tick(void* p) {
    auto* self = static_cast<Pumping*>(p);
    ++self->ticks;
    self->deepest = std::max(self->deepest, ++self->depth);
    // The handler pumps, as the module's waits for the host do, long
    // enough for its own timer to come due again meanwhile.
    for (int turn = 0; turn < 8; ++turn) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 15, QS_ALLINPUT);
      while (port::ProcessOneMessage()) {
      }
    }
    --self->depth;
  }
};

void ATickThatPumpsIsNotEnteredAgain() {
  Pumping p;
  port::TimerCore* t = port::CreateTimerCore(Pumping::Tick, &p);
  EXPECT(t != nullptr);
  if (!t) return;
  port::SetTimerCore(t, true, 10);
  EXPECT(PumpUntil([&] { return p.ticks >= 3; }, 3000));
  port::DestroyTimerCore(t);
  EXPECT(p.deepest == 1);
}

// ---- The plug-in -----------------------------------------------------------

std::string g_plugin;  // bacnetip.dll beside this program
std::string g_temp;    // a folder of this run

std::atomic<int> g_sends{0};

int32_t CountSends(int32_t, int32_t, int32_t kind, void*, int32_t count) {
  if (kind == KEL_DATA_KIND_SEND && count > 0) ++g_sends;
  return 0;
}

std::string PollingXml() {
  host::PollSpec p;
  p.caption = "Checked";
  p.address = "127.0.0.1";
  p.port = 47999;  // nobody answers: the module resends and gives up
  p.instances = "77";
  std::string reason;
  host::ParseItemList("AI:1", &p.items, &reason);
  host::ParseInterval("50ms", &p.interval, &reason);
  p.timeoutMs = 40;
  return host::BuildRequestXml({p});
}

std::string IniValue(const std::string& path, const std::string& key) {
  std::string text;
  if (!port::ReadFile(path, &text)) return "?";
  const std::string at = "\n" + key + "=";
  size_t from = ("\n" + text).find(at);
  if (from == std::string::npos) return "?";
  from += at.size() - 1;
  const size_t end = text.find_first_of("\r\n", from);
  return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

host::CommandResult Load(host::HostSession& s, const std::string& registryPath, const std::string& ini) {
  std::vector<std::pair<std::string, host::HostValue>> params = {
      {"APPLICATION-NAME", host::Text("win_checks")},
      {"HANDLE", host::Int64(reinterpret_cast<int64_t>(GetModuleHandleA(nullptr)))},
      {"REGISTRY-PATH", host::Text(registryPath)}};
  if (!ini.empty()) params.push_back({"INI-FILE", host::Text(ini)});
  return s.Command("LOAD", params, 1);
}

std::string RegistryText(HKEY root, const std::string& path, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "?";
  std::vector<char> buf(1 << 20);
  DWORD size = static_cast<DWORD>(buf.size()), type = 0;
  const LONG r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_SZ) return "?";
  return std::string(buf.data(), size && buf[size - 1] == 0 ? size - 1 : size);
}

void SettingsGoToTheRegistryAndToIniFilesAndComeBack() {
  const std::string xml = PollingXml();
  const std::string registryPath = "Software\\bacnetip-checks\\Settings " + std::to_string(GetCurrentProcessId());
  const std::string ini = g_temp + "\\first.ini", fromRegistry = g_temp + "\\from-registry.ini",
                    again = g_temp + "\\again.ini";
  std::string error;
  EXPECT(host::StoreModuleSettings(ini, xml, true, &error));
  host::PluginLibrary lib;
  EXPECT(lib.Load(g_plugin, &error));
  if (!lib.Loaded()) return;
  {
    // The first instance reads the host's INI file and, unloaded without
    // one, saves to the registry.
    host::HostSession first(lib.Exports());
    EXPECT(first.Create() == 0);
    EXPECT(Load(first, registryPath, ini).code == 0);
    EXPECT(first.Command("UNLOAD", {{"INI-FILE", host::Text("")}}).code == 0);
  }
  const char* root = "HKEY_CURRENT_USER";
  std::string stored = RegistryText(HKEY_CURRENT_USER, registryPath, host::kParserConfigKey);
  if (stored == "?") {
    root = "HKEY_LOCAL_MACHINE";
    stored = RegistryText(HKEY_LOCAL_MACHINE, registryPath, host::kParserConfigKey);
  }
  EXPECT(stored == host::PercentEncode(xml));
  std::printf("  stored under %s\\%s\n", root, registryPath.c_str());
  // A second instance, on another thread, loads from the registry (no INI
  // file given) and saves to a new INI file when unloaded with it; a third
  // reads that file back.
  std::thread([&] {
    host::HostSession second(lib.Exports());
    EXPECT(second.Create() == 0);
    EXPECT(Load(second, registryPath, "").code == 0);
    EXPECT(second.Command("UNLOAD", {{"INI-FILE", host::Text(fromRegistry)}}).code == 0);
  }).join();
  EXPECT(IniValue(fromRegistry, host::kParserConfigKey) == host::PercentEncode(xml));
  EXPECT(IniValue(fromRegistry, host::kReadDevPropsKey) == "True");
  {
    host::HostSession third(lib.Exports());
    EXPECT(third.Create() == 0);
    EXPECT(Load(third, registryPath, fromRegistry).code == 0);
    EXPECT(third.Command("UNLOAD", {{"INI-FILE", host::Text(again)}}).code == 0);
  }
  EXPECT(IniValue(again, host::kParserConfigKey) == host::PercentEncode(xml));
  lib.Unload();
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\bacnetip-checks");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\bacnetip-checks");
  for (const std::string& f : {ini, fromRegistry, again}) port::RemoveFile(f);
}

// One instance polling on this thread's window timers: loaded, given its
// data source, and sending.
bool StartPolling(host::HostSession& s, const std::string& ini) {
  if (s.Create() != 0 || Load(s, "Software\\bacnetip-checks\\Polling", ini).code != 0) return false;
  g_sends = 0;
  const auto state = s.Command("SET-STATE",
                               {{"DATA-SOURCES-IN-CFG", host::Text("1;UDP1;BACnet/IP 127.0.0.1:0\r\n")},
                                {"RESULT", host::Int(1)}},
                               1, 3);
  return state.code == 0 && PumpUntil([] { return g_sends >= 2; }, 5000);
}

void FreedWhileItsTimersRunThenUnloadedAndLoadedAgain() {
  const std::string ini = g_temp + "\\polling.ini";
  std::string error;
  EXPECT(host::StoreModuleSettings(ini, PollingXml(), false, &error));
  host::SetSendDataSink(CountSends);
  HMODULE dll = nullptr;
  {
    host::PluginLibrary lib;
    EXPECT(lib.Load(g_plugin, &error));
    if (!lib.Loaded()) return;
    dll = GetModuleHandleA("bacnetip.dll");
    host::HostSession s(lib.Exports());
    EXPECT(StartPolling(s, ini));
    EXPECT(TimerClassRegistered(dll));
    // Freed from another thread while this one, the timers' owner, pumps:
    // no 5000 ms wait ends it.
    std::atomic<bool> freed{false};
    const ULONGLONG start = Now();
    const DWORD owner = GetCurrentThreadId();
    std::thread other([&] {
      s.Free();
      freed = true;
      PostThreadMessageA(owner, WM_NULL, 0, 0);  // wakes the pump
    });
    EXPECT(PumpUntil([&] { return freed.load(); }, 15000));
    other.join();
    EXPECT(Now() - start < 2000);
    const int sent = g_sends;
    PumpFor(150);
    EXPECT(g_sends == sent);
    EXPECT(!TimerClassRegistered(dll));
    const ULONGLONG unloading = Now();
    lib.Unload();
    EXPECT(Now() - unloading < 2000);
  }
  EXPECT(GetModuleHandleA("bacnetip.dll") == nullptr);
  {
    // Loaded again (perhaps elsewhere in memory), its timers run; freed on
    // their own thread this time.
    host::PluginLibrary lib;
    EXPECT(lib.Load(g_plugin, &error));
    if (!lib.Loaded()) return;
    host::HostSession s(lib.Exports());
    EXPECT(StartPolling(s, ini));
    const ULONGLONG start = Now();
    EXPECT(s.Free() == 0);
    lib.Unload();
    EXPECT(Now() - start < 2000);
  }
  host::SetSendDataSink(nullptr);
  port::RemoveFile(ini);
}

struct Named {
  const char* name;
  Check check;
};

const Named kChecks[] = {
    {"TicksArriveThroughTheOwnersMessageLoop", TicksArriveThroughTheOwnersMessageLoop},
    {"TheStateAskedForLastWins", TheStateAskedForLastWins},
    {"DestroyedFromAnotherThreadWhileTheOwnerPumps", DestroyedFromAnotherThreadWhileTheOwnerPumps},
    {"DestroyedWhileTheOwnerDoesNotPump", DestroyedWhileTheOwnerDoesNotPump},
    {"DestroyedFromItsOwnTick", DestroyedFromItsOwnTick},
    {"ATickThatPumpsIsNotEnteredAgain", ATickThatPumpsIsNotEnteredAgain},
    {"SettingsGoToTheRegistryAndToIniFilesAndComeBack", SettingsGoToTheRegistryAndToIniFilesAndComeBack},
    {"FreedWhileItsTimersRunThenUnloadedAndLoadedAgain", FreedWhileItsTimersRunThenUnloadedAndLoadedAgain},
};

}  // namespace

int main(int argc, char** argv) {
  host::LinkEntryPoints();
  const std::string self = port::ModuleFileName();
  g_plugin = self.substr(0, self.find_last_of('\\') + 1) + "bacnetip.dll";
  g_temp = port::TempDirectory() + "bacnetip-checks-" + std::to_string(GetCurrentProcessId());
  port::CreateDirectories(g_temp);
  int failed = 0;
  for (const Named& c : kChecks) {
    if (argc > 1 && std::string(argv[1]) != c.name) continue;
    g_ok = true;
    std::printf("-- %s\n", c.name);
    std::fflush(stdout);
    const ULONGLONG start = Now();
    c.check();
    std::printf("%s %s (%llu ms)\n", g_ok ? "ok" : "FAIL", c.name, Now() - start);
    std::fflush(stdout);
    failed += g_ok ? 0 : 1;
  }
  RemoveDirectoryA(g_temp.c_str());
  std::printf("%d of %zu checks failed\n", failed, sizeof kChecks / sizeof kChecks[0]);
  return failed ? 1 : 0;
}
