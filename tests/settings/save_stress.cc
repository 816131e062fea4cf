// Saves of the two settings stores (an INI file through the INI store, the
// registry emulation's store file) killed at random moments, and two writer
// processes saving into one store at once.
//
//   save_stress kill ini|reg KILLS [SEED]
//     starts a writer that saves again and again, kills it with SIGKILL at
//     a random moment, and checks the store: the last save the writer
//     finished or the one it was in, whole; never empty, torn or a mix of
//     two saves.  KILLS times, on one store.
//   save_stress concurrent ini|reg SAVES
//     two writer processes, each saving its own keys SAVES times into the
//     same store: both writers' last saves are there at the end.
//   save_stress writer ini|reg DIR OWNER SAVES   (the child; 0: for ever)
//     prints the number of each finished save on its own line.
//
// Exit status 0 when every check held; a line per failure otherwise.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/port.h"
#include "platform/registry.h"
#include "runtime/settings/ini_file.h"
#include "runtime/settings/persistence_map.h"
#include "runtime/settings/wreg_stores.h"

namespace {

constexpr int kKeys = 60;

std::string g_self;

std::string ValueOf(const std::string& owner, long save, int key) {
  // Long enough that a store of two owners spans several writes.
  return owner + ":" + std::to_string(save) + ":" + std::to_string(key) + ":" + std::string(80, 'a' + key % 26);
}

std::string IniPath(const std::string& dir) { return dir + "/settings.ini"; }

bool SaveIni(const std::string& dir, const std::string& owner, long save) {
  kel::TIniWregStore store(IniPath(dir), "");
  if (!store.Begin()) return false;
  kel::TMapLine line;
  line.subPath = owner;
  store.Locate(line, kel::TWregOperation::Save);
  for (int k = 0; k < kKeys; ++k) store.WriteText("K" + std::to_string(k), ValueOf(owner, save, k));
  return store.Finish();
}

bool SaveRegistry(const std::string& owner, long save) {
  port::Registry reg(port::kHKEY_CURRENT_USER);
  if (!reg.BeginUpdate()) return false;
  bool ok = reg.OpenKey("\\Software\\SaveStress\\" + owner, true);
  for (int k = 0; ok && k < kKeys; ++k) ok = reg.WriteString("K" + std::to_string(k), ValueOf(owner, save, k));
  return reg.EndUpdate() && ok;
}

int Writer(const std::string& kind, const std::string& dir, const std::string& owner, long saves) {
  setenv("BACNETIP_REGISTRY_DIR", dir.c_str(), 1);
  for (long n = 1; saves == 0 || n <= saves; ++n) {
    const bool ok = kind == "ini" ? SaveIni(dir, owner, n) : SaveRegistry(owner, n);
    if (!ok) {
      std::fprintf(stderr, "save %ld of %s failed\n", n, owner.c_str());
      return 1;
    }
    std::printf("%ld\n", n);
    std::fflush(stdout);
  }
  return 0;
}

// The save number every key of owner carries: -1 when the keys are missing
// (all of them), -2 when some are missing or they disagree.
long SaveInStore(const std::string& kind, const std::string& dir, const std::string& owner, std::string* why) {
  std::vector<std::string> values;
  if (kind == "ini") {
    std::string text;
    if (!port::ReadFile(IniPath(dir), &text)) {
      *why = "no file";
      return -1;
    }
    if (text.empty()) {
      *why = "empty file";
      return -2;
    }
    kel::TIniFile ini(text);
    for (int k = 0; k < kKeys; ++k) {
      std::string v;
      values.push_back(ini.Read(owner, "K" + std::to_string(k), &v) ? v : std::string());
    }
  } else {
    std::string text;
    const std::string file = dir + "/user.reg";
    if (!port::ReadFile(file, &text)) {
      *why = "no store file";
      return -1;
    }
    if (text.rfind("BACNETIP-REGISTRY", 0) != 0) {
      *why = "store file without its header (" + std::to_string(text.size()) + " bytes)";
      return -2;
    }
    setenv("BACNETIP_REGISTRY_DIR", dir.c_str(), 1);
    port::Registry reg(port::kHKEY_CURRENT_USER);
    const bool open = reg.OpenKeyReadOnly("\\Software\\SaveStress\\" + owner);
    for (int k = 0; k < kKeys; ++k) {
      std::string v;
      values.push_back(open && reg.ReadString("K" + std::to_string(k), &v) ? v : std::string());
    }
  }
  long save = -1;
  int present = 0;
  for (int k = 0; k < kKeys; ++k) {
    const std::string& v = values[static_cast<size_t>(k)];
    if (v.empty()) continue;
    ++present;
    const size_t a = v.find(':'), b = v.find(':', a + 1);
    const long n = (a == std::string::npos || b == std::string::npos) ? -3 : std::atol(v.c_str() + a + 1);
    if (v != ValueOf(owner, n, k)) {
      *why = "key K" + std::to_string(k) + " holds a torn value";
      return -2;
    }
    if (save == -1) save = n;
    if (n != save) {
      *why = "keys of saves " + std::to_string(save) + " and " + std::to_string(n) + " mixed";
      return -2;
    }
  }
  if (present == 0) {
    *why = "no keys of " + owner;
    return -1;
  }
  if (present != kKeys) {
    *why = std::to_string(kKeys - present) + " keys of " + owner + " missing";
    return -2;
  }
  return save;
}

struct Child {
  pid_t pid = -1;
  int out = -1;  // the child's standard output
  std::string pending;
  long finished = 0;  // the last save number it printed

