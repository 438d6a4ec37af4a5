#include "player/ui/skin_bitmap.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "player/ui/panel_state.h"

namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kInfoHeaderBytes = 40;
constexpr int64_t kMaxPixels = int64_t{1} << 22;   // larger pictures are refused, not allocated
constexpr size_t kMaxFileBytes = size_t{20} << 20; // enough for kMaxPixels at 32 bits

// Compression codes of the information header.
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiBitfields = 3;

uint32_t Le16(const uint8_t *p) {
  return p[0] | (uint32_t{p[1]} << 8);
}
uint32_t Le32(const uint8_t *p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// One colour channel of a bit-field pixel, scaled to 0..255.
struct FieldMask {
  uint32_t nMask = 0;
  int32_t nShift = 0;
  uint32_t nMax = 0; // the field's largest value

  explicit FieldMask(uint32_t nBits) : nMask(nBits) {
    if (!nBits)
      return;
    while (!((nBits >> nShift) & 1))
      ++nShift;
    nMax = nBits >> nShift;
  }
  uint32_t Extract(uint32_t v) const {
    return nMax ? static_cast<uint32_t>((uint64_t{(v & nMask) >> nShift} * 255 + nMax / 2) / nMax)
                : 0;
  }
};

// Expands run-length coded 8-bit rows (bottom-up) into palette colours;
// pixels the runs skip stay black. Returns 0 when the data ends early.
int32_t DecodeRle8(const uint8_t *p, const uint8_t *pEnd, const std::vector<uint32_t> &aPalette,
                   PanelImage &out) {
  auto Colour = [&aPalette](uint8_t n) { return n < aPalette.size() ? aPalette[n] : 0u; };
  int32_t x = 0, nRow = 0; // nRow counts from the bottom
  auto Put = [&](uint8_t n) {
    if (x < out.nWidth && nRow < out.nHeight)
      out.At(x, out.nHeight - 1 - nRow) = Colour(n);
    ++x;
  };
  while (pEnd - p >= 2) {
    const uint8_t nCount = p[0], nValue = p[1];
    p += 2;
    if (nCount) {
      for (int32_t i = 0; i < nCount; ++i)
        Put(nValue);
    } else if (nValue == 0) { // end of line
      x = 0;
      ++nRow;
    } else if (nValue == 1) { // end of picture
      return 1;
    } else if (nValue == 2) { // skip right and up
      if (pEnd - p < 2)
        return 0;
      x += p[0];
      nRow += p[1];
      p += 2;
    } else { // nValue literal indices, padded to an even count
      const int32_t nPadded = (nValue + 1) & ~1;
      if (pEnd - p < nPadded)
        return 0;
      for (int32_t i = 0; i < nValue; ++i)
        Put(p[i]);
      p += nPadded;
    }
    if (nRow >= out.nHeight)
      return 1;
  }
  return 0;
}

} // namespace

