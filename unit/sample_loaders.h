// Helpers shared by the three sample-format loaders (not used outside them).
#pragma once

#include <cstddef>
#include <cstdint>

#include "unit/soundset.h"

namespace vokra {

class ByteSource;

// The patch parser on a source that may read only the parts it needs.
int32_t ParsePatSource(Instrument &inst, ByteSource &src);
// About the bytes ParsePatSource would convert (the rate ratio's size, read
// from the headers alone); 0 when the patch cannot be used.
size_t PatSampleBytes(ByteSource &src);

// A data block whose content is the last nBytes of open file fd, from
// nOffset, mapped read-only rather than copied; null when the set's limit or
// the mapping refuses it. Its content must never be written.
DataBlock *MapBlock(int fd, size_t nOffset, size_t nBytes);

// Sets nType and frees whatever data block the instrument holds.
void StartSampleLoad(Instrument &inst, int32_t nType);
// Unlocks and frees the data block; hData and pData become null.
void DropSampleData(Instrument &inst);
// After a successful load: a lock-on-use instrument is left unlocked.
void FinishSampleLoad(Instrument &inst);

inline uint32_t ReadLe16(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
inline uint32_t ReadLe32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace vokra