  bool Start(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      close(fds[1]);
      std::vector<char*> argv;
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(g_self.c_str(), argv.data());
      _exit(127);
    }
    close(fds[1]);
    out = fds[0];
    return true;
  }
  // Reads what the child printed; blocking waits for a line or its end.
  void Read(bool block) {
    fcntl(out, F_SETFL, block ? 0 : O_NONBLOCK);
    char buf[4096];
    ssize_t n;
    while ((n = read(out, buf, sizeof buf)) > 0) {
      pending.append(buf, static_cast<size_t>(n));
      for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
        finished = std::atol(pending.substr(0, nl).c_str());
        pending.erase(0, nl + 1);
      }
      if (block) fcntl(out, F_SETFL, O_NONBLOCK);
    }
  }
  int Wait() {
    int status = 0;
    waitpid(pid, &status, 0);
    Read(false);
    close(out);
    return status;
  }
};

std::string MakeDir(const std::string& name) {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name + "-XXXXXX";
  return mkdtemp(tmpl.data()) ? tmpl : std::string();
}

void RemoveDir(const std::string& dir) {
  std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
}

int Kill(const std::string& kind, long kills, uint64_t seed) {
  const std::string dir = MakeDir("save-stress-" + kind);
  if (dir.empty()) return 2;
  std::mt19937_64 rng(seed);
  long failures = 0, beforeFirst = 0, killedInside = 0;
  long committed = 0;  // the save whose content the store must hold at least
  std::string why;
  for (long i = 0; i < kills; ++i) {
    Child c;
    if (!c.Start({g_self, "writer", kind, dir, "owner", "0"})) return 2;
    // A random moment: right away, or after the first saves.
    const auto delay = std::chrono::microseconds(rng() % 4000);
    if (rng() % 4 != 0) c.Read(true);  // wait for one save first
    std::this_thread::sleep_for(delay);
    kill(c.pid, SIGKILL);
    const int status = c.Wait();
    if (!WIFSIGNALED(status)) {
      std::printf("kill %ld: the writer ended by itself (status %d)\n", i, status);
      ++failures;
      continue;
    }
    // Each writer starts its numbering at 1 again: what it finished is the
    // newest content; what it was in the middle of may be there too.
    const long found = SaveInStore(kind, dir, "owner", &why);
    if (c.finished == 0) ++beforeFirst;
    const bool old = c.finished == 0 && found == committed;  // killed before its first save ended
    const bool done = c.finished > 0 && found == c.finished;
    const bool next = found == c.finished + 1;                // the save it was in, complete
    if (found == -1 && committed == 0 && c.finished == 0) {
      // Nothing was ever saved: no file is the old content.
    } else if (!(old || done || next)) {
      std::printf("kill %ld: store holds save %ld, writer had finished %ld (before: %ld): %s\n", i, found,
                  c.finished, committed, why.c_str());
      ++failures;
    }
    if (next) ++killedInside;
    if (found > 0) committed = found;
  }
  // The store is still good for a normal save afterwards.
  Child last;
  if (!last.Start({g_self, "writer", kind, dir, "owner", "2"}) || last.Wait() != 0 ||
      SaveInStore(kind, dir, "owner", &why) != 2) {
    std::printf("a save after the kills failed: %s\n", why.c_str());
    ++failures;
  }
  std::printf("%s store: %ld kills, %ld before the first save ended, %ld with the interrupted save complete, "
              "%ld failures\n",
              kind.c_str(), kills, beforeFirst, killedInside, failures);
  RemoveDir(dir);
  return failures == 0 ? 0 : 1;
}

int Concurrent(const std::string& kind, long saves) {
  const std::string dir = MakeDir("save-stress-both-" + kind);
  if (dir.empty()) return 2;
  Child a, b;
  const std::string n = std::to_string(saves);
  if (!a.Start({g_self, "writer", kind, dir, "first", n}) || !b.Start({g_self, "writer", kind, dir, "second", n}))
    return 2;
  const int sa = a.Wait(), sb = b.Wait();
  int failures = 0;
  if (sa != 0 || sb != 0) {
    std::printf("a writer failed (status %d, %d)\n", sa, sb);
    ++failures;
  }
  for (const char* owner : {"first", "second"}) {
    std::string why;
    const long found = SaveInStore(kind, dir, owner, &why);
    if (found != saves) {
      std::printf("%s: save %ld of %s found, %ld expected: %s\n", kind.c_str(), found, owner, saves, why.c_str());
      ++failures;
    }
  }
  std::printf("%s store: two writers, %ld saves each, %d failures\n", kind.c_str(), saves, failures);
  RemoveDir(dir);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  g_self = port::ProgramFileName();
  const std::string mode = argc > 1 ? argv[1] : "";
  const std::string kind = argc > 2 ? argv[2] : "";
  if ((kind == "ini" || kind == "reg") && argc >= 4) {
    if (mode == "kill") return Kill(kind, std::atol(argv[3]), argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1);
    if (mode == "concurrent") return Concurrent(kind, std::atol(argv[3]));
    if (mode == "writer" && argc >= 6) return Writer(kind, argv[3], argv[4], std::atol(argv[5]));
  }
  std::fprintf(stderr,
               "usage: save_stress kill ini|reg KILLS [SEED] | concurrent ini|reg SAVES | "
               "writer ini|reg DIR OWNER SAVES\n");
  return 2;
}
