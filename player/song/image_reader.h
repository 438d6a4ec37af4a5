// Bounded reads of the song image, shared by the loader's pre-scan and the
// sequencer. Offsets are 64-bit so that a damaged length cannot overflow; a
// read outside [0, nEnd) yields 0 and consumes nothing that is not there.
#pragma once

#include <cstdint>

constexpr int32_t kVarLenMax = 0x7FFFFFFF; // a longer quantity saturates here

inline int32_t ImageByteAt(const uint8_t *pImage, int64_t nEnd, int64_t nPos) {
  return (pImage && nPos >= 0 && nPos < nEnd) ? pImage[nPos] : 0;
}

inline int64_t ClampToImage(int64_t nPos, int64_t nEnd) {
  return nPos < 0 ? 0 : (nPos > nEnd ? nEnd : nPos);
}

// Big-endian 16- and 32-bit values; the 32-bit one as the file stores it (unsigned).
inline int32_t ImageBe16(const uint8_t *pImage, int64_t nEnd, int64_t nPos) {
  return ImageByteAt(pImage, nEnd, nPos) << 8 | ImageByteAt(pImage, nEnd, nPos + 1);
}

inline uint32_t ImageBe32(const uint8_t *pImage, int64_t nEnd, int64_t nPos) {
  return static_cast<uint32_t>(ImageBe16(pImage, nEnd, nPos)) << 16 |
         static_cast<uint32_t>(ImageBe16(pImage, nEnd, nPos + 2));
}

// A variable-length quantity at nPos (advanced past it, never beyond nEnd). Each byte
// gives its low 7 bits, most significant group first; bit 7 clear ends it.
inline int32_t ImageVarLen(const uint8_t *pImage, int64_t nEnd, int64_t &nPos) {
  int64_t nValue = 0;
  for (;;) {
    if (nPos >= nEnd || nPos < 0)
      break;
    const int32_t nByte = pImage ? pImage[nPos] : 0;
    ++nPos;
    nValue = nValue * 128 + (nByte & 0x7F);
    if (nValue > kVarLenMax)
      nValue = kVarLenMax;
    if (!(nByte & 0x80))
      break;
  }
  return static_cast<int32_t>(nValue);
}

// Does the image hold the four ASCII bytes of pszTag at nPos?
inline bool ImageHasTag(const uint8_t *pImage, int64_t nEnd, int64_t nPos, const char *pszTag) {
  for (int i = 0; i < 4; ++i)
    if (nPos + i >= nEnd || ImageByteAt(pImage, nEnd, nPos + i) != static_cast<uint8_t>(pszTag[i]))
      return false;
  return true;
}
