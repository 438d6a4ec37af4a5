// The popup menu as an FLTK menu at the cursor.
#pragma once

#include "platform/popup_menu.h"

class FltkPopupMenu : public PopupMenu {
public:
  // nScreenX/Y are screen coordinates (the window's position plus the point
  // in it). Labels show as they stand: no shortcut underline, no symbols.
  int32_t Track(void *owner, int32_t nScreenX, int32_t nScreenY) override;
};
