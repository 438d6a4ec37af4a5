#include "unit/sample_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

// Under AddressSanitizer every block is a heap block of its own, so that a
// read past a block is still caught.
#if defined(__SANITIZE_ADDRESS__)
#define VOKRA_HEAP_SAMPLES 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VOKRA_HEAP_SAMPLES 1
#endif
#endif

#if defined(VOKRA_HEAP_SAMPLES)
#include <sanitizer/asan_interface.h>
#endif

namespace vokra {

namespace {

// n rounded up to a multiple of a.
size_t RoundUpTo(size_t n, size_t a) {
  return (n + a - 1) / a * a;
}

} // namespace

uint8_t *SampleMapFile(int fd, size_t nOffset, size_t nBytes, size_t nSlack, SampleMapping &map) {
  map = SampleMapping{};
  const long nPageSize = sysconf(_SC_PAGESIZE);
  if (nPageSize <= 0)
    return nullptr;
  const size_t nPage = size_t(nPageSize);
  const size_t nLead = nOffset % nPage; // the mapping starts on a page boundary
  const size_t nFileBytes = RoundUpTo(nLead + nBytes, nPage);
  const size_t nNeed = RoundUpTo(nLead + nBytes + nSlack, nPage);
  const size_t nSize = nNeed > nFileBytes ? nNeed : nFileBytes;
  void *pMap = nullptr;
  if (nNeed <= nFileBytes) {
    pMap = mmap(nullptr, nSize, PROT_READ, MAP_PRIVATE, fd, off_t(nOffset - nLead));
  } else {
    // Zero pages first, the file over their front: a page wholly past the
    // file's end would fault when read.
    pMap = mmap(nullptr, nSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pMap != MAP_FAILED && nFileBytes > 0 &&
        mmap(pMap, nFileBytes, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, off_t(nOffset - nLead)) ==
            MAP_FAILED) {
      munmap(pMap, nSize);
      return nullptr;
    }
  }
  if (pMap == MAP_FAILED)
    return nullptr;
  map.pBase = static_cast<uint8_t *>(pMap);
  map.nSize = nSize;
#if defined(VOKRA_HEAP_SAMPLES)
  // What lies around the block is not the block's: a read there is a fault,
  // as it is for a copied block.
  ASAN_POISON_MEMORY_REGION(map.pBase, nLead);
  ASAN_POISON_MEMORY_REGION(map.pBase + nLead + nBytes + nSlack, nSize - nLead - nBytes - nSlack);
#endif
  return map.pBase + nLead;
}

void SampleUnmap(SampleMapping &map) {
  if (map.pBase == nullptr)
    return;
#if defined(VOKRA_HEAP_SAMPLES)
  ASAN_UNPOISON_MEMORY_REGION(map.pBase, map.nSize);
#endif
  munmap(map.pBase, map.nSize);
  map = SampleMapping{};
}

#if defined(VOKRA_HEAP_SAMPLES)

constexpr std::align_val_t kHeapAlign{64}; // as the regions align their blocks

uint8_t *SampleAlloc(size_t nBytes) {
  return static_cast<uint8_t *>(::operator new[](nBytes, kHeapAlign, std::nothrow));
}
bool SampleGrow(uint8_t *, size_t) {
  return false;
}
void SampleFree(uint8_t *p) {
  ::operator delete[](p, kHeapAlign);
}
void SampleExpect(size_t) {}
int32_t SampleRegions() {
  return 0;
}

#else

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kRegionBytes = size_t{16} << 20; // most sound sets fit in one or two
constexpr size_t kAlign = 64;

struct Region {
  uint8_t *pBase;
  size_t nSize;
  size_t nTop;   // bytes handed out
  size_t nLast;  // offset of the latest block
  int32_t nLive; // blocks not yet freed
};

std::vector<Region> aRegions;
std::mutex regionLock;  // samples load on two threads
bool bExpected = false; // the coming allocations' size is known:
size_t nExpected = 0;   // the part of it no region holds yet

// A region of at least nBytes on huge-page boundaries, or false.
bool AddRegion(size_t nBytes) {
  const size_t nSize = RoundUpTo(nBytes > kRegionBytes ? nBytes : kRegionBytes, kHugePage);
  // Mapped one huge page larger, then trimmed to a boundary on both sides.
  void *pMap =
      mmap(nullptr, nSize + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pMap == MAP_FAILED)
    return false;
  auto *const pRaw = static_cast<uint8_t *>(pMap);
  const uintptr_t nRaw = reinterpret_cast<uintptr_t>(pRaw);
  const size_t nLead = RoundUpTo(nRaw, kHugePage) - nRaw;
  if (nLead > 0)
    munmap(pRaw, nLead);
  if (kHugePage - nLead > 0)
    munmap(pRaw + nLead + nSize, kHugePage - nLead);
  uint8_t *const pBase = pRaw + nLead;
  // Hints: huge pages for what the expected bytes fill whole, small pages
  // after (also where the kernel would use huge pages unasked).
  const size_t nHuge = bExpected ? std::min(nSize, nExpected / kHugePage * kHugePage) : nSize;
  if (nHuge > 0)
    madvise(pBase, nHuge, MADV_HUGEPAGE);
  if (nHuge < nSize)
    madvise(pBase + nHuge, nSize - nHuge, MADV_NOHUGEPAGE);
  nExpected -= std::min(nExpected, nSize);
  aRegions.push_back({pBase, nSize, 0, 0, 0});
  return true;
}

// Bytes a block of nBytes takes in a region (at least one alignment step);
// 0 when that does not fit a size_t.
size_t BlockBytes(size_t nBytes) {
  const size_t nNeed = RoundUpTo(nBytes > 0 ? nBytes : 1, kAlign);
  return nNeed < nBytes ? 0 : nNeed;
}

Region *RegionOf(const uint8_t *p) {
  for (Region &r : aRegions)
    if (p >= r.pBase && p < r.pBase + r.nSize)
      return &r;
  return nullptr;
}

} // namespace

