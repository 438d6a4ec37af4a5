// Text on the panel needs a font renderer, which only the window toolkit has;
// the panel draws its text through this interface.
#pragma once

#include <cstdint>

#include "player/ui/panel_image.h"

// The panel's two fonts.
enum : int32_t {
  kFontMincho = 1, // "ＭＳ 明朝", 13 px: the screen read-out
  kFontGothic = 2, // "ＭＳ ゴシック", 10 px: slot names
};

class PanelText {
public:
  virtual ~PanelText() = default;
  // Draws UTF-8 szText into the box [nLeft, nRight) x [nTop, nBottom) of img,
  // clipped to it, on a transparent background in colour cr, breaking lines
  // between words; right-aligned when bAlignRight, else left-aligned.
  virtual void DrawText(PanelImage &img, const char *szText, int32_t nLeft, int32_t nTop,
                        int32_t nRight, int32_t nBottom, int32_t nFont, uint32_t cr,
                        int32_t bAlignRight) = 0;
};

// The renderer the panel uses; null draws no text.
extern PanelText *pPanelText;
