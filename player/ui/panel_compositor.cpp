#include "player/ui/panel_compositor.h"

#include <algorithm>

void ResizeImage(PanelImage &img, int32_t nWidth, int32_t nHeight, uint32_t crFill) {
  img.nWidth = nWidth;
  img.nHeight = nHeight;
  img.aPixel.assign(static_cast<size_t>(nWidth) * static_cast<size_t>(nHeight), crFill);
}

namespace {

// A box of w x h at (dx, dy) in an image of dw x dh fed from (sx, sy) of an
// image of sw x sh, cut down to what lies inside both. Returns 0 when empty.
int32_t ClipBox(int32_t dw, int32_t dh, int32_t &dx, int32_t &dy, int32_t sw, int32_t sh,
                int32_t &sx, int32_t &sy, int32_t &w, int32_t &h) {
  const int32_t nCutLeft = std::max({0, -dx, -sx});
  const int32_t nCutTop = std::max({0, -dy, -sy});
  dx += nCutLeft;
  sx += nCutLeft;
  w -= nCutLeft;
  dy += nCutTop;
  sy += nCutTop;
  h -= nCutTop;
  w = std::min({w, dw - dx, sw - sx});
  h = std::min({h, dh - dy, sh - sy});
  return w > 0 && h > 0;
}

int32_t Channel(uint32_t p, int32_t nShift) {
  return static_cast<int32_t>((p >> nShift) & 0xFF);
}

} // namespace

void CopyCell(PanelImage &dst, int32_t dx, int32_t dy, const PanelImage &src, int32_t sx,
              int32_t sy, int32_t w, int32_t h) {
  if (!ClipBox(dst.nWidth, dst.nHeight, dx, dy, src.nWidth, src.nHeight, sx, sy, w, h))
    return;
  for (int32_t r = 0; r < h; ++r)
    std::copy_n(&src.At(sx, sy + r), w, &dst.At(dx, dy + r));
}

void FillBox(PanelImage &img, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t crFill) {
  int32_t sx = 0, sy = 0;
  if (!ClipBox(img.nWidth, img.nHeight, x, y, img.nWidth, img.nHeight, sx, sy, w, h))
    return;
  for (int32_t r = 0; r < h; ++r)
    std::fill_n(&img.At(x, y + r), w, crFill);
}

void SetPanelPixel(PanelImage &img, int32_t x, int32_t y, uint32_t cr) {
  if (x >= 0 && y >= 0 && x < img.nWidth && y < img.nHeight)
    img.At(x, y) = cr;
}

void ShadeBox(PanelImage &img, int32_t w, int32_t h) {
  const int32_t x0 = std::max(0, img.nWidth - w);
  const int32_t y0 = std::max(0, img.nHeight - h);
  for (int32_t y = y0; y < img.nHeight; ++y)
    for (int32_t x = x0; x < img.nWidth; ++x) {
      uint32_t &p = img.At(x, y);
      p = ((p >> 1) & 0x7F7F7F) + 0x80;
    }
}

void ScaleBox(PanelImage &img, int32_t nPercent, uint32_t crAdd, int32_t x, int32_t y, int32_t w,
              int32_t h) {
  int32_t sx = 0, sy = 0;
  if (!ClipBox(img.nWidth, img.nHeight, x, y, img.nWidth, img.nHeight, sx, sy, w, h))
    return;
  for (int32_t r = 0; r < h; ++r)
    for (int32_t c = 0; c < w; ++c) {
      uint32_t &p = img.At(x + c, y + r);
      uint32_t q = 0;
      for (int32_t nShift = 16; nShift >= 0; nShift -= 8) {
        const int32_t v = Channel(p, nShift) * nPercent / 100 + Channel(crAdd, nShift);
        q |= static_cast<uint32_t>(std::clamp(v, 0, 255)) << nShift;
      }
      p = q;
    }
}

void BlendBox(PanelImage &dst, const PanelImage &src, int32_t nAlpha, int32_t dx, int32_t dy,
              int32_t sx, int32_t sy, int32_t w, int32_t h) {
  if (!ClipBox(dst.nWidth, dst.nHeight, dx, dy, src.nWidth, src.nHeight, sx, sy, w, h))
    return;
  for (int32_t r = 0; r < h; ++r)
    for (int32_t c = 0; c < w; ++c) {
      uint32_t &p = dst.At(dx + c, dy + r);
      const uint32_t s = src.At(sx + c, sy + r);
      uint32_t q = 0;
      for (int32_t nShift = 16; nShift >= 0; nShift -= 8) {
        const int32_t d = Channel(p, nShift);
        const int32_t v = d - (d - Channel(s, nShift)) * nAlpha / 100;
        q |= static_cast<uint32_t>(std::clamp(v, 0, 255)) << nShift;
      }
      p = q;
    }
}
