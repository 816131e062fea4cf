// Notifications to the host on POSIX: 12-byte messages on the descriptor the
// host passed, and nothing else.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "platform/port.h"

namespace {

TEST(Notify, MessageOnAPipe) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_TRUE(port::PostNotify(static_cast<uintptr_t>(fds[1]), 1809, 7, 0));
  uint32_t msg[3] = {};
  ASSERT_EQ(read(fds[0], msg, sizeof msg), static_cast<ssize_t>(sizeof msg));
  EXPECT_EQ(msg[0], 1809u);
  EXPECT_EQ(msg[1], 7u);
  EXPECT_EQ(msg[2], 0u);
  close(fds[0]);
  close(fds[1]);
}

TEST(Notify, MessageOnASocket) {
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  EXPECT_TRUE(port::SendNotifyTimeout(static_cast<uintptr_t>(sv[0]), 1812, 3, 0, 1000));
  uint32_t msg[3] = {};
  ASSERT_EQ(read(sv[1], msg, sizeof msg), static_cast<ssize_t>(sizeof msg));
  EXPECT_EQ(msg[0], 1812u);
  close(sv[0]);
  close(sv[1]);
}

TEST(Notify, ClosedReaderDoesNotKillTheProcess) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  // SIGPIPE's default action would end the test program here.
  EXPECT_FALSE(port::PostNotify(static_cast<uintptr_t>(fds[1]), 1809, 1, 0));
  EXPECT_FALSE(port::SendNotifyTimeout(static_cast<uintptr_t>(fds[1]), 1809, 1, 0, 10));
  close(fds[1]);
}

TEST(Notify, OtherDescriptorsAreIgnored) {
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(port::PostNotify(static_cast<uintptr_t>(fileno(f)), 1809, 1, 0));
  fclose(f);
  EXPECT_FALSE(port::PostNotify(0x7FFFFFF0, 1809, 1, 0));
  EXPECT_FALSE(port::PostNotify(UINTPTR_MAX, 1809, 1, 0));
}

TEST(Notify, FullPipeGivesUpWithinTheBound) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  char block[4096] = {};
  while (write(fds[1], block, sizeof block) > 0) {
  }
  fcntl(fds[1], F_SETFL, 0);
  EXPECT_FALSE(port::PostNotify(static_cast<uintptr_t>(fds[1]), 1809, 1, 0));
  EXPECT_FALSE(port::SendNotifyTimeout(static_cast<uintptr_t>(fds[1]), 1809, 1, 0, 20));
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
