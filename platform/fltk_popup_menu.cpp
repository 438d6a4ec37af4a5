#include "platform/fltk_popup_menu.h"

#include "platform/fltk_fonts.h"

#include <FL/Fl.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/fl_draw.H>
#include <cstdint>
#include <string>
#include <vector>

// A label type that draws without FLTK's '@' symbols: unit names may hold
// '@'. Menus still read '&' as a shortcut mark, so labels double it.
static constexpr Fl_Labeltype kPlainLabel = FL_FREE_LABELTYPE;

static void DrawPlainLabel(const Fl_Label *pLabel, int x, int y, int w, int h, Fl_Align align) {
  fl_font(pLabel->font, pLabel->size);
  fl_color(pLabel->color);
  fl_draw(pLabel->value, x, y, w, h, align, nullptr, 0);
}

static void MeasurePlainLabel(const Fl_Label *pLabel, int &w, int &h) {
  fl_font(pLabel->font, pLabel->size);
  w = 0;
  h = 0;
  fl_measure(pLabel->value, w, h, 0);
}

int32_t FltkPopupMenu::Track(void *, int32_t nScreenX, int32_t nScreenY) {
  static bool bLabelSet = false;
  if (!bLabelSet) {
    Fl::set_labeltype(kPlainLabel, DrawPlainLabel, MeasurePlainLabel);
    bLabelSet = true;
  }
  if (aItems.empty())
    return 0;
  if (!Fl::first_window())
    return 0; // the menu grabs the pointer through a shown window
  std::vector<std::string> aLabels;
  for (const PopupItem &item : aItems) {
    std::string sLabel;
    for (char c : item.sLabel)
      sLabel += c == '&' ? std::string("&&") : std::string(1, c);
    aLabels.push_back(sLabel);
  }
  std::vector<Fl_Menu_Item> aMenu(aItems.size() + 1, Fl_Menu_Item{});
  for (size_t i = 0; i < aItems.size(); i++) {
    Fl_Menu_Item &m = aMenu[i];
    m.text = aLabels[i].c_str();
    m.user_data_ = reinterpret_cast<void *>(static_cast<intptr_t>(aItems[i].nId));
    m.flags = aItems[i].bGrayed ? FL_MENU_INACTIVE : 0;
    m.labeltype_ = kPlainLabel;
    m.labelfont_ = FltkGothicFont();
    m.labelsize_ = FL_NORMAL_SIZE;
    m.labelcolor_ = FL_FOREGROUND_COLOR;
  }
  // popup() places the menu relative to the window of the current event.
  int nX = nScreenX - (Fl::event_x_root() - Fl::event_x());
  int nY = nScreenY - (Fl::event_y_root() - Fl::event_y());
  const Fl_Menu_Item *pChosen = aMenu[0].popup(nX, nY);
  if (!pChosen || !pChosen->active())
    return 0;
  return static_cast<int32_t>(reinterpret_cast<intptr_t>(pChosen->user_data()));
}
