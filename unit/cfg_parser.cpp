// The sound-set configuration text: one instrument per line,
// "N: file, options", into the instrument records and the two maps.
#include <cstdio>
#include <cstring>

#include "unit/soundset.h"
#include "unit/unit_state.h"

namespace vokra {

namespace {

constexpr int32_t kLineChars = 259;  // longer lines are cut here
constexpr int32_t kDefaultGain = 64; // option A when absent
constexpr int32_t kDefaultPanS = 65; // option S when absent: nInstPan 64

// Blanks are control bytes, space and every byte from 0x80 on.
bool IsBlank(char c) {
  return uint8_t(c) <= 0x20 || uint8_t(c) >= 0x80;
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int32_t Min63(int32_t v) {
  return v < 63 ? v : 63;
}

// szPath = szUnitDir + "VOKRA/" + name, "\" read as "/". A path that does
// not fit keeps its first 511 bytes and is marked so that its load fails.
void SetInstrumentPath(Instrument &inst, const char *pName, int32_t nNameLen) {
  const int32_t nDirLen = std::snprintf(inst.szPath, kInstPathBytes, "%.*s%s", kUnitDirBytes - 1,
                                        szUnitDir, kSoundSetDir);
  inst.bPathCut = nDirLen >= kInstPathBytes ? 1 : 0;
  if (inst.bPathCut)
    return; // the directory alone fills szPath
  int32_t nLen = nDirLen;
  for (int32_t i = 0; i < nNameLen; i++) {
    if (nLen >= kInstPathBytes - 1) {
      inst.bPathCut = 1;
      break;
    }
    inst.szPath[nLen++] = pName[i] == '\\' ? '/' : pName[i];
  }
  inst.szPath[nLen] = '\0';
}

// Fills bank (or kit) entries: b = 0 fills every entry still 0, else entry b.
void EnterInstrument(int32_t *pRow, int32_t b, int32_t nInst) {
  if (b != 0) {
    pRow[b] = nInst;
    return;
  }
  for (int32_t k = 0; k < kMapSize; k++)
    if (pRow[k] == 0)
      pRow[k] = nInst;
}

void ParseCfgLine(const char *pszLine) {
  if (pszLine[0] == '#' || !IsDigit(pszLine[0]))
    return;
  int32_t i = 0;
  int32_t nNumber = ParseCfgInt(pszLine, i);
  if (nNumber == 0)
    return;
  while (pszLine[i] != '\0' && IsBlank(pszLine[i]))
    i++;
  if (nNumber < 1 || nNumber > kInstruments)
    return;
  Instrument &inst = aInstrument[nNumber - 1];
  inst.nInstGain = kDefaultGain;
  inst.nKeyShift = 0;
  if (pszLine[i] != ':')
    return;
  i++;
  while (pszLine[i] != '\0' && IsBlank(pszLine[i]))
    i++;
  int32_t nName = i;
  while (pszLine[i] != '\0' && pszLine[i] != ',' && !IsBlank(pszLine[i]))
    i++;
  SetInstrumentPath(inst, pszLine + nName, i - nName);

  while (pszLine[i] == ',')
    i++;
  while (pszLine[i] != '\0' && IsBlank(pszLine[i]) && pszLine[i] != '\r' && pszLine[i] != '\n')
    i++;
  if (pszLine[i] == '\0' || pszLine[i] == '#')
    return;

  int32_t nT = 0, bHaveT = 0, nB = 0, nP = 0, nS = kDefaultPanS;
  while (pszLine[i] != '\0') {
    char c = pszLine[i++];
    if (c >= 'a' && c <= 'z')
      c = char(c - 'a' + 'A');
    if (std::strchr("AKTBPS", c) == nullptr)
      continue;
    while (pszLine[i] != '\0' && !IsDigit(pszLine[i]) && pszLine[i] != '+' && pszLine[i] != '-')
      i++;
    int32_t v = ParseCfgInt(pszLine, i);
    switch (c) {
    case 'A':
      inst.nInstGain = v;
      break;
    case 'K':
      inst.nKeyShift = v;
      break;
    case 'T':
      nT = v;
      bHaveT = 1;
      break;
    case 'B':
      nB = v;
      break;
    case 'P':
      nP = v;
      break;
    default: // 'S'
      nS = v;
      break;
    }
  }

  // S outside 1..128 is clamped: nInstPan stays 0..127.
  nS = nS < 1 ? 1 : (nS > kMapSize ? kMapSize : nS);
  inst.nInstPan = nS - 1;
  inst.nInstPanR = Min63(inst.nInstPan);
  inst.nInstPanL = Min63(127 - inst.nInstPan);

  // Values that would index outside a map drop the line's map entry.
  // In 64 bits: T (or B) may be the most negative value, whose minus 1 overflows.
  int64_t t = bHaveT ? int64_t{nT} - 1 : (nNumber - 1) % kMapSize;
  if (t < 0 || t >= kMapSize || nB > kMapSize || nP < 0 || nP >= kMapSize)
    return;
  int32_t b = nB < 1 ? 0 : nB - 1;
  if (nP != 0) {
    inst.bLockOnUse = 0;
    EnterInstrument(anDrumMap[nP], b, nNumber - 1);
  } else {
    EnterInstrument(anProgramMap[t], b, nNumber - 1);
  }
}

} // namespace

int32_t ParseCfgInt(const char *pszText, int32_t &nIndex) {
  bool bNegative = false;
  if (pszText[nIndex] == '-') {
    bNegative = true;
    nIndex++;
  }
  if (pszText[nIndex] == '+')
    nIndex++;
  uint32_t v = 0;
  while (IsDigit(pszText[nIndex]))
    v = v * 10u + uint32_t(pszText[nIndex++] - '0');
  return int32_t(bNegative ? 0u - v : v);
}

void ParseCfgText(const uint8_t *pText, size_t nSize) {
  char szLine[kLineChars + 1];
  size_t p = 0;
  for (;;) {
    while (p < nSize && pText[p] >= 0x01 && pText[p] <= 0x20)
      p++;
    if (p >= nSize || pText[p] == 0) // the text ends at its first NUL
      return;
    int32_t nLen = 0;
    while (p < nSize && pText[p] != 0 && pText[p] != '\r' && pText[p] != '\n') {
      if (nLen < kLineChars)
        szLine[nLen++] = char(pText[p]);
      p++;
    }
    szLine[nLen] = '\0';
    ParseCfgLine(szLine);
  }
}

} // namespace vokra
