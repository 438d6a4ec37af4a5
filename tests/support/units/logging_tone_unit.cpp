// A sound unit for the recorder tests: a square wave on channel 1 while any
// note is held, and a log of the calls the recorder must make. Built as a
// plug-in module; the test reads the log through ToneLog. Built with
// TONE_UNIT_LEAKS it leaks a block per note, for the leak check of renders.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define TONE_EXPORT extern "C" __attribute__((visibility("default")))

constexpr int32_t kAmplitude = 2000;
constexpr int32_t kHalfPeriod = 50; // samples

static int32_t nNotesHeld = 0;
static int32_t nPhase = 0;
static char szLog[4096];

static void Log(const char *psz) {
  size_t n = std::strlen(szLog);
  if (n + std::strlen(psz) + 1 < sizeof szLog)
    std::strcpy(szLog + n, psz);
}

TONE_EXPORT const char *ToneLog() {
  return szLog;
}
TONE_EXPORT void ToneClearLog() {
  szLog[0] = 0;
}

TONE_EXPORT int32_t GetType(void) {
  return 0x20000;
}
TONE_EXPORT int32_t GetName(char *pszName) {
  std::strcpy(pszName, "TONE");
  return 4;
}
TONE_EXPORT int32_t GetVer(void) {
  return 1;
}
TONE_EXPORT int32_t TestDLL(void) {
  return 0;
}
TONE_EXPORT void Copyright(void *) {}
TONE_EXPORT void Make(int32_t *pAcc) {
  if (nNotesHeld <= 0)
    return;
  int32_t s = nPhase < kHalfPeriod ? kAmplitude : -kAmplitude;
  nPhase = (nPhase + 1) % (2 * kHalfPeriod);
  pAcc[0] += s;
  pAcc[16] += s;
  pAcc[32] += 1;
}
TONE_EXPORT int32_t SetRate(int32_t nRate) {
  char sz[32];
  std::snprintf(sz, sizeof sz, "SetRate %d;", nRate);
  Log(sz);
  return nRate;
}
TONE_EXPORT void InitUNIT(void *, const char *) {}
TONE_EXPORT int32_t LoadCFG(void) {
  return 1;
}
TONE_EXPORT void RemoveCFG(void) {}
TONE_EXPORT void FreeLockCFG(void) {
  Log("FreeLockCFG;");
}
#ifdef TONE_UNIT_LEAKS
// Each note-on takes 64 blocks and keeps only the last: a stale copy of a
// pointer on the stack cannot hide them all from a leak check.
static void *volatile pLastLeak = nullptr;
#endif

TONE_EXPORT void MidiIn(const uint8_t *pMsg, int32_t) {
  int32_t nStatus = pMsg[2] & 0xF0;
#ifdef TONE_UNIT_LEAKS
  if (nStatus == 0x90)
    for (int i = 0; i < 64; ++i)
      pLastLeak = std::malloc(64);
#endif
  if (nStatus == 0x90 && pMsg[4] > 0) {
    if (nNotesHeld == 0)
      nPhase = 0; // every note starts the same way
    ++nNotesHeld;
  } else if (nStatus == 0x80 || nStatus == 0x90)
    --nNotesHeld;
  else if (nStatus == 0xB0 && (pMsg[3] == 123 || pMsg[3] == 120))
    nNotesHeld = 0;
  if (nNotesHeld < 0)
    nNotesHeld = 0;
}
TONE_EXPORT intptr_t SysSig(void *, int32_t) {
  return 0;
}
