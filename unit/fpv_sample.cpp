// FPV samples: a 128-byte header, 8- or 16-bit data from offset 256, and the
// five-stage envelope. Missing bytes (a short file) read as zeros; bytes
// past the data the header announces are never read.
#include <cstring>

#include "unit/byte_source.h"
#include "unit/sample_loaders.h"
#include "unit/soundset.h"

namespace vokra {

namespace {
constexpr size_t kFpvHeaderBytes = 128;
constexpr size_t kFpvDataOffset = 256;
constexpr uint8_t kFpv8Bit = 'P';   // format byte of 8-bit data
constexpr int32_t kLoopMargin = 10; // loop points this close to start or end: no loop
constexpr int32_t kMaxRateDivider = 10;
} // namespace

int32_t ParseFpvSource(Instrument &inst, ByteSource &src) {
  StartSampleLoad(inst, kTypeFpv);
  uint8_t h[kFpvHeaderBytes] = {};
  src.CopyTo(h, 0, kFpvHeaderBytes);

  const bool b8Bit = h[3] == kFpv8Bit;
  const int32_t e = int32_t(ReadLe16(h + 6));
  inst.nStart = int32_t(ReadLe16(h + 4)) * 2;
  inst.nEnd = e * 2 - 2;
  inst.nDataSize = e * 2 + 2;
  inst.nLoopStart = int32_t(ReadLe16(h + 8)) * 2;
  inst.nTranspose = int8_t(h[12]);
  inst.nStartLevel = h[16];
  inst.nAttackRate = h[17];
  inst.nDecay1Rate = h[18];
  inst.nDecay1Depth = int8_t(h[19]);
  inst.nDecay2Rate = h[20];
  inst.nDecay2Depth = int8_t(h[21]);
  inst.nDecay3Rate = h[22];
  inst.nReleaseRate = h[23];
  inst.nPeakLevel = h[24] != 0 ? h[24] : 127;
  inst.nRateDivider = h[73] > kMaxRateDivider ? 0 : h[73];
  inst.nLoopLength = inst.nEnd - inst.nLoopStart + 2;
  inst.bLoop =
      inst.nStart + kLoopMargin < inst.nLoopStart && inst.nLoopStart < inst.nEnd - kLoopMargin ? 1
                                                                                               : 0;

  inst.hData = AllocBlock(size_t(inst.nDataSize));
  if (inst.hData == nullptr)
    return 0;
  uint8_t *pData = LockBlock(inst.hData);
  inst.pData = pData;
  const size_t nWant = b8Bit ? size_t(inst.nDataSize) / 2 : size_t(inst.nDataSize);
  src.CopyTo(pData, kFpvDataOffset, nWant);
  if (b8Bit) {
    // Widen in place from the end: the byte becomes the high byte, low byte 0.
    // o/2 < o for o >= 2, so every source byte is read before it is overwritten.
    for (int32_t o = inst.nEnd; o >= 0; o -= 2) {
      uint8_t b = pData[o / 2];
      pData[o] = 0;
      pData[o + 1] = b;
    }
  }
  FinishSampleLoad(inst);
  return 1;
}

int32_t ParseFpvSample(Instrument &inst, const uint8_t *pFile, size_t nFile) {
  MemorySource src(pFile, nFile);
  return ParseFpvSource(inst, src);
}

} // namespace vokra