uint8_t *SampleAlloc(size_t nBytes) {
  const size_t nNeed = BlockBytes(nBytes);
  if (nNeed == 0)
    return nullptr;
  const std::lock_guard<std::mutex> hold(regionLock);
  if (aRegions.empty() || aRegions.back().nSize - aRegions.back().nTop < nNeed) {
    if (!AddRegion(nNeed))
      return nullptr;
  }
  Region &r = aRegions.back();
  r.nLast = r.nTop;
  r.nTop += nNeed;
  r.nLive += 1;
  return r.pBase + r.nLast;
}

bool SampleGrow(uint8_t *p, size_t nBytes) {
  const std::lock_guard<std::mutex> hold(regionLock);
  Region *const pRegion = RegionOf(p);
  if (pRegion == nullptr || p != pRegion->pBase + pRegion->nLast)
    return false;
  const size_t nNeed = BlockBytes(nBytes);
  if (nNeed == 0 || nNeed > pRegion->nSize - pRegion->nLast)
    return false;
  pRegion->nTop = pRegion->nLast + nNeed;
  return true;
}

void SampleFree(uint8_t *p) {
  if (p == nullptr)
    return;
  const std::lock_guard<std::mutex> hold(regionLock);
  Region *const pRegion = RegionOf(p);
  if (pRegion == nullptr || --pRegion->nLive > 0)
    return;
  munmap(pRegion->pBase, pRegion->nSize);
  aRegions.erase(aRegions.begin() + (pRegion - aRegions.data()));
}

void SampleExpect(size_t nBytes) {
  const std::lock_guard<std::mutex> hold(regionLock);
  bExpected = nBytes > 0;
  nExpected = nBytes;
}

int32_t SampleRegions() {
  const std::lock_guard<std::mutex> hold(regionLock);
  return static_cast<int32_t>(aRegions.size());
}

#endif

} // namespace vokra
