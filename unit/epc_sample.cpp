// EPC samples: a 64-byte header (the instrument record's header block)
// followed by exactly nDataSize bytes of 16-bit signed mono data.
#include <cstring>

#include "unit/sample_loaders.h"
#include "unit/soundset.h"

namespace vokra {

int32_t ParseEpcSample(Instrument &inst, const uint8_t *pFile, size_t nFile) {
  StartSampleLoad(inst, kTypeEpc);
  if (nFile < size_t(kEpcHeaderBytes)) // a file shorter than its header is not an EPC
    return 0;
  std::memcpy(inst.abEpcIdent, pFile, 4);
  inst.nDataSize = int32_t(ReadLe32(pFile + 4));
  std::memcpy(inst.abEpcUnused, pFile + 8, 15);
  inst.nTranspose = int8_t(pFile[23]);
  inst.nStart = int32_t(ReadLe32(pFile + 24));
  inst.nLoopStart = int32_t(ReadLe32(pFile + 28));
  inst.nEnd = int32_t(ReadLe32(pFile + 32));
  inst.nAttackStep = int32_t(ReadLe32(pFile + 36));
  inst.nDecayPeriod = int32_t(ReadLe32(pFile + 40));
  inst.nDecay2Period = int32_t(ReadLe32(pFile + 44));
  inst.nReleaseStep = int32_t(ReadLe32(pFile + 48));
  inst.nDecayLevel = int32_t(ReadLe32(pFile + 52));
  inst.nFloorLevel = int32_t(ReadLe32(pFile + 56));
  inst.bLoop = int32_t(ReadLe32(pFile + 60));

  // The data must end the file: one byte more or less fails.
  if (inst.nDataSize < 0 || size_t(inst.nDataSize) != nFile - kEpcHeaderBytes)
    return 0;
  inst.hData = AllocBlockFrom(pFile + kEpcHeaderBytes, size_t(inst.nDataSize));
  if (inst.hData == nullptr)
    return 0;
  inst.pData = LockBlock(inst.hData);
  FinishSampleLoad(inst);
  return 1;
}

} // namespace vokra
