// A minimal sound unit for the end-to-end output tests: every sounding note is
// a square wave whose period follows the key and whose height follows the
// velocity, panned by controller 10. Deterministic: the same messages and the
// same number of Make calls give the same samples in any process.
#include <cstdint>
#include <cstring>

#include "common/unit_interface.h"

namespace {

int32_t anVelocity[16][128]; // 0 = silent
int32_t anSounding[16];      // notes with a velocity, per channel
int32_t anPan[16];           // controller 10
int64_t nSample = 0;         // Make calls so far

void Reset() {
  std::memset(anVelocity, 0, sizeof anVelocity);
  std::memset(anSounding, 0, sizeof anSounding);
  for (int32_t &n : anPan)
    n = 64;
  nSample = 0;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t GetType(void) {
  return 0x20000;
}
__attribute__((visibility("default"))) int32_t GetName(char *pszName) {
  std::strcpy(pszName, "TONE TEST UNIT");
  return 1;
}
__attribute__((visibility("default"))) int32_t GetVer(void) {
  return 1;
}
__attribute__((visibility("default"))) int32_t TestDLL(void) {
  return 0;
}
__attribute__((visibility("default"))) void Copyright(UnitWindow) {}
__attribute__((visibility("default"))) int32_t SetRate(int32_t) {
  return 1;
}
__attribute__((visibility("default"))) void InitUNIT(UnitWindow, const char *) {
  Reset();
}
__attribute__((visibility("default"))) int32_t LoadCFG(void) {
  return 1;
}
__attribute__((visibility("default"))) void RemoveCFG(void) {}
__attribute__((visibility("default"))) void FreeLockCFG(void) {}
__attribute__((visibility("default"))) intptr_t SysSig(UnitWindow, int32_t) {
  return 0;
}

__attribute__((visibility("default"))) void MidiIn(const uint8_t *pMsg, int32_t) {
  int32_t nLen = pMsg[kMsgLenLo] | pMsg[kMsgLenHi] << 8;
  if (nLen != 3)
    return;
  int32_t nStatus = pMsg[kMsgStatus] & 0xF0, nCh = pMsg[kMsgStatus] & 0x0F;
  int32_t nD1 = pMsg[kMsgData1] & 0x7F, nD2 = pMsg[kMsgData2] & 0x7F;
  if (nStatus == 0x80)
    nD2 = 0;
  if (nStatus == 0x80 || nStatus == 0x90) {
    anSounding[nCh] += (nD2 != 0) - (anVelocity[nCh][nD1] != 0);
    anVelocity[nCh][nD1] = nD2;
  } else if (nStatus == 0xB0 && nD1 == 10) {
    anPan[nCh] = nD2;
  } else if (nStatus == 0xB0 && (nD1 == 120 || nD1 == 123)) {
    std::memset(anVelocity[nCh], 0, sizeof anVelocity[nCh]);
    anSounding[nCh] = 0;
  }
}

__attribute__((visibility("default"))) void Make(int32_t *pAcc) {
  for (int32_t ch = 0; ch < 16; ch++) {
    if (!anSounding[ch])
      continue; // kept cheap: the thread-checked build renders in real time too
    int32_t nMix = 0, nVoices = 0;
    for (int32_t key = 0; key < 128 && nVoices < anSounding[ch]; key++) {
      if (!anVelocity[ch][key])
        continue;
      int32_t nHalf = 8 + (127 - key); // half period in samples
      int32_t nSign = (nSample / nHalf) % 2 ? 1 : -1;
      nMix += nSign * anVelocity[ch][key] * 60;
      nVoices++;
    }
    pAcc[kAccLeft + ch] += nMix / 128 * (128 - anPan[ch]);
    pAcc[kAccRight + ch] += nMix / 128 * anPan[ch];
    pAcc[kAccVoices + ch] += nVoices;
  }
  nSample++;
}

} // extern "C"
