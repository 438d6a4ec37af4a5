// EPC samples: a 64-byte header (the instrument record's header block)
// followed by exactly nDataSize bytes of 16-bit signed mono data.
#include <cstring>

#include "unit/byte_source.h"
#include "unit/sample_loaders.h"
#include "unit/soundset.h"

namespace vokra {

int32_t ParseEpcSource(Instrument &inst, ByteSource &src) {
  StartSampleLoad(inst, kTypeEpc);
  const size_t nFile = src.Size();
  if (nFile < size_t(kEpcHeaderBytes)) // a file shorter than its header is not an EPC
    return 0;
  const uint8_t *const pHeader = src.Read(0, kEpcHeaderBytes, 0);
  if (pHeader == nullptr)
    return 0;
  std::memcpy(inst.abEpcIdent, pHeader, 4);
  inst.nDataSize = int32_t(ReadLe32(pHeader + 4));
  std::memcpy(inst.abEpcUnused, pHeader + 8, 15);
  inst.nTranspose = int8_t(pHeader[23]);
  inst.nStart = int32_t(ReadLe32(pHeader + 24));
  inst.nLoopStart = int32_t(ReadLe32(pHeader + 28));
  inst.nEnd = int32_t(ReadLe32(pHeader + 32));
  inst.nAttackStep = int32_t(ReadLe32(pHeader + 36));
  inst.nDecayPeriod = int32_t(ReadLe32(pHeader + 40));
  inst.nDecay2Period = int32_t(ReadLe32(pHeader + 44));
  inst.nReleaseStep = int32_t(ReadLe32(pHeader + 48));
  inst.nDecayLevel = int32_t(ReadLe32(pHeader + 52));
  inst.nFloorLevel = int32_t(ReadLe32(pHeader + 56));
  inst.bLoop = int32_t(ReadLe32(pHeader + 60));

  // The data must end the file: one byte more or less fails, before any of
  // it is read.
  const size_t nData = size_t(inst.nDataSize);
  if (inst.nDataSize < 0 || nData != nFile - kEpcHeaderBytes)
    return 0;
  // The data is already in the unit's form: mapped where the source can,
  // so that a song makes resident only the samples it plays.
  inst.hData = src.MapTail(kEpcHeaderBytes);
  if (inst.hData != nullptr) {
    inst.pData = LockBlock(inst.hData);
    FinishSampleLoad(inst);
    return 1;
  }
  inst.hData = AllocBlock(nData);
  if (inst.hData == nullptr)
    return 0;
  inst.pData = LockBlock(inst.hData);
  // One byte more is asked for (the slack has room): a file that grew since
  // it was measured fails too.
  if (src.CopyTo(inst.pData, kEpcHeaderBytes, nData + 1) != nData) {
    DropSampleData(inst);
    return 0;
  }
  inst.pData[nData] = 0; // the slack stays zero
  FinishSampleLoad(inst);
  return 1;
}

int32_t ParseEpcSample(Instrument &inst, const uint8_t *pFile, size_t nFile) {
  MemorySource src(pFile, nFile);
  return ParseEpcSource(inst, src);
}

} // namespace vokra
