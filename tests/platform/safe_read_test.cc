// Reading host memory without faulting: whole regions, regions that end in
// memory nobody may read, several regions in one probe, and more probes
// than the kernel's buffer holds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/port.h"

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Two pages: the first readable and filled with a pattern, the second not.
struct Guarded {
  size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  unsigned char* base = nullptr;
  Guarded() {
    void* p = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base = static_cast<unsigned char*>(p);
    for (size_t i = 0; i < page; ++i) base[i] = static_cast<unsigned char>(i * 7);
    mprotect(base + page, page, PROT_NONE);
  }
  ~Guarded() { munmap(base, 2 * page); }
  const unsigned char* End(size_t back) const { return base + page - back; }
};

TEST(SafeRead, ReadsWhatCanBeReadAndNothingElse) {
  Guarded g;
  struct Case {
    size_t back;  // start this far before the unreadable page
    size_t n;
    bool ok;
  };
  const Case cases[] = {
      {16, 16, true}, {16, 17, false}, {1, 1, true},  {0, 1, false},
      {4096, 4096, true},                              // one probe at the sink's limit
      {4096, 4097, false},  // past it: read by the kernel
      {2000, 3000, false},
  };
  for (const Case& c : cases) {
    if (c.back > g.page) continue;
    std::vector<unsigned char> out(c.n, 0xEE);
    const unsigned char* at = g.End(c.back);
    SCOPED_TRACE("back " + std::to_string(c.back) + " n " + std::to_string(c.n));
    EXPECT_EQ(port::SafeRead(at, out.data(), c.n), c.ok);
    EXPECT_EQ(port::CanRead(at, c.n), c.ok);
    if (c.ok) {
      EXPECT_EQ(std::memcmp(out.data(), at, c.n), 0);
    }
  }
  unsigned char one = 0;
  EXPECT_FALSE(port::SafeRead(nullptr, &one, 1));
  EXPECT_FALSE(port::SafeRead(reinterpret_cast<const void*>(~uintptr_t{0} - 3), &one, 8)) << "wraps";
  // A large readable region goes through the kernel's copy.
  std::vector<unsigned char> big(100000, 0x5A), copy(big.size());
  EXPECT_TRUE(port::SafeRead(big.data(), copy.data(), big.size()));
  EXPECT_EQ(copy, big);
}

TEST(SafeRead, SpansAreAllReadOrReportedAsFailed) {
  Guarded g;
  unsigned char a[8] = {}, b[4] = {}, c[32] = {};
  port::TReadSpan good[3] = {{g.base, a, sizeof a}, {g.End(4), b, sizeof b}, {g.base + 100, c, sizeof c}};
  ASSERT_TRUE(port::SafeReadSpans(good, 3));
  EXPECT_EQ(std::memcmp(a, g.base, sizeof a), 0);
  EXPECT_EQ(std::memcmp(b, g.End(4), sizeof b), 0);
  EXPECT_EQ(std::memcmp(c, g.base + 100, sizeof c), 0);
  port::TReadSpan bad[3] = {{g.base, a, sizeof a}, {g.End(2), b, sizeof b}, {g.base, c, sizeof c}};
  EXPECT_FALSE(port::SafeReadSpans(bad, 3));
  port::TReadSpan null[2] = {{g.base, a, sizeof a}, {nullptr, b, sizeof b}};
  EXPECT_FALSE(port::SafeReadSpans(null, 2));
  // Far more probes than the kernel's buffer holds (it is emptied as it fills),
  // failed ones among them.
  for (int i = 0; i < 5000; ++i) {
    ASSERT_TRUE(port::SafeReadSpans(good, 3)) << i;
    ASSERT_FALSE(port::CanRead(g.End(8), 9)) << i;
  }
}

}  // namespace
#endif