int32_t DecodeBmp(const uint8_t *pData, size_t nSize, PanelImage &img) {
  if (nSize < kFileHeaderBytes + 12 || pData[0] != 'B' || pData[1] != 'M')
    return 0;
  const uint32_t nOffBits = Le32(pData + 10);
  const uint8_t *pInfo = pData + kFileHeaderBytes;
  const uint32_t nInfoBytes = Le32(pInfo);
  int64_t nWidth = 0, nHeight = 0;
  uint32_t nBits = 0, nCompression = kBiRgb, nColoursUsed = 0, nPaletteEntryBytes = 4;
  if (nInfoBytes == 12) { // OS/2 core header: 16-bit sizes, 3-byte palette entries
    nWidth = Le16(pInfo + 4);
    nHeight = Le16(pInfo + 6);
    nBits = Le16(pInfo + 10);
    nPaletteEntryBytes = 3;
  } else if (nInfoBytes >= kInfoHeaderBytes && nInfoBytes <= 1024 &&
             nSize >= kFileHeaderBytes + kInfoHeaderBytes) {
    nWidth = static_cast<int32_t>(Le32(pInfo + 4));
    nHeight = static_cast<int32_t>(Le32(pInfo + 8));
    nBits = Le16(pInfo + 14);
    nCompression = Le32(pInfo + 16);
    nColoursUsed = Le32(pInfo + 32);
  } else {
    return 0;
  }
  const bool bTopDown = nHeight < 0;
  if (bTopDown)
    nHeight = -nHeight;
  if (nWidth <= 0 || nHeight <= 0 || nWidth * nHeight > kMaxPixels)
    return 0;
  const bool bMasks = nCompression == kBiBitfields && (nBits == 16 || nBits == 32);
  const bool bRle8 = nCompression == kBiRle8 && nBits == 8 && !bTopDown;
  if (nCompression != kBiRgb && !bMasks && !bRle8)
    return 0;
  if (nBits != 1 && nBits != 4 && nBits != 8 && nBits != 16 && nBits != 24 && nBits != 32)
    return 0;

  // Palette of the indexed formats, right after the information header.
  std::vector<uint32_t> aPalette;
  const size_t nPaletteAt = kFileHeaderBytes + nInfoBytes;
  if (nBits <= 8) {
    size_t nEntries = nColoursUsed ? nColoursUsed : size_t{1} << nBits;
    nEntries = std::min(nEntries, size_t{1} << nBits);
    if (nPaletteAt + nEntries * nPaletteEntryBytes > nSize)
      return 0;
    for (size_t i = 0; i < nEntries; ++i) {
      const uint8_t *p = pData + nPaletteAt + i * nPaletteEntryBytes;
      aPalette.push_back(PanelRgb(p[2], p[1], p[0]));
    }
  }
  // Bit-field masks follow a 40-byte header; larger headers hold them in place.
  uint32_t anMask[3] = {0x7C00, 0x03E0, 0x001F};
  if (nBits == 32)
    anMask[0] = 0xFF0000, anMask[1] = 0xFF00, anMask[2] = 0xFF;
  if (bMasks) {
    if (kFileHeaderBytes + kInfoHeaderBytes + 12 > nSize)
      return 0;
    for (int32_t i = 0; i < 3; ++i)
      anMask[i] = Le32(pData + kFileHeaderBytes + kInfoHeaderBytes + 4 * i);
  }
  const FieldMask red(anMask[0]), green(anMask[1]), blue(anMask[2]);

  if (nOffBits > nSize)
    return 0;
  PanelImage out;
  ResizeImage(out, static_cast<int32_t>(nWidth), static_cast<int32_t>(nHeight), 0);
  if (bRle8) {
    if (!DecodeRle8(pData + nOffBits, pData + nSize, aPalette, out))
      return 0;
    img = std::move(out);
    return 1;
  }
  const size_t nStride = static_cast<size_t>((nWidth * nBits + 31) / 32 * 4);
  if ((nSize - nOffBits) / nStride < static_cast<size_t>(nHeight))
    return 0;
  for (int32_t y = 0; y < out.nHeight; ++y) {
    const int32_t nRow = bTopDown ? y : out.nHeight - 1 - y;
    const uint8_t *pRow = pData + nOffBits + static_cast<size_t>(nRow) * nStride;
    for (int32_t x = 0; x < out.nWidth; ++x) {
      uint32_t cr = 0;
      if (nBits <= 8) {
        const int32_t nBit = x * static_cast<int32_t>(nBits);
        const uint32_t nIndex =
            (pRow[nBit / 8] >> (8 - static_cast<int32_t>(nBits) - nBit % 8)) & ((1u << nBits) - 1);
        cr = nIndex < aPalette.size() ? aPalette[nIndex] : 0;
      } else if (nBits == 24) {
        const uint8_t *p = pRow + 3 * x;
        cr = PanelRgb(p[2], p[1], p[0]);
      } else {
        const uint32_t v = nBits == 16 ? Le16(pRow + 2 * x) : Le32(pRow + 4 * x);
        cr = PanelRgb(red.Extract(v), green.Extract(v), blue.Extract(v));
      }
      out.At(x, y) = cr;
    }
  }
  img = std::move(out);
  return 1;
}

int32_t LoadSkinBitmap(const char *szPath, PanelImage &img, int32_t bReadColours) {
  FILE *pFile = std::fopen(szPath, "rb");
  if (!pFile)
    return 0;
  std::vector<uint8_t> aBytes(kFileHeaderBytes + kInfoHeaderBytes);
  if (std::fread(aBytes.data(), 1, aBytes.size(), pFile) != aBytes.size()) {
    std::fclose(pFile);
    return 0;
  }
  uint8_t abChunk[65536];
  for (size_t n;
       aBytes.size() < kMaxFileBytes && (n = std::fread(abChunk, 1, sizeof abChunk, pFile)) > 0;)
    aBytes.insert(aBytes.end(), abChunk, abChunk + n);
  std::fclose(pFile);

  if (!DecodeBmp(aBytes.data(), aBytes.size(), img))
    img = PanelImage{}; // headers read but no picture: the element stays blank
  if (bReadColours) {
    const int32_t nHeaderHeight = static_cast<int32_t>(Le32(aBytes.data() + kFileHeaderBytes + 8));
    auto Pixel = [&img](int32_t x, int32_t y) {
      return x < img.nWidth && y < img.nHeight ? img.At(x, y) : 0;
    };
    if (nHeaderHeight >= 121)
      crText = Pixel(0, 120);
    if (nHeaderHeight >= 122) {
      crGraphSwitch = Pixel(0, 121);
      crGraphSource = Pixel(1, 121);
      crGraphBack = Pixel(2, 121);
      crGraphDot = Pixel(3, 121);
    }
  }
  return 1;
}
