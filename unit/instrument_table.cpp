// The instrument table, the two maps, data blocks and lock-on-use.
#include <atomic>
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
  size_t nBytes;      // content bytes, counted against the set's limit
  int32_t nLockCount; // LockBlock calls not yet undone
  SampleMapping map;  // set: pBytes lies in a read-only mapping of the sample file
};

namespace {

// Content bytes of every block; samples load on two threads.
std::atomic<size_t> nSetBytes{0};
std::atomic<size_t> nSetLimit{kMaxSetSampleBytes};

// Counts nBytes more against the limit; false (nothing counted) past it.
bool TakeSetBytes(size_t nBytes) {
  size_t nNow = nSetBytes.load(std::memory_order_relaxed);
  do {
    const size_t nLimit = nSetLimit.load(std::memory_order_relaxed);
    if (nNow > nLimit || nBytes > nLimit - nNow)
      return false;
  } while (!nSetBytes.compare_exchange_weak(nNow, nNow + nBytes, std::memory_order_relaxed));
  return true;
}

} // namespace

size_t SampleBytesLeft() {
  const size_t nNow = nSetBytes.load(std::memory_order_relaxed);
  const size_t nLimit = nSetLimit.load(std::memory_order_relaxed);
  return nNow < nLimit ? nLimit - nNow : 0;
}

void SetSampleLimit(size_t nBytes) {
  nSetLimit.store(nBytes, std::memory_order_relaxed);
}

DataBlock *AdoptBlock(uint8_t *pBytes, size_t nBytes) {
  if (pBytes == nullptr)
    return nullptr;
  if (!TakeSetBytes(nBytes)) {
    SampleFree(pBytes);
    return nullptr;
  }
  DataBlock *hBlock = new (std::nothrow) DataBlock{pBytes, nBytes, 0, {}};
  if (hBlock == nullptr) {
    nSetBytes.fetch_sub(nBytes, std::memory_order_relaxed);
    SampleFree(pBytes);
    return nullptr;
  }
  std::memset(pBytes + nBytes, 0, kBlockSlack);
  return hBlock;
}

DataBlock *MapBlock(int fd, size_t nOffset, size_t nBytes) {
  if (!TakeSetBytes(nBytes))
    return nullptr;
  DataBlock *hBlock = new (std::nothrow) DataBlock{nullptr, nBytes, 0, {}};
  if (hBlock != nullptr)
    hBlock->pBytes = SampleMapFile(fd, nOffset, nBytes, kBlockSlack, hBlock->map);
  if (hBlock == nullptr || hBlock->pBytes == nullptr) {
    nSetBytes.fetch_sub(nBytes, std::memory_order_relaxed);
    delete hBlock;
    return nullptr;
  }
  return hBlock;
}

DataBlock *AllocBlock(size_t nBytes) {
  if (nBytes > SampleBytesLeft())
    return nullptr; // refused before any memory is touched
  uint8_t *const pBytes = SampleAlloc(nBytes + kBlockSlack);
  if (pBytes != nullptr)
    std::memset(pBytes, 0, nBytes);
  return AdoptBlock(pBytes, nBytes);
}

DataBlock *AllocBlockFrom(const uint8_t *pSrc, size_t nBytes) {
  if (nBytes > SampleBytesLeft())
    return nullptr;
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
  if (hBlock->map.pBase != nullptr)
    SampleUnmap(hBlock->map);
  else
    SampleFree(hBlock->pBytes);
  nSetBytes.fetch_sub(hBlock->nBytes, std::memory_order_relaxed);
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
