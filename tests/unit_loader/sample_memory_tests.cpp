// Sample memory: blocks keep their bytes whatever is allocated, grown or
// freed around them, and the regions go back when their last block does.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "unit/sample_memory.h"

using namespace vokra;

namespace {

struct Block {
  uint8_t *p;
  size_t n;
  uint8_t v;
};

bool Holds(const Block &b) {
  for (size_t i = 0; i < b.n; i++)
    if (b.p[i] != b.v)
      return false;
  return true;
}

// Huge-page bytes of the mapping that holds p, from /proc/self/smaps; -1
// when it cannot be told.
long HugeBytesAround(const void *p) {
  std::FILE *f = std::fopen("/proc/self/smaps", "r");
  if (f == nullptr)
    return -1;
  char sz[512];
  bool bIn = false;
  long nKb = -1;
  const uintptr_t a = reinterpret_cast<uintptr_t>(p);
  while (std::fgets(sz, sizeof sz, f) != nullptr) {
    unsigned long nFrom = 0, nTo = 0;
    if (std::sscanf(sz, "%lx-%lx ", &nFrom, &nTo) == 2 && std::strchr(sz, ':') != nullptr &&
        std::strncmp(sz, "AnonHugePages", 13) != 0)
      bIn = a >= nFrom && a < nTo;
    else if (bIn && std::strncmp(sz, "AnonHugePages:", 14) == 0)
      nKb = std::atol(sz + 14);
  }
  std::fclose(f);
  return nKb < 0 ? -1 : nKb * 1024;
}

} // namespace

TEST(SampleMemoryTest, BlocksKeepTheirBytesAndRegionsGoBack) {
  const int32_t nRegionsBefore = SampleRegions(); // blocks other tests keep
  std::vector<Block> blocks;
  const auto Add = [&](size_t n, uint8_t v) {
    uint8_t *p = SampleAlloc(n);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 64, 0u);
    std::memset(p, v, n);
    blocks.push_back({p, n, v});
  };
  for (int i = 0; i < 200; i++)
    Add(size_t(1 + i * 997 % 300000), uint8_t(i));
  Add(size_t{40} << 20, 0xee); // larger than a region
  Add(100, 0x11);
  // The latest block grows in place and keeps its bytes; an older one does not.
  Block &last = blocks.back();
  if (SampleGrow(last.p, 5000)) {
    std::memset(last.p + 100, 0x11, 4900);
    last.n = 5000;
  }
  EXPECT_FALSE(SampleGrow(blocks[3].p, blocks[3].n + 1000));
  for (size_t i = 0; i < blocks.size(); i += 2)
    EXPECT_TRUE(Holds(blocks[i])) << i;
  for (size_t i = 0; i < blocks.size(); i += 2)
    SampleFree(blocks[i].p);
  for (size_t i = 1; i < blocks.size(); i += 2)
    EXPECT_TRUE(Holds(blocks[i])) << i;
  // The last block of a region stays readable until it is freed itself.
  for (size_t i = 3; i < blocks.size(); i += 2)
    SampleFree(blocks[i].p);
  EXPECT_TRUE(Holds(blocks[1]));
  SampleFree(blocks[1].p);
  SampleFree(nullptr);
  EXPECT_EQ(SampleRegions(), nRegionsBefore);
}

// With the set's size known, only the huge pages it fills whole are huge:
// the last, partly filled stretch takes small pages, also where the kernel
// would use huge pages unasked. (Without huge pages on this machine the
// count is 0 and says nothing.)
TEST(SampleMemoryTest, ExpectedBytesGetHugePagesOnlyWhereTheyFillThem) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "heap blocks under AddressSanitizer";
#endif
  const int32_t nRegionsBefore = SampleRegions();
  if (nRegionsBefore != 0)
    GTEST_SKIP() << "a region is already in use";
  constexpr size_t kMiB = size_t{1} << 20;
  const size_t nExpected = 5 * kMiB + 300000;
  SampleExpect(nExpected);
  std::vector<uint8_t *> blocks;
  for (size_t nDone = 0; nDone < nExpected; nDone += 100000) {
    uint8_t *p = SampleAlloc(100000);
    ASSERT_NE(p, nullptr);
    std::memset(p, 0x5a, 100000);
    blocks.push_back(p);
  }
  SampleExpect(0);
  const long nHuge = HugeBytesAround(blocks.front());
  if (nHuge >= 0) {
    EXPECT_LE(nHuge, long(4 * kMiB)); // two whole pages; the third is partly filled
  }
  for (size_t i = 0; i < blocks.size(); i += 7)
    EXPECT_EQ(blocks[i][99999], 0x5a);
  for (uint8_t *p : blocks)
    SampleFree(p);
  EXPECT_EQ(SampleRegions(), 0);
}
