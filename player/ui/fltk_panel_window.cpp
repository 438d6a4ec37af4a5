#include "player/ui/fltk_panel_window.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <unistd.h>

#include <vector>

#include "platform/event_loop.h"
#include "player/state/engine_hooks.h"
#include "player/ui/main_window.h"
#include "player/ui/panel_paint.h"

namespace {

FltkPanelWindow *pMain = nullptr;

void HookDestroy() {
  MainWindowDestroy();
  if (pMain)
    pMain->hide();
}

void HookRepaint() {
  if (pMain)
    pMain->redraw();
}

void HookSetRect(int32_t x, int32_t y, int32_t w, int32_t h) {
  if (pMain)
    pMain->resize(x, y, w, h);
}

void HookGetPos(int32_t *px, int32_t *py) {
  *px = pMain ? pMain->x() : 0;
  *py = pMain ? pMain->y() : 0;
}

void HookDesktop(int32_t *pRight, int32_t *pBottom) {
  fl_open_display();
  *pRight = Fl::x() + Fl::w();
  *pBottom = Fl::y() + Fl::h();
}

void HookRaise() {
  if (pMain)
    pMain->show(); // raises a shown window
}

void HookSleepMs(int32_t nMs) {
  Fl::flush(); // the slide's frame is on screen before the pause
  usleep(static_cast<useconds_t>(nMs) * 1000);
}

void HookDragAccept(void *, int32_t bAccept) {
  if (pMain)
    pMain->dropTarget.Accept(bAccept);
}

void HookInvalidate(void *) {
  PaintPanel();
  HookRepaint();
}

} // namespace

FltkPanelWindow::FltkPanelWindow()
    : Fl_Double_Window(kPanelWidth, kPanelHeight, "Torqa"), dropTarget(OnDropped, this) {
  border(0);
  color(fl_rgb_color(100, 100, 100));
  callback(OnClose, this);
  end();
}

void FltkPanelWindow::OnClose(Fl_Widget *, void *) {
  // Escape is the help screen's key, never a close.
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape)
    return;
  PostLoopMessage(kWmCommand, 109, 0);
}

void FltkPanelWindow::OnDropped(const char *szPath, void *) {
  OnFileDropped(szPath);
}

int FltkPanelWindow::handle(int nEvent) {
  if (dropTarget.Handle(nEvent))
    return 1;
  const int32_t x = Fl::event_x(), y = Fl::event_y();
  const int32_t sx = Fl::event_x_root(), sy = Fl::event_y_root();
  switch (nEvent) {
  case FL_PUSH:
    if (Fl::event_button() == FL_LEFT_MOUSE)
      OnLeftDown(x, y, sx, sy);
    else if (Fl::event_button() == FL_RIGHT_MOUSE)
      OnRightDown(x, y, sx, sy);
    return 1;
  case FL_DRAG:
  case FL_MOVE:
    OnMouseMove(sx, sy);
    return 1;
  case FL_RELEASE:
    if (Fl::event_button() == FL_LEFT_MOUSE)
      OnLeftUp(x, y);
    else if (Fl::event_button() == FL_RIGHT_MOUSE)
      OnRightUp(Fl::event_state(FL_SHIFT) ? 1 : 0);
    return 1;
  case FL_ENTER:
  case FL_LEAVE:
    return 1;
  case FL_FOCUS:
  case FL_UNFOCUS:
    OnFocus(nEvent == FL_FOCUS);
    return 1;
  case FL_KEYDOWN:
    switch (Fl::event_key()) {
    case FL_Left:
      OnKeyDown(PanelKey::Left);
      return 1;
    case FL_Right:
      OnKeyDown(PanelKey::Right);
      return 1;
    case FL_Up:
      OnKeyDown(PanelKey::Up);
      return 1;
    case FL_Down:
      OnKeyDown(PanelKey::Down);
      return 1;
    case FL_Escape:
      OnKeyDown(PanelKey::Escape);
      return 1;
    default:
      return 0;
    }
  default:
    return Fl_Double_Window::handle(nEvent);
  }
}

void FltkPanelWindow::draw() {
  if (imgWindow.nWidth != kPanelWidth || imgWindow.nHeight != kPanelHeight) {
    Fl_Double_Window::draw();
    return;
  }
  std::vector<unsigned char> aRgb(static_cast<size_t>(kPanelWidth) * kPanelHeight * 3);
  for (size_t n = 0; n < imgWindow.aPixel.size(); ++n) {
    const uint32_t px = imgWindow.aPixel[n];
    aRgb[n * 3] = static_cast<unsigned char>(px >> 16);
    aRgb[n * 3 + 1] = static_cast<unsigned char>(px >> 8);
    aRgb[n * 3 + 2] = static_cast<unsigned char>(px);
  }
  fl_draw_image(aRgb.data(), 0, 0, kPanelWidth, kPanelHeight, 3);
}

void SetFltkWindowHooks(FltkPanelWindow *pWindow) {
  pMain = pWindow;
  WindowHooks = {HookDestroy, HookRepaint, HookSetRect, HookGetPos,
                 HookDesktop, HookRaise,   HookSleepMs};
  Hooks.pfnDragAcceptFiles = HookDragAccept;
  Hooks.pfnInvalidate = HookInvalidate;
}
