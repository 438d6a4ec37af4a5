// Panel text set with FLTK: IPA Mincho and IPA Gothic stand in for the
// panel's two Japanese fonts. Each text is drawn white on black into an
// off-screen pixmap and its coverage blended into the panel in the colour
// asked for, so the panel's own pixel buffers stay the only picture.
#pragma once

#include "player/ui/panel_text.h"

class FltkPanelText : public PanelText {
public:
  void DrawText(PanelImage &img, const char *szText, int32_t nLeft, int32_t nTop, int32_t nRight,
                int32_t nBottom, int32_t nFont, uint32_t cr, int32_t bAlignRight) override;
};
