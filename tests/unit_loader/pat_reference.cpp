#include "pat_reference.h"

#include <cmath>

namespace testsupport {

namespace {

uint32_t Le(const uint8_t *p, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; i--)
    v = v << 8 | p[i];
  return v;
}

} // namespace

bool ConvertPatReference(const uint8_t *pFile, size_t nFile, PatReference &out) {
  if (nFile < 239 || pFile[85] == 0)
    return false;
  const uint32_t nWaves = pFile[85];
  size_t o = 239;
  for (uint32_t k = 0; k < nWaves / 2; k++)
    o += 96 + Le(pFile + o + 8, 4);
  if (o + 96 > nFile)
    return false;
  const uint8_t *h = pFile + o;
  const int32_t nSize = int32_t(Le(h + 8, 4));
  const int32_t nLoopFrom = int32_t(Le(h + 12, 4));
  const int32_t nLoopTo = int32_t(Le(h + 16, 4));
  const uint32_t nRate = Le(h + 20, 2);
  const uint32_t nRoot = Le(h + 30, 4);
  const uint8_t nMode = h[55];
  if (nSize < 0 || o + 96 + size_t(nSize) > nFile)
    return false;
  std::vector<uint8_t> wave(pFile + o + 96, pFile + o + 96 + nSize);
  wave.push_back(0); // an odd 16-bit wave's last high byte
  const float r = float(nRate) / float(double(nRoot) * 0.001);
  if (!std::isfinite(r) || !(r > 0.0f))
    return false;

  const int32_t p = (nMode & 1) ? 2 : 1;
  const float fCycle = 168.55865478515625f;
  int32_t s = 0, d = 0, nLoopStart = 0, nEnd = 0;
  float fAcc = 0.0f;
  out.data.clear();
  while (s < nSize) {
    uint32_t v = p == 2 ? uint32_t(wave[size_t(s)] | wave[size_t(s) + 1] << 8)
                        : uint32_t(wave[size_t(s)]) << 8;
    if (nMode & 2)
      v -= 0x8000;
    out.data.push_back(uint8_t(v));
    out.data.push_back(uint8_t(v >> 8));
    d += 2;
    fAcc += r;
    while (fAcc >= fCycle) {
      fAcc -= fCycle;
      s += p;
      if (s == nLoopFrom && nLoopStart == 0)
        nLoopStart = d;
      if (s == nLoopTo && nEnd == 0)
        nEnd = d;
      if (s >= nSize)
        break;
    }
  }
  if (nEnd == 0)
    nEnd = d;
  if (nLoopStart > nEnd)
    nEnd = nLoopStart;
  out.nLoopStart = nLoopStart;
  out.nEnd = nEnd;
  return true;
}

} // namespace testsupport
