#include "platform/fltk_fonts.h"

#include <FL/Fl.H>

namespace {

// The leading blank asks for the regular face. Registering twice (the
// player and a unit's window library each call these) sets the same name.
Fl_Font Register(int nSlot, const char *pszName) {
  const Fl_Font f = static_cast<Fl_Font>(FL_FREE_FONT + nSlot);
  Fl::set_font(f, pszName);
  return f;
}

} // namespace

Fl_Font FltkGothicFont() {
  static const Fl_Font kFont = Register(0, " IPAGothic");
  return kFont;
}

Fl_Font FltkPGothicFont() {
  static const Fl_Font kFont = Register(1, " IPAPGothic");
  return kFont;
}

Fl_Font FltkMinchoFont() {
  static const Fl_Font kFont = Register(2, " IPAMincho");
  return kFont;
}
