// The dialogs on a display: the message box is a modal window titled with
// its caption; the popup menu answers the chosen item's id and skips greyed
// items; the file dialog lets the loop's messages through while it is open.
#include "platform/fltk_event_loop.h"
#include "platform/fltk_file_dialog.h"
#include "platform/fltk_message_box.h"
#include "platform/fltk_popup_menu.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FltkMessageSink, ShowsAModalBoxTitledWithTheCaption) {
  static std::string sTitle;
  static int bModal;
  sTitle.clear();
  bModal = 0;
  Fl::add_timeout(0.2, [](void *) {
    Fl_Window *pBox = Fl::first_window();
    if (!pBox)
      return;
    sTitle = pBox->label() ? pBox->label() : "";
    bModal = pBox->modal() ? 1 : 0;
    pBox->hide();
  });
  FltkMessageSink sink;
  sink.Show(nullptr, "必要なメモリを確保できませんでした", "PCMバッファ障害", MsgIcon::Error);
  EXPECT_EQ(sTitle, "PCMバッファ障害");
  EXPECT_EQ(bModal, 1);
}

// Keys as the menu gets them from the window system.
void PressKey(int nKey) {
  Fl::e_keysym = nKey;
  Fl::handle(FL_KEYBOARD, Fl::first_window());
}

TEST(FltkPopupMenu, AnswersTheChosenIdAndSkipsGreyedItems) {
  FltkPopupMenu menu;
  menu.Append(1000, "vokraunit");
  menu.Append(1001, "in a slot");
  menu.Append(1002, "other");
  menu.SetGrayed(1001, 1);
  Fl_Window owner(40, 30);
  owner.end();
  owner.show();
  Fl::add_timeout(0.2, [](void *) {
    PressKey(FL_Down); // the first item
    PressKey(FL_Down); // over the greyed one
    PressKey(FL_Enter);
  });
  EXPECT_EQ(menu.Track(&owner, 20, 20), 1002);
  Fl::add_timeout(0.2, [](void *) { PressKey(FL_Escape); });
  EXPECT_EQ(menu.Track(&owner, 20, 20), 0);
  owner.hide();
}

// A song goes on playing while the user looks for the next one: the open
// dialog's wait dispatches the output's messages.
TEST(FltkFileDialog, LetsTheLoopsMessagesThroughWhileOpen) {
  FltkEventLoop loop;
  EventLoop *pPreviousLoop = SetEventLoop(&loop);
  static int32_t nSeen;
  nSeen = 0;
  PfnMessageHandler pfnPrevious = SetMessageHandler([](uint32_t, uintptr_t, intptr_t) -> int32_t {
    nSeen++;
    return 0;
  });
  Fl_Window owner(40, 30);
  owner.end();
  owner.show();
  Fl::add_timeout(0.3, [](void *) { PostLoopMessage(kWmUser, 0, 0); });
  Fl::add_timeout(0.8, [](void *) { PressKey(FL_Escape); });
  FltkFileDialog dialog;
  std::string sPath;
  EXPECT_EQ(dialog.Choose(&owner, kOpenMidiRequest, sPath), 0);
  EXPECT_EQ(nSeen, 1);
  owner.hide();
  SetMessageHandler(pfnPrevious);
  SetEventLoop(pPreviousLoop);
}

} // namespace
