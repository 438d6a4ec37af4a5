// The panel's drawing: golden pictures of whole states (panel_golden writes
// their digests) and single facts checked against the bitmaps' own cells.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "player/render/render_loop.h"
#include "player/state/engine_state.h"
#include "player/ui/panel_bitmaps.h"
#include "player/ui/panel_compositor.h"
#include "player/ui/panel_paint.h"
#include "player/ui/panel_state.h"
#include "player/ui/panel_text.h"
#include "player/units/unit_host.h"
#include "tools/skin/panel_scenes.h"

namespace {

std::string ExpectedDigest(const char *szScene) {
  return ReadPanelDigests(TORQA_PANEL_DIGESTS)[szScene];
}

std::string Digest(const PanelImage &img) {
  char sz[32];
  std::snprintf(sz, sizeof sz, "%016" PRIx64, PanelImageDigest(img));
  return sz;
}

void CheckScene(const char *szScene) {
  const PanelScene *pScene = FindPanelScene(szScene);
  ASSERT_NE(pScene, nullptr);
  EXPECT_EQ(Digest(RenderPanelScene(*pScene)), ExpectedDigest(szScene)) << pScene->szFact;
}

// Each golden picture pins what its scene's description says.
TEST(PanelGolden, Stopped) {
  CheckScene("stopped");
}
TEST(PanelGolden, Playing) {
  CheckScene("playing");
}
TEST(PanelGolden, Slots) {
  CheckScene("slots");
}
TEST(PanelGolden, MonoEmblem) {
  CheckScene("mono");
}
TEST(PanelGolden, Help) {
  CheckScene("help");
}
TEST(PanelGolden, SpeedDrag) {
  CheckScene("speed_drag");
}
TEST(PanelGolden, VolumeDrag) {
  CheckScene("volume_drag");
}
TEST(PanelGolden, HistoryGraph) {
  CheckScene("graph");
}

// The box of the panel at (x, y) equals the box of src at (sx, sy).
bool SameBox(const PanelImage &a, int32_t x, int32_t y, const PanelImage &b, int32_t sx, int32_t sy,
             int32_t w, int32_t h) {
  for (int32_t r = 0; r < h; ++r)
    for (int32_t c = 0; c < w; ++c)
      if (a.At(x + c, y + r) != b.At(sx + c, sy + r))
        return false;
  return true;
}

// The digit cells shown from x, for the characters of szExpected.
bool ShowsDigits(int32_t x, int32_t y, const char *szExpected) {
  for (int32_t j = 0; szExpected[j]; ++j)
    if (!SameBox(imgWindow, x + 6 * j, y, aPanelBitmap[kBmpDigits], 6 * (szExpected[j] - 47), 0, 6,
                 9))
      return false;
  return true;
}

TEST(PanelDigits, MeasureShowsFourDigitsBeatTwoTickThree) {
  RenderPanelScene(*FindPanelScene("playing")); // measure 12345, beat 3, tick 7
  EXPECT_TRUE(ShowsDigits(17, 52, "1234"));
  EXPECT_TRUE(ShowsDigits(5, 62, "03"));
  EXPECT_TRUE(ShowsDigits(23, 62, "007"));
  EXPECT_EQ(nStartMeasure, 12344); // restarts from the measure shown
}

TEST(PanelDigits, ResetDisplayShowsTheStartMeasure) {
  RenderPanelScene(*FindPanelScene("playing"));
  nStartMeasure = 41;
  ResetDisplayState();
  UpdatePanel();
  EXPECT_TRUE(ShowsDigits(17, 52, "0042"));
  EXPECT_TRUE(ShowsDigits(23, 62, "000"));
}

TEST(PanelHelp, OpacityZeroLeavesTheMetersOpacityHundredShowsOnlyHelp) {
  const PanelImage plain = RenderPanelScene(*FindPanelScene("playing"));
  RenderPanelScene(*FindPanelScene("help_clear"));
  EXPECT_TRUE(SameBox(imgWindow, 46, 10, plain, 46, 10, 144, 63));
  RenderPanelScene(*FindPanelScene("help_opaque"));
  EXPECT_TRUE(SameBox(imgScreen, 0, 0, imgHelp, 0, nHelpScroll, 144, 63));
}

TEST(PanelEmblem, WhilePlayingTheFadeRestartsEvery36Redraws) {
  RenderPanelScene(*FindPanelScene("playing"));
  bMonoMix = 1;
  UpdatePanel();
  EXPECT_EQ(nEmblemFade, 70);
  for (int32_t i = 0; i < 35; ++i)
    UpdatePanel();
  EXPECT_EQ(nEmblemFade, 0);
  UpdatePanel();
  EXPECT_EQ(nEmblemFade, 70);
}

TEST(PanelGraph, NewestValueIsTheLevelSumOverSixOrWithTheSourceColourTheLoadOverEight) {
  RenderPanelScene(*FindPanelScene("stopped"));
  CurMeterFrame.anSummary[kMeterLevelSum] = 61;
  CurMeterFrame.anSummary[kMeterLoadPercent] = 17;
  UpdatePanel();
  EXPECT_EQ(anHistory[63], 10);
  crGraphSource = 0x000001;
  UpdatePanel();
  EXPECT_EQ(anHistory[63], 2);
  EXPECT_EQ(anHistory[62], 10);
}

// Records the text the panel asks for.
class TextTwin : public PanelText {
public:
  struct Call {
    std::string sText;
    int32_t anBox[4];
    int32_t nFont;
    uint32_t cr;
    int32_t bRight;
  };
  std::vector<Call> aCalls;
  void DrawText(PanelImage &, const char *szText, int32_t nLeft, int32_t nTop, int32_t nRight,
                int32_t nBottom, int32_t nFont, uint32_t cr, int32_t bAlignRight) override {
    aCalls.push_back({szText, {nLeft, nTop, nRight, nBottom}, nFont, cr, bAlignRight});
  }
};

class PanelTextTest : public ::testing::Test {
protected:
  TextTwin twin;
  void SetUp() override { pPanelText = &twin; }
  void TearDown() override { pPanelText = nullptr; }
};

TEST_F(PanelTextTest, SpeedDragReadsOutTimesFour) {
  RenderPanelScene(*FindPanelScene("speed_drag"));
  ASSERT_EQ(twin.aCalls.size(), 1u);
  const TextTwin::Call &c = twin.aCalls[0];
  EXPECT_EQ(c.sText, "x4.000");
  EXPECT_EQ(c.nFont, kFontMincho);
  EXPECT_EQ(c.cr, 0x40FF60u);
  EXPECT_TRUE(c.bRight);
  EXPECT_EQ(std::vector<int32_t>(c.anBox, c.anBox + 4), (std::vector<int32_t>{72, 50, 144, 63}));
}

TEST_F(PanelTextTest, VolumeDragReadsOutDecibels) {
  RenderPanelScene(*FindPanelScene("volume_drag"));
  ASSERT_EQ(twin.aCalls.size(), 1u);
  EXPECT_EQ(twin.aCalls[0].sText, "15.0dB");
}

TEST_F(PanelTextTest, BoundSlotNamesInGothicAboveTheirButtons) {
  RenderPanelScene(*FindPanelScene("slots"));
  ASSERT_EQ(twin.aCalls.size(), 2u);
  EXPECT_EQ(twin.aCalls[0].sText, "VOKRA UNIT");
  EXPECT_EQ(twin.aCalls[0].nFont, kFontGothic);
  EXPECT_EQ(std::vector<int32_t>(twin.aCalls[1].anBox, twin.aCalls[1].anBox + 4),
            (std::vector<int32_t>{25, 139, 199, 150}));
}

} // namespace
