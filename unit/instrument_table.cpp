// The instrument table, the two maps, data blocks and lock-on-use.
#include <cstring>
#include <new>

#include "unit/sample_loaders.h"
#include "unit/sample_memory.h"
#include "unit/soundset.h"

namespace vokra {

Instrument aInstrument[kInstruments];
int32_t anProgramMap[kMapSize][kMapSize];
int32_t anDrumMap[kMapSize][kMapSize];

struct DataBlock {
  uint8_t *pBytes;    // content followed by kBlockSlack zero bytes
  int32_t nLockCount; // LockBlock calls not yet undone
};

DataBlock *AdoptBlock(uint8_t *pBytes, size_t nBytes) {
  if (pBytes == nullptr)
    return nullptr;
  DataBlock *hBlock = new (std::nothrow) DataBlock{pBytes, 0};
  if (hBlock == nullptr) {
    SampleFree(pBytes);
    return nullptr;
  }
  std::memset(pBytes + nBytes, 0, kBlockSlack);
  return hBlock;
}

DataBlock *AllocBlock(size_t nBytes) {
  uint8_t *const pBytes = SampleAlloc(nBytes + kBlockSlack);
  if (pBytes != nullptr)
    std::memset(pBytes, 0, nBytes);
  return AdoptBlock(pBytes, nBytes);
}

DataBlock *AllocBlockFrom(const uint8_t *pSrc, size_t nBytes) {
  uint8_t *const pBytes = SampleAlloc(nBytes + kBlockSlack);
  if (pBytes != nullptr && nBytes > 0)
    std::memcpy(pBytes, pSrc, nBytes);
  return AdoptBlock(pBytes, nBytes);
}

uint8_t *LockBlock(DataBlock *hBlock) {
  if (hBlock == nullptr)
    return nullptr;
  hBlock->nLockCount++;
  return hBlock->pBytes;
}

int32_t UnlockBlock(DataBlock *hBlock) {
  if (hBlock == nullptr)
    return 0;
  if (hBlock->nLockCount > 0)
    hBlock->nLockCount--;
  return hBlock->nLockCount;
}

void FreeBlock(DataBlock *hBlock) {
  if (hBlock == nullptr)
    return;
  SampleFree(hBlock->pBytes);
  delete hBlock;
}

int32_t LockInstrument(int32_t nInst) {
  if (nInst < 0 || nInst >= kInstruments)
    return 0;
  Instrument &inst = aInstrument[nInst];
  if (inst.pData == nullptr && inst.hData != nullptr)
    inst.pData = LockBlock(inst.hData);
  return inst.pData != nullptr ? 1 : 0;
}

void DropSampleData(Instrument &inst) {
  if (inst.hData != nullptr) {
    while (UnlockBlock(inst.hData) > 0) {
    }
    FreeBlock(inst.hData);
  }
  inst.hData = nullptr;
  inst.pData = nullptr;
}

void StartSampleLoad(Instrument &inst, int32_t nType) {
  inst.nType = nType;
  DropSampleData(inst);
}

void FinishSampleLoad(Instrument &inst) {
  if (inst.bLockOnUse) {
    while (UnlockBlock(inst.hData) > 0) {
    }
    inst.pData = nullptr;
  }
}

// Every record empty: no data, no path, lock-on-use; both maps 0.
void ClearInstruments() {
  for (Instrument &inst : aInstrument) {
    DropSampleData(inst);
    inst.nDataSize = 0;
    inst.szPath[0] = '\0';
    inst.bPathCut = 0;
    inst.bLockOnUse = 1;
  }
  std::memset(anProgramMap, 0, sizeof anProgramMap);
  std::memset(anDrumMap, 0, sizeof anDrumMap);
}

void RemoveCFG() {
  ClearInstruments();
}

void FreeLockCFG() {
  for (Instrument &inst : aInstrument) {
    if (inst.hData == nullptr || !inst.bLockOnUse)
      continue;
    while (UnlockBlock(inst.hData) > 0) {
    }
    inst.pData = nullptr;
  }
}

} // namespace vokra
