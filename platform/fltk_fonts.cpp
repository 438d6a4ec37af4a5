#include "platform/fltk_fonts.h"

#include <FL/Fl.H>

Fl_Font FltkGothicFont() {
  static const Fl_Font kGothic = [] {
    Fl::set_font(FL_FREE_FONT, " IPAGothic"); // the blank asks for the regular face
    return FL_FREE_FONT;
  }();
  return kGothic;
}
