// A stand-in sound unit for the unit host tests. It exports the unit's entry
// points (all thirteen, or twelve when FAKE_WITHOUT_SYSSIG is defined) and
// records every call into a log the test lends it, so the log survives the
// library being released.
#include <cstdint>
#include <cstdio>
#include <cstring>

#ifndef FAKE_NAME
#define FAKE_NAME "FAKE UNIT"
#endif

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

static char *pszLog = nullptr; // borrowed from the test
static size_t nLogRoom = 0;

static void Log(const char *pszFormat, const char *pszArg = "", long nArg = 0) {
  if (!pszLog) {
    return;
  }
  const size_t n = std::strlen(pszLog);
  if (n + 1 < nLogRoom) {
    std::snprintf(pszLog + n, nLogRoom - n, pszFormat, pszArg, nArg);
  }
}

// Test hook, looked up with dlsym on the slot's handle.
FAKE_EXPORT void FakeSetLog(char *pszBuffer, size_t nRoom) {
  pszLog = pszBuffer;
  nLogRoom = nRoom;
}

FAKE_EXPORT int32_t GetType(void) {
  return 0x20000;
}
FAKE_EXPORT int32_t GetName(char *pszName) {
  Log("GetName;");
  if (pszName) {
    std::strcpy(pszName, FAKE_NAME);
  }
  return static_cast<int32_t>(std::strlen(FAKE_NAME));
}
FAKE_EXPORT int32_t GetVer(void) {
  return 1;
}
FAKE_EXPORT int32_t TestDLL(void) {
  return 0;
}
FAKE_EXPORT void Copyright(void *) {}
FAKE_EXPORT void Make(int32_t *pAcc) {
  pAcc[32] += 0;
}
FAKE_EXPORT int32_t SetRate(int32_t nRate) {
  Log("SetRate %s%ld;", "", nRate);
  return nRate;
}
FAKE_EXPORT void InitUNIT(void *, const char *pszDir) {
  Log("InitUNIT %s;", pszDir);
}
FAKE_EXPORT int32_t LoadCFG(void) {
  Log("LoadCFG;");
  return 1;
}
FAKE_EXPORT void RemoveCFG(void) {
  Log("RemoveCFG;");
}
FAKE_EXPORT void FreeLockCFG(void) {
  Log("FreeLockCFG;");
}
FAKE_EXPORT void MidiIn(const uint8_t *pMsg, int32_t) {
  Log("MidiIn %s%ld;", "", (static_cast<long>(pMsg[2]) << 16) | (pMsg[3] << 8) | pMsg[4]);
}
#ifndef FAKE_WITHOUT_SYSSIG
FAKE_EXPORT intptr_t SysSig(void *, int32_t nCode) {
  Log("SysSig %s%ld;", "", nCode);
  return 0;
}
#endif
