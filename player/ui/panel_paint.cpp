#include "player/ui/panel_paint.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "player/state/engine_state.h"
#include "player/render/render_loop.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"
#include "player/ui/panel_bitmaps.h"
#include "player/ui/panel_compositor.h"
#include "player/ui/panel_input.h"
#include "player/ui/panel_state.h"
#include "player/ui/panel_text.h"
#include "player/units/unit_host.h"

PanelImage imgWindow;
PanelImage imgScreen;
PanelText *pPanelText;

namespace {

constexpr uint32_t kWindowBackground = PanelRgb(100, 100, 100); // the window class's brush
constexpr int32_t kScreenX = 46;
constexpr int32_t kScreenY = 10;
constexpr int32_t kMeterLevels = 32;         // LVM cells 0..32
constexpr double kMeterScale = 7.3082203582; // cells per decade: cell 32 from a peak of 23900
constexpr int32_t kDigitWidth = 6;
constexpr int32_t kDigitHeight = 9;

void DrawText(PanelImage &img, const char *szText, int32_t nLeft, int32_t nTop, int32_t nRight,
              int32_t nBottom, int32_t nFont, int32_t bAlignRight) {
  if (pPanelText)
    pPanelText->DrawText(img, szText, nLeft, nTop, nRight, nBottom, nFont, crText, bAlignRight);
}

// The LVM cell of a peak: logarithmic, 32 at full scale.
int32_t MeterCell(int32_t nPeakL, int32_t nPeakR) {
  const int32_t v = (nPeakL + nPeakR) / 2;
  if (v <= 0)
    return 0;
  return std::min(static_cast<int32_t>(std::log10(v + 1.0) * kMeterScale), kMeterLevels);
}

void DrawMeter(int32_t x, int32_t nCell) {
  CopyCell(imgScreen, x, 0, aPanelBitmap[kBmpMeter], 8 * std::max(nCell, 0), 0, 8, kScreenHeight);
}

// The first nCount characters of szText as 7Seg cells from (x, y); a character
// outside '0'..':' shows the blank cell.
void DrawDigits(const char *szText, int32_t nCount, int32_t x, int32_t y) {
  for (int32_t j = 0; j < nCount && szText[j]; ++j) {
    int32_t nCell = szText[j] - 47;
    if (nCell < 0 || nCell > 11)
      nCell = 0;
    CopyCell(imgWindow, x + kDigitWidth * j, y, aPanelBitmap[kBmpDigits], kDigitWidth * nCell, 0,
             kDigitWidth, kDigitHeight);
  }
}

void DrawHistory(const int32_t *pSummary) {
  std::memmove(anHistory, anHistory + 1, sizeof anHistory - sizeof anHistory[0]);
  anHistory[kHistoryCount - 1] =
      crGraphSource ? pSummary[kMeterLoadPercent] / 8 : pSummary[kMeterLevelSum] / 6;
  if (!crGraphSwitch)
    return;
  FillBox(imgWindow, 5, 32, 36, 16, crGraphBack);
  // The 36 values before the newest one.
  for (int32_t j = 0; j < 36; ++j)
    SetPanelPixel(imgWindow, 5 + j, 47 - std::min(anHistory[27 + j], 15), crGraphDot);
}

void DrawEmblem() {
  nEmblemFade -= 2;
  if (nEmblemFade < 0 || !bPlaying)
    nEmblemFade = 70;
  const int32_t o = std::min(nEmblemFade, 36);
  ScaleBox(imgScreen, static_cast<int32_t>(100 - o * 1.5), 0, 12, 12, 128, 47);
  BlendBox(imgScreen, imgEmblem, o, 8, 8, 0, 0, 128, 47);
}

void DrawReadout() {
  char szText[64] = "";
  if (bVolumeDrag)
    std::snprintf(szText, sizeof szText, "%2.1fdB",
                  static_cast<double>(static_cast<float>((100 - nVolumePos) - 70) / 2.0f));
  if (bSpeedDrag)
    std::snprintf(szText, sizeof szText, "x%1.3f", nTickStep / 256.0);
  if (bScrollDrag)
    std::snprintf(szText, sizeof szText, "%d[≡]", nHelpScroll);
  if (bOpacityDrag)
    std::snprintf(szText, sizeof szText, "%d[%%]", nHelpOpacity);
  ShadeBox(imgScreen, 72, 13);
  DrawText(imgScreen, szText, 72, 50, 144, 63, kFontMincho, 1);
}

} // namespace

void CreatePanelImages() {
  ResizeImage(imgWindow, kPanelWidth, kPanelHeight, kWindowBackground);
  ResizeImage(imgScreen, kScreenWidth, kScreenHeight, 0);
}

