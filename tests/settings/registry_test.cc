#include "platform/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/port.h"
#include "temp_dir.h"

namespace kel::testing {
namespace {

using port::Registry;
using port::RegType;

class RegistryTest : public ::testing::Test {
 protected:
  TempDir dir_;
  ScopedRegistryDir scoped_{dir_.path()};
};

TEST_F(RegistryTest, ValuesOfEveryTypeRoundTrip) {
  {
    Registry reg(port::kHKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("\\Software\\Acme\\Logger", true));
    EXPECT_TRUE(reg.WriteInteger("Left", 326));
    EXPECT_TRUE(reg.WriteString("Caption", "with spaces and [brackets] %"));
    double d = 2.5;
    EXPECT_TRUE(reg.WriteBinary("Interval", std::string(reinterpret_cast<char*>(&d), 8)));
  }
  Registry reg(port::kHKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey("\\software\\ACME\\logger", false));  // names ignore case
  int32_t i = 0;
  std::string s, b;
  EXPECT_TRUE(reg.ReadInteger("left", &i));
  EXPECT_EQ(i, 326);
  EXPECT_TRUE(reg.ReadString("Caption", &s));
  EXPECT_EQ(s, "with spaces and [brackets] %");
  EXPECT_TRUE(reg.ReadBinary("Interval", &b));
  ASSERT_EQ(b.size(), 8u);
  double d;
  std::memcpy(&d, b.data(), 8);
  EXPECT_EQ(d, 2.5);
  EXPECT_EQ(reg.GetDataType("Left"), RegType::Integer);
  EXPECT_EQ(reg.GetDataType("Caption"), RegType::String);
  EXPECT_EQ(reg.GetDataType("Missing"), RegType::None);
  EXPECT_FALSE(reg.ReadString("Left", &s));  // wrong type is not read
  EXPECT_EQ(reg.GetValueNames().size(), 3u);
}

TEST_F(RegistryTest, KeysAndRecursiveDelete) {
  Registry reg(port::kHKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey("\\Software\\Acme\\A\\Deep", true));
  ASSERT_TRUE(reg.WriteInteger("x", 1));
  ASSERT_TRUE(reg.OpenKey("\\Software\\Acme\\B", true));
  ASSERT_TRUE(reg.OpenKey("\\Software\\Acme", false));
  auto names = reg.GetKeyNames();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_TRUE(reg.KeyExists("A\\Deep"));
  EXPECT_FALSE(reg.OpenKey("\\Software\\Nothing", false));
  EXPECT_TRUE(reg.DeleteKey("A"));
  EXPECT_FALSE(reg.KeyExists("\\Software\\Acme\\A\\Deep"));
  EXPECT_TRUE(reg.KeyExists("\\Software\\Acme\\B"));
}

TEST_F(RegistryTest, DamagedStoreReadsWhatMakesSense) {
  {
    Registry reg(port::kHKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("\\K", true));
    ASSERT_TRUE(reg.WriteInteger("good", 7));
  }
  std::string file = dir_.File("user.reg");
  std::string text;
  ASSERT_TRUE(port::ReadFile(file, &text));
  text += "i broken notanumber\ns bad %Z\nb odd ABC\ngarbage line\n[unterminated\ni late 9";
  ASSERT_TRUE(port::WriteFileAtomic(file, text));
  Registry reg(port::kHKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey("\\K", false));
  int32_t v = 0;
  EXPECT_TRUE(reg.ReadInteger("good", &v));
  EXPECT_EQ(v, 7);
  EXPECT_FALSE(reg.ValueExists("broken"));
  EXPECT_TRUE(reg.ReadInteger("late", &v));  // a cut-off last line still counts
  EXPECT_EQ(v, 9);
  // The next write rewrites the store whole.
  ASSERT_TRUE(reg.WriteInteger("new", 1));
  ASSERT_TRUE(port::ReadFile(file, &text));
  EXPECT_EQ(text.find("garbage"), std::string::npos);

  // A file that is not a store at all reads as empty.
  ASSERT_TRUE(port::WriteFileAtomic(file, std::string("\x00\xFF\x10junk", 7)));
  Registry other(port::kHKEY_CURRENT_USER);
  EXPECT_FALSE(other.OpenKey("\\K", false));
}

TEST_F(RegistryTest, LargeStoreReadsWhole) {
  std::string text = "BACNETIP-REGISTRY 1\n[K]\n";
  for (int i = 0; i < 20000; ++i) text += "i v" + std::to_string(i) + " " + std::to_string(i) + "\n";
  text += "[k]\ni V7 -7\n";  // a repeated key merges, a repeated value replaces
  ASSERT_TRUE(port::WriteFileAtomic(dir_.File("user.reg"), text));
  Registry reg(port::kHKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey("\\K", false));
  EXPECT_EQ(reg.GetValueNames().size(), 20000u);
  int32_t v = 0;
  EXPECT_TRUE(reg.ReadInteger("v19999", &v));
  EXPECT_EQ(v, 19999);
  EXPECT_TRUE(reg.ReadInteger("v7", &v));
  EXPECT_EQ(v, -7);
}

TEST_F(RegistryTest, StoreThatCannotBeReadIsNotReplaced) {
  std::string file = dir_.File("user.reg");
  ASSERT_TRUE(port::WriteFileAtomic(file, "BACNETIP-REGISTRY 1\n[K]\ni v 1\n"));
  std::filesystem::resize_file(file, std::uintmax_t{1} << 30);  // sparse: takes no disk space
  Registry reg(port::kHKEY_CURRENT_USER);
  EXPECT_FALSE(reg.OpenKey("\\Other", true));
  EXPECT_FALSE(reg.BeginUpdate());
  EXPECT_EQ(std::filesystem::file_size(file), std::uintmax_t{1} << 30);
}

TEST_F(RegistryTest, MachineRootFailsWhereItCannotBeWritten) {
  std::string blocker = dir_.File("blocker");
  ASSERT_TRUE(port::WriteFileAtomic(blocker, "x"));
  setenv("BACNETIP_REGISTRY_MACHINE_DIR", (blocker + "/machine").c_str(), 1);
  Registry machine(port::kHKEY_LOCAL_MACHINE);
  EXPECT_FALSE(machine.OpenKey("\\Software\\Acme", true));
  Registry user(port::kHKEY_CURRENT_USER);
  EXPECT_TRUE(user.OpenKey("\\Software\\Acme", true));
}

TEST_F(RegistryTest, TwoProcessesWritingKeepEachOthersValues) {
  const int kWrites = 40;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Registry reg(port::kHKEY_CURRENT_USER);
    bool ok = reg.OpenKey("\\Shared", true);
    for (int i = 0; ok && i < kWrites; ++i) ok = reg.WriteInteger("child" + std::to_string(i), i);
    _exit(ok ? 0 : 1);
  }
  Registry reg(port::kHKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey("\\Shared", true));
  for (int i = 0; i < kWrites; ++i) ASSERT_TRUE(reg.WriteInteger("parent" + std::to_string(i), i));
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  Registry check(port::kHKEY_CURRENT_USER);
  ASSERT_TRUE(check.OpenKey("\\Shared", false));
  EXPECT_EQ(check.GetValueNames().size(), static_cast<size_t>(2 * kWrites));
}

TEST_F(RegistryTest, KilledWriterLeavesAWholeStore) {
  {
    Registry reg(port::kHKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("\\Crash", true));
    ASSERT_TRUE(reg.WriteString("before", std::string(10000, 'a')));
  }
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Registry reg(port::kHKEY_CURRENT_USER);
    reg.OpenKey("\\Crash", true);
    char c = 1;
    if (write(ready[1], &c, 1) != 1) _exit(1);
    for (int i = 0;; ++i) reg.WriteString("v" + std::to_string(i % 50), std::string(20000, 'b'));
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  Registry reg(port::kHKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey("\\Crash", false));
  std::string before;
  EXPECT_TRUE(reg.ReadString("before", &before));
  EXPECT_EQ(before.size(), 10000u);
  for (const auto& name : reg.GetValueNames()) {
    std::string v;
    EXPECT_TRUE(reg.ReadString(name, &v));
    EXPECT_TRUE(v.size() == 10000u || v.size() == 20000u) << name;
  }
}

}  // namespace
}  // namespace kel::testing
