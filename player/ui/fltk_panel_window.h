// The main window on screen: a borderless FLTK window that shows the panel's
// pixels (imgWindow) and turns mouse, key, focus and drop events into the
// main window's calls.
#pragma once

#include <FL/Fl_Double_Window.H>

#include "platform/fltk_drop_files.h"

class FltkPanelWindow : public Fl_Double_Window {
public:
  FltkPanelWindow();
  int handle(int nEvent) override;
  void draw() override;
  FileDropTarget dropTarget;

private:
  static void OnClose(Fl_Widget *pWidget, void *pData);
  static void OnDropped(const char *szPath, void *pData);
};

// Fills MainWindowHooks and the playback hooks for pWindow.
void SetFltkWindowHooks(FltkPanelWindow *pWindow);
