// The main window's procedure without a display: the close rule, placement,
// the lamp and the unit menu's slot button.
#include <gtest/gtest.h>

#include "platform/event_loop.h"
#include "platform/popup_menu.h"
#include "player/render/wav_recorder.h"
#include "player/song/routing.h"
#include "player/state/engine_state.h"
#include "player/ui/hit_test.h"
#include "player/ui/main_window.h"
#include "player/ui/panel_state.h"
#include "player/units/unit_host.h"

namespace {

int32_t nDestroyed = 0;
int32_t nRepaints = 0;
int32_t anRect[4];
int32_t nClosesInSysSig = 0;

void CountDestroy() {
  ++nDestroyed;
}
void CountRepaint() {
  ++nRepaints;
}
void KeepRect(int32_t x, int32_t y, int32_t w, int32_t h) {
  anRect[0] = x, anRect[1] = y, anRect[2] = w, anRect[3] = h;
}
void Desktop640x480(int32_t *pRight, int32_t *pBottom) {
  *pRight = 640;
  *pBottom = 480;
}

// A unit whose dialog asks the program to close while it is open.
intptr_t SysSigThatCloses(UnitWindow, int32_t) {
  MainWindowProc(kWmCommand, 109, 0);
  nClosesInSysSig += nDestroyed;
  return 0;
}

class MainWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    nDestroyed = nRepaints = nClosesInSysSig = 0;
    WindowHooks = {};
    WindowHooks.pfnDestroy = CountDestroy;
    WindowHooks.pfnRepaint = CountRepaint;
    WindowHooks.pfnSetRect = KeepRect;
    WindowHooks.pfnDesktop = Desktop640x480;
    ResetPanelState();
  }
  void TearDown() override {
    WindowHooks = {};
    bRecording = 0;
    nBusyDepth = 0;
    while (PumpOneMessage()) {
    }
  }
};

TEST_F(MainWindowTest, CloseIsRefusedWhileRecordingAndTakenAfter) {
  bRecording = 1;
  MainWindowProc(kWmCommand, 109, 0);
  EXPECT_EQ(nDestroyed, 0);
  bRecording = 0;
  MainWindowProc(kWmCommand, 109, 0);
  EXPECT_EQ(nDestroyed, 1);
}

TEST_F(MainWindowTest, CloseFromInsideAUnitDialogDoesNotUnbindTheUnit) {
  UnitSlot &slot = aUnitSlots[3];
  int32_t nFakeModule = 0;
  slot.hModule = &nFakeModule;
  slot.pfnSysSig = SysSigThatCloses;
  RunElementAction(ElementCode(3, kElemSlotBtn2));
  EXPECT_EQ(nClosesInSysSig, 0);
  EXPECT_EQ(slot.hModule, &nFakeModule);
  EXPECT_EQ(nBusyDepth, 0);
  slot.hModule = nullptr;
  slot.pfnSysSig = nullptr;
}

TEST_F(MainWindowTest, PlacementIsPulledInsideTheDesktopButNotFromNegative) {
  bSizeGeometry = 1;
  PlaceWindow(600, 300);
  EXPECT_EQ(anRect[0], 440);
  EXPECT_EQ(anRect[1], 200);
  EXPECT_EQ(anRect[2], 200);
  EXPECT_EQ(anRect[3], 280);
  bSizeGeometry = 4;
  PlaceWindow(-20, -5);
  EXPECT_EQ(anRect[0], -20);
  EXPECT_EQ(anRect[1], -5);
  EXPECT_EQ(anRect[2], 63);
  EXPECT_EQ(anRect[3], 80);
  bSizeGeometry = 1;
}

TEST_F(MainWindowTest, ChannelLampClickTogglesMuteOnlyWhenReleasedOnIt) {
  aChannels[2].bMute = 0;
  OnLeftDown(62 + 16 + 3, 4, 81, 4); // lamp of channel 2
  OnLeftUp(62 + 24 + 3, 4);          // released on channel 3's
  EXPECT_EQ(aChannels[2].bMute, 0);
  EXPECT_EQ(aChannels[3].bMute, 0);
  OnLeftDown(62 + 16 + 3, 4, 81, 4);
  OnLeftUp(62 + 16 + 3, 4);
  EXPECT_EQ(aChannels[2].bMute, 1);
  aChannels[2].bMute = 0;
}

TEST_F(MainWindowTest, DismissedUnitMenuLeavesEmptySlotButRepaints) {
  PresetPopupMenu menu;
  pUnitMenu = &menu;
  nUnitCount = 1;
  snprintf(aUnitEntries[0].szPath, sizeof aUnitEntries[0].szPath, "/nowhere/u.so");
  aUnitEntries[0].nSlot = -1;
  aUnitMenu[0] = {kUnitMenuBase, 1};
  menu.nChoice = 0;
  RunElementAction(ElementCode(5, kElemSlotBtn1));
  EXPECT_EQ(menu.nShown, 1);
  EXPECT_EQ(aUnitSlots[5].szPath[0], '\0');
  EXPECT_EQ(aUnitEntries[0].nSlot, -1);
  EXPECT_GT(nRepaints, 0);
  nUnitCount = 0;
  pUnitMenu = nullptr;
}

} // namespace
