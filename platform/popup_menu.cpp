#include "platform/popup_menu.h"

void PopupMenu::Append(int32_t nId, const char *szLabel) {
  aItems.push_back(PopupItem{nId, szLabel ? szLabel : "", 0});
}

int32_t PopupMenu::SetGrayed(int32_t nId, int32_t bGrayed) {
  for (PopupItem &item : aItems)
    if (item.nId == nId) {
      item.bGrayed = bGrayed ? 1 : 0;
      return 1;
    }
  return 0;
}

void PopupMenu::Clear() {
  aItems.clear();
}

int32_t PresetPopupMenu::Track(void *, int32_t nScreenX, int32_t nScreenY) {
  nShown++;
  nLastX = nScreenX;
  nLastY = nScreenY;
  for (const PopupItem &item : aItems)
    if (item.nId == nChoice)
      return item.bGrayed ? 0 : item.nId;
  return 0;
}
