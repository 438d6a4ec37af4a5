// Presses, releases, drags and keys of the panel, without a window.
#include <gtest/gtest.h>

#include "player/song/sequencer.h"
#include "player/state/engine_state.h"
#include "player/ui/hit_test.h"
#include "player/ui/panel_input.h"
#include "player/ui/panel_state.h"

namespace {

// The window's top-left on the screen; client point (x, y) is at (kWx + x, kWy + y).
constexpr int32_t kWx = 300;
constexpr int32_t kWy = 200;

class PanelInput : public ::testing::Test {
protected:
  void SetUp() override {
    ResetPanelState();
    bPlaying = 0;
    nTickStep = 256;
    nOutVolume = 127;
    nStartMeasure = 0;
  }
  PanelEffect Down(int32_t x, int32_t y, uint32_t nBound = 0) {
    return PanelLeftDown(x, y, kWx + x, kWy + y, kWx, kWy, nBound);
  }
  PanelEffect Move(int32_t x, int32_t y) { return PanelMouseMove(kWx + x, kWy + y); }
};

TEST_F(PanelInput, ReleaseOverThePressedElementActs) {
  Down(70, 5); // lamp 1
  EXPECT_EQ(PanelLeftUp(77, 70).nAction, ElementCode(1, kElemLamp));
}

TEST_F(PanelInput, ReleaseAwayFromThePressedElementDoesNothing) {
  Down(21, 90);                              // button 1
  EXPECT_EQ(PanelLeftUp(42, 90).nAction, 0); // button 2
  EXPECT_EQ(nPressedCode, 0);
  Down(24, 110);                              // slot 0, first small button
  EXPECT_EQ(PanelLeftUp(24, 130).nAction, 0); // same kind, slot 1
}

TEST_F(PanelInput, OnAnEmptySlotOnlyTheFirstSmallButtonIsPressed) {
  EXPECT_TRUE(Down(24, 110).bCapture && bButtonHeld);
  PanelLeftUp(0, 0);
  EXPECT_FALSE(Down(54, 110).bCapture || bButtonHeld);
  EXPECT_TRUE(Down(54, 130, 1u << 1).bCapture && bButtonHeld);
}

TEST_F(PanelInput, ShiftRightClickOnSizeOneGoesToSizeFour) {
  const PanelEffect e = PanelRightUp(1);
  ASSERT_EQ(e.nCommand, 172);
  int32_t w = 0, h = 0;
  PanelSize(PrevSizeMode(1), &w, &h);
  EXPECT_EQ(PrevSizeMode(1), 4);
  EXPECT_EQ(w, 63);
  EXPECT_EQ(h, 80);
  EXPECT_EQ(PanelRightUp(0).nCommand, 171);
  EXPECT_EQ(NextSizeMode(4), 1);
}

TEST_F(PanelInput, SpeedDragFortyPixelsRightIsTimesFourUntilRelease) {
  Down(170, 90);
  Move(210, 95);
  EXPECT_EQ(nTickStep, 1024);
  Move(90, 95); // 80 px left: x0.25
  EXPECT_EQ(nTickStep, 64);
  PanelLeftUp(90, 95);
  EXPECT_EQ(nTickStep, 256);
}

TEST_F(PanelInput, VolumeDragUpThirtyFromPosition30GivesPosition0AndGain714) {
  Down(185, 90);
  Move(185, 60);
  EXPECT_EQ(nVolumePos, 0);
  EXPECT_EQ(nOutVolume, 714);
  Move(185, 190); // past the bottom: clamped
  EXPECT_EQ(nVolumePos, 100);
  EXPECT_EQ(nOutVolume, 2);
  EXPECT_EQ(VolumeFromPosition(30), 127);
}

TEST_F(PanelInput, HelpScrollRangeOfA400RowHelpIs0To337) {
  nHelpHeight = 400;
  bHelpMode = 1;
  for (int32_t i = 0; i < 40; ++i)
    PanelKeyDown(PanelKey::Down);
  EXPECT_EQ(nHelpScroll, 337);
  Down(170, 90); // help-scroll drag on button 8
  Move(170, 0);
  EXPECT_EQ(nHelpScroll, 247);
  Move(170, -500);
  EXPECT_EQ(nHelpScroll, 0);
}

TEST_F(PanelInput, HelpAsHighAsTheScreenHasNoScrollAndTheTopKnobCell) {
  nHelpHeight = 63;
  bHelpMode = 1;
  PanelKeyDown(PanelKey::Down);
  EXPECT_EQ(nHelpScroll, 0);
  EXPECT_EQ(KnobCell(), 31);
}

TEST_F(PanelInput, KnobCellFollowsVolumeOrHelpScroll) {
  nVolumePos = 31;
  EXPECT_EQ(KnobCell(), 9);
  nVolumePos = 100;
  EXPECT_EQ(KnobCell(), 31);
  bHelpMode = 1;
  nHelpHeight = 400;
  nHelpScroll = 337;
  EXPECT_EQ(KnobCell(), 0);
}

TEST_F(PanelInput, RightDragOnButton8InHelpModeSetsOpacity) {
  bHelpMode = 1;
  PanelRightDown(170, 90, kWx + 170, kWy + 90);
  Move(170, 80);
  EXPECT_EQ(nHelpOpacity, 60);
  EXPECT_TRUE(PanelRightUp(0).bReleaseCapture);
  EXPECT_EQ(bHelpMode, 1); // ending the opacity drag keeps help mode
  PanelRightUp(0);
  EXPECT_EQ(bHelpMode, 0);
}

TEST_F(PanelInput, MeasureKeysStepOnlyWhileStoppedAndNotBelowZero) {
  PanelKeyDown(PanelKey::Left);
  EXPECT_EQ(nStartMeasure, 0);
  PanelKeyDown(PanelKey::Right);
  EXPECT_EQ(nStartMeasure, 1);
  bPlaying = 1;
  PanelKeyDown(PanelKey::Right);
  EXPECT_EQ(nStartMeasure, 1);
}

TEST_F(PanelInput, BackgroundPressMovesTheWindowWithThePointer) {
  Down(30, 40);
  const PanelEffect e = Move(45, 20);
  EXPECT_TRUE(e.bMove);
  EXPECT_EQ(e.nMoveX, kWx + 15);
  EXPECT_EQ(e.nMoveY, kWy - 20);
}

} // namespace