void PaintPanel() {
  const PanelImage &panel = aPanelBitmap[kBmpPanel];
  CopyCell(imgWindow, 0, 0, panel, 0, 0, 200, 80);
  CopyCell(imgWindow, 0, 80, aPanelBitmap[kBmpMenu1], 0, 0, 200, 20);
  CopyCell(imgWindow, 0, 260, aPanelBitmap[kBmpMenu2], 0, 0, 200, 20);
  for (int32_t s = 0; s < kUnitSlots; ++s) {
    const int32_t y = 100 + 20 * s;
    const UnitSlot &slot = aUnitSlots[s];
    CopyCell(imgWindow, 0, y, panel, 0, slot.hModule ? 100 : 80, 200, 20);
    if (!slot.hModule)
      continue;
    CopyCell(imgWindow, 0, y, aPanelBitmap[kBmpLump], 0, slot.bActive ? 20 : 0, 21, 20);
    DrawText(imgWindow, slot.szName, 25, y - 1, 199, y + 10, kFontGothic, 0);
  }
  CopyCell(imgWindow, 1, 1, aPanelBitmap[kBmpBar], 0, bHasFocus ? 8 : 0, 60, 8);
  UpdatePanel();
}

void UpdatePanel() {
  const int32_t *pSummary = CurMeterFrame.anSummary;
  DrawHistory(pSummary);

  const PanelImage &warn = aPanelBitmap[kBmpWarn];
  CopyCell(imgWindow, 5, 10, warn, 0, pSummary[kMeterClipped] ? 8 : 0, 36, 8);
  CopyCell(imgWindow, 5, 20, warn, 0, pSummary[kMeterOverload] ? 24 : 16, 36, 8);
  CopyCell(imgWindow, 179, 80, aPanelBitmap[kBmpVol], 0, 20 * KnobCell(), 21, 20);

  DrawMeter(0, std::min(pSummary[kMeterLoadPercent] / 4, kMeterLevels));
  DrawMeter(8, MeterCell(pSummary[kMeterOutPeakL], pSummary[kMeterOutPeakR]));
  for (int32_t ch = 0; ch < 16; ++ch) {
    const MeterChannel &c = CurMeterFrame.aChannel[ch];
    DrawMeter(8 * (ch + 2), MeterCell(c.nPeakL, c.nPeakR));
  }

  const PanelImage &led = aPanelBitmap[kBmpLed];
  CopyCell(imgWindow, 5, 52, led, 0, bPlaying ? 8 : 16, 8, 8);

  // A stopped song restarts from the measure last shown.
  nStartMeasure = pSummary[kMeterMeasure] - 1;
  char szDigits[16];
  std::snprintf(szDigits, sizeof szDigits, "%04d", pSummary[kMeterMeasure]);
  DrawDigits(szDigits, 4, 17, 52);
  const uint32_t nBeatTick = static_cast<uint32_t>(pSummary[kMeterBeatTick]);
  std::snprintf(szDigits, sizeof szDigits, "%02d", static_cast<int32_t>(nBeatTick >> 16));
  DrawDigits(szDigits, 2, 5, 62);
  std::snprintf(szDigits, sizeof szDigits, "%03d", static_cast<int32_t>(nBeatTick & 0xFFFF));
  DrawDigits(szDigits, 3, 23, 62);

  for (int32_t ch = 0; ch < 16; ++ch) {
    const int32_t nCell = aChannels[ch].bMute ? 16 : CurMeterFrame.aChannel[ch].bSounding ? 8 : 0;
    CopyCell(imgWindow, 62 + 8 * ch, 1, led, 0, nCell, 8, 8);
  }

  if (bMonoMix)
    DrawEmblem();
  if (bHelpMode)
    BlendBox(imgScreen, imgHelp, nHelpOpacity, 0, 0, 0, nHelpScroll, kScreenWidth, kScreenHeight);
  if (bVolumeDrag || bSpeedDrag || bScrollDrag || bOpacityDrag)
    DrawReadout();
  CopyCell(imgWindow, kScreenX, kScreenY, imgScreen, 0, 0, kScreenWidth, kScreenHeight);
}

void DrawSlideFrame(int32_t nFrame) {
  CopyCell(imgWindow, kScreenX, kScreenY, aPanelBitmap[kBmpType2], 10 * nFrame, 0, kScreenWidth,
           kScreenHeight);
}

void ResetDisplayState() {
  int32_t *pSummary = CurMeterFrame.anSummary;
  pSummary[kMeterOutPeakL] = pSummary[kMeterOutPeakR] = 0;
  pSummary[kMeterClipped] = pSummary[kMeterOverload] = pSummary[kMeterLoadPercent] = 0;
  pSummary[kMeterMeasure] = nStartMeasure + 1;
  pSummary[kMeterBeatTick] = 0;
  for (MeterFrame &frame : aMeterFrames)
    for (MeterChannel &c : frame.aChannel)
      c.nPeakL = c.nPeakR = c.bSounding = 0;
}
