#include "player/ui/fltk_panel_text.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <vector>

#include "platform/fltk_fonts.h"

namespace {

uint32_t Blend(uint32_t crBack, uint32_t crFore, uint32_t a) {
  uint32_t out = 0;
  for (int nShift = 0; nShift <= 16; nShift += 8) {
    const uint32_t b = (crBack >> nShift) & 0xFF;
    const uint32_t f = (crFore >> nShift) & 0xFF;
    out |= ((b * (255 - a) + f * a) / 255) << nShift;
  }
  return out;
}

} // namespace

void FltkPanelText::DrawText(PanelImage &img, const char *szText, int32_t nLeft, int32_t nTop,
                             int32_t nRight, int32_t nBottom, int32_t nFont, uint32_t cr,
                             int32_t bAlignRight) {
  const int32_t w = nRight - nLeft;
  const int32_t h = nBottom - nTop;
  if (!szText || !szText[0] || w <= 0 || h <= 0 || img.nWidth == 0)
    return;
  fl_open_display();
  Fl_Offscreen off = fl_create_offscreen(w, h);
  if (!off)
    return;
  std::vector<unsigned char> aCover(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
  fl_begin_offscreen(off);
  fl_color(FL_BLACK);
  fl_rectf(0, 0, w, h);
  fl_color(FL_WHITE);
  if (nFont == kFontMincho)
    fl_font(FltkMinchoFont(), 13);
  else
    fl_font(FltkGothicFont(), 10);
  const Fl_Align align = FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP | FL_ALIGN_CLIP |
                         (bAlignRight ? FL_ALIGN_RIGHT : FL_ALIGN_LEFT);
  fl_draw(szText, 0, 0, w, h, align, nullptr, 0);
  fl_read_image(aCover.data(), 0, 0, w, h);
  fl_end_offscreen();
  fl_delete_offscreen(off);
  for (int32_t y = 0; y < h; ++y) {
    const int32_t iy = nTop + y;
    if (iy < 0 || iy >= img.nHeight)
      continue;
    for (int32_t x = 0; x < w; ++x) {
      const int32_t ix = nLeft + x;
      if (ix < 0 || ix >= img.nWidth)
        continue;
      const unsigned char *p = &aCover[(static_cast<size_t>(y) * w + x) * 3];
      const uint32_t a = std::max({p[0], p[1], p[2]});
      if (a)
        img.At(ix, iy) = Blend(img.At(ix, iy), cr, a);
    }
  }
}
