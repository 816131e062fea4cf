// The module log: line format, repeat folding, the limit, GetLogEx and the
// notifications to the host.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include "framework/log_data_list.h"
#include "framework_fixture.h"

namespace kel::testing {
namespace {

class Log : public FrameworkTest {
 protected:
  std::shared_ptr<TkelPlugin> NewPlugin(const std::string& title) {
    UseClass([title](TestPlugin& p) { p.LogTitle = title; });
    EXPECT_EQ(session.Create(), 0);
    return ResolveHandle(session.Handle());
  }
  // GetLogEx with a buffer of the given capacity; returns the copied text.
  int32_t GetLog(uint32_t capacity, std::string* text, uint32_t* needed) {
    std::vector<char> buf(capacity + 1, '#');
    TPluginCallRec rec = Rec();
    rec.Instance = session.Handle();
    rec.Input.Size = capacity;
    rec.Input.Value = reinterpret_cast<uintptr_t>(buf.data());
    int32_t n = DoGetLogEx(&rec);
    *needed = static_cast<uint32_t>(rec.Output.Value);
    EXPECT_EQ(+rec.Output.Kind, KEL_KIND_STATUS);
    EXPECT_EQ(buf[capacity], '#');  // nothing written past the capacity
    if (text) text->assign(buf.data(), n > 0 ? static_cast<size_t>(n) : 0);
    return n;
  }
  host::HostSession session{CoreExports()};
};

TEST_F(Log, LineFormat) {
  auto p = NewPlugin("T");
  p->AddLog(1, "a\r\nb", false);
  p->AddLog(0, "err", true);
  p->LogTitle.clear();
  p->AddLog(2, "plain");
  EXPECT_EQ(session.DrainLog(), "\x02T. a  b\r\n\x81T. err\r\n\x03plain\r\n");
}

TEST_F(Log, RepeatsFoldAndGetTheSuffixOnce) {
  auto p = NewPlugin("");
  for (int i = 0; i < 3; ++i) p->AddLog(1, "same");
  p->AddLog(1, "other");
  EXPECT_EQ(session.DrainLog(), "\x02same x3\r\n\x02other\r\n");
  for (int i = 0; i < 3; ++i) p->AddLog(1, "same");
  // A buffer too small writes the suffix but keeps the line; reading again
  // and adding a different line never doubles it.
  uint32_t needed = 0;
  EXPECT_EQ(GetLog(4, nullptr, &needed), 0);
  EXPECT_EQ(needed, std::string("\x02same x3\r\n").size());
  p->AddLog(1, "next");
  EXPECT_EQ(session.DrainLog(), "\x02same x3\r\n\x02next\r\n");
}

TEST_F(Log, GetLogExNegotiation) {
  auto p = NewPlugin("");
  p->AddLog(2, "one");
  p->AddLog(2, "two");
  const std::string all = "\x03one\r\n\x03two\r\n";
  uint32_t needed = 0;
  std::string text;
  EXPECT_EQ(GetLog(static_cast<uint32_t>(all.size() - 1), &text, &needed), 0);
  EXPECT_EQ(needed, all.size());
  EXPECT_EQ(GetLog(static_cast<uint32_t>(all.size()), &text, &needed), static_cast<int32_t>(all.size()));
  EXPECT_EQ(text, all);
  EXPECT_EQ(GetLog(100, &text, &needed), 0);
  EXPECT_EQ(needed, 0u);
  // Capacity 0 discards the lines.
  p->AddLog(2, "gone");
  EXPECT_EQ(GetLog(0, nullptr, &needed), 0);
  EXPECT_EQ(needed, 7u);
  EXPECT_EQ(p->Log->Count(), 0);
  // A null buffer with a capacity keeps them.
  p->AddLog(2, "kept");
  TPluginCallRec rec = Rec();
  rec.Instance = session.Handle();
  rec.Input.Size = 1000;
  EXPECT_EQ(DoGetLogEx(&rec), 0);
  EXPECT_EQ(p->Log->Count(), 1);
  // Unknown instance: 0, status kind, zero value.
  rec.Instance = 0xFFFFFF;
  rec.Output.Value = 77;
  EXPECT_EQ(DoGetLogEx(&rec), 0);
  EXPECT_EQ(+rec.Output.Value, 0u);
}

TEST(LogDataList, LimitDropsTheOldestLine) {
  TLogDataList log(51200);
  for (int i = 0; i <= 51200; ++i) log.AddLine("line " + std::to_string(i));
  EXPECT_EQ(log.Count(), 51200);
  const auto& lines = log.LockRead();
  EXPECT_EQ(lines.front().text, "line 1");
  EXPECT_EQ(lines.back().text, "line 51200");
  log.UnlockRead();
}

// Reads one 12-byte message, waiting at most 5 s.
bool ReadMessage(int fd, uint32_t msg[3]) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 5000) != 1) return false;
  return read(fd, msg, 12) == 12;
}

bool PipeEmpty(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 0;
}

TEST_F(Log, NotifiesTheHostThroughItsPipe) {
  auto p = NewPlugin("");
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  p->AddLog(1, "before the host window is known");
  ASSERT_EQ(session.Command("LOAD", {{"MSG-PROC-HANDLE", host::Int(fds[1])}}, 42).code, 0);
  uint32_t msg[3];
  ASSERT_TRUE(ReadMessage(fds[0], msg));  // LOAD: lines already wait
  EXPECT_EQ(msg[0], KEL_MSG_LOG_CHANGED);
  EXPECT_EQ(msg[1], 42u);
  EXPECT_EQ(msg[2], 0u);
  EXPECT_TRUE(PipeEmpty(fds[0]));
  p->AddLog(1, "new");
  ASSERT_TRUE(ReadMessage(fds[0], msg));
  EXPECT_EQ(msg[0], KEL_MSG_LOG_CHANGED);
  // The last UNLOAD forgets the descriptor.
  session.Command("UNLOAD");
  p->AddLog(1, "after");
  EXPECT_TRUE(PipeEmpty(fds[0]));
  // A descriptor that is not a pipe or socket is ignored.
  session.Command("LOAD", {{"MSG-PROC-HANDLE", host::Int(0x7FFFFFF0)}});
  p->AddLog(1, "ignored");
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace kel::testing
