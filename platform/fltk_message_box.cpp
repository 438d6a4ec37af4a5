#include "platform/fltk_message_box.h"

#include "platform/fltk_fonts.h"

#include <FL/Fl.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Widget.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <algorithm>

static constexpr Fl_Fontsize kBoxFontSize = 14;
static constexpr int kIconSize = 40;
static constexpr int kMargin = 14;
static constexpr int kButtonW = 80;
static constexpr int kButtonH = 26;

std::string MessageBoxLines(const char *szText) {
  std::string sOut;
  for (const char *p = szText ? szText : ""; *p; p++) {
    if (*p == '\r') {
      sOut += '\n';
      if (p[1] == '\n')
        p++;
    } else {
      sOut += *p;
    }
  }
  return sOut;
}

// The box's text, drawn without FLTK's '@' symbols so that any text shows as
// it stands.
class BoxText : public Fl_Widget {
public:
  BoxText(int x, int y, int w, int h, const std::string &sText)
      : Fl_Widget(x, y, w, h), sLines(sText) {}
  static void Measure(const std::string &sText, int &w, int &h) {
    fl_font(FltkGothicFont(), kBoxFontSize);
    w = 0;
    h = 0;
    fl_measure(sText.c_str(), w, h, 0);
  }
  void draw() override {
    fl_font(FltkGothicFont(), kBoxFontSize);
    fl_color(FL_FOREGROUND_COLOR);
    fl_draw(sLines.c_str(), x(), y(), w(), h(), FL_ALIGN_LEFT | FL_ALIGN_INSIDE, nullptr, 0);
  }

private:
  std::string sLines;
};

// The kind's sign: a red disc with a cross (stop), a yellow triangle with
// "!" (exclamation), a blue disc with "i" (information).
class BoxIcon : public Fl_Widget {
public:
  BoxIcon(int x, int y, MsgIcon icon) : Fl_Widget(x, y, kIconSize, kIconSize), kind(icon) {}
  void draw() override {
    int X = x(), Y = y(), S = kIconSize;
    fl_font(FL_HELVETICA_BOLD, S * 2 / 3);
    switch (kind) {
    case MsgIcon::Error:
      fl_color(fl_rgb_color(200, 30, 30));
      fl_pie(X, Y, S, S, 0, 360);
      fl_color(FL_WHITE);
      fl_line_style(FL_SOLID | FL_CAP_ROUND, S / 8);
      fl_line(X + S / 3, Y + S / 3, X + S - S / 3, Y + S - S / 3);
      fl_line(X + S - S / 3, Y + S / 3, X + S / 3, Y + S - S / 3);
      fl_line_style(0);
      break;
    case MsgIcon::Warning:
      fl_color(fl_rgb_color(240, 200, 20));
      fl_polygon(X + S / 2, Y, X + S, Y + S - 1, X, Y + S - 1);
      fl_color(FL_BLACK);
      fl_draw("!", X, Y + S / 5, S, S - S / 5, FL_ALIGN_CENTER, nullptr, 0);
      break;
    default: // information (X11 defines None, so it is not named here)
      fl_color(fl_rgb_color(40, 90, 200));
      fl_pie(X, Y, S, S, 0, 360);
      fl_color(FL_WHITE);
      fl_draw("i", X, Y, S, S, FL_ALIGN_CENTER, nullptr, 0);
      break;
    }
  }

private:
  MsgIcon kind;
};

static void CloseBox(Fl_Widget *pWidget, void *) {
  pWidget->window()->hide();
}

void FltkMessageSink::Show(void *owner, const char *text, const char *caption, MsgIcon icon) {
  std::string sLines = MessageBoxLines(text);
  int nTextW, nTextH;
  BoxText::Measure(sLines, nTextW, nTextH);
  int nBodyH = std::max(nTextH, kIconSize);
  int nW = std::max(kMargin * 3 + kIconSize + nTextW, kButtonW + 2 * kMargin);
  int nH = kMargin * 3 + nBodyH + kButtonH;

  Fl_Window box(nW, nH);
  box.copy_label(caption ? caption : "");
  new BoxIcon(kMargin, kMargin, icon);
  new BoxText(kMargin * 2 + kIconSize, kMargin, nTextW, nBodyH, sLines);
  Fl_Return_Button *pOk = new Fl_Return_Button(nW - kMargin - kButtonW, nH - kMargin - kButtonH,
                                               kButtonW, kButtonH, "OK");
  pOk->callback(CloseBox);
  box.end();
  box.callback(
      [](Fl_Widget *pWindow, void *) { pWindow->hide(); }); // the window manager's close, Esc
  box.set_modal();

  Fl_Window *pOwner = static_cast<Fl_Window *>(owner);
  if (pOwner && pOwner->shown())
    box.position(std::max(0, pOwner->x() + (pOwner->w() - nW) / 2),
                 std::max(0, pOwner->y() + (pOwner->h() - nH) / 2));
  else
    box.position(std::max(0, (Fl::w() - nW) / 2), std::max(0, (Fl::h() - nH) / 2));
  box.show();
  pOk->take_focus();
  while (box.shown())
    Fl::wait();
}
