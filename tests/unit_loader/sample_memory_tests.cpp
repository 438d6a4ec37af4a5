// Sample memory: blocks keep their bytes whatever is allocated, grown or
// freed around them, and the regions go back when their last block does.
#include <gtest/gtest.h>

#include <cstring>
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
