// Memory for sample data. A sound set's blocks are carved one after another
// out of large regions that the kernel may back with huge pages: loading a
// set then takes a handful of page faults instead of one per 4 KiB, which
// on a virtual machine cost more than the conversion itself. A region goes
// back to the system when its last block is freed (RemoveCFG frees them all).
// Data that needs no conversion is mapped from its file instead (below).
// Samples load on two threads, so every region call takes a lock;
// rendering never allocates.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vokra {

// nBytes of uninitialised memory, 64-byte aligned, or null.
uint8_t *SampleAlloc(size_t nBytes);
// Grows p, SampleAlloc's latest block, to nBytes in place when its region
// has room; false otherwise (p is then unchanged).
bool SampleGrow(uint8_t *p, size_t nBytes);
// Frees a block of SampleAlloc (null is ignored).
void SampleFree(uint8_t *p);
// About the bytes the coming allocations take in all (0: not known). Regions
// made from now on back only whole huge pages of that with huge pages, the
// rest with small ones: the last, partly filled stretch of a sound set then
// does not cost a whole 2 MiB page.
void SampleExpect(size_t nBytes);
// Regions held, for tests.
int32_t SampleRegions();

// A file's bytes mapped read-only and private: only the pages that are read
// become resident, and they stay the kernel's to drop and read again.
struct SampleMapping {
  uint8_t *pBase = nullptr; // start of the mapping (a page boundary); null: none
  size_t nSize = 0;         // bytes mapped
};
// The last nBytes of open file fd, from nOffset (nOffset + nBytes is the
// file's size), followed by nSlack readable zero bytes: the file's last page
// ends in zeros, and a page of zeros is mapped behind it when those are too
// few. Null when the file cannot be mapped (map is then empty).
uint8_t *SampleMapFile(int fd, size_t nOffset, size_t nBytes, size_t nSlack, SampleMapping &map);
// Unmaps what SampleMapFile mapped; map becomes empty.
void SampleUnmap(SampleMapping &map);

} // namespace vokra
