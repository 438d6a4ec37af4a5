#include "player/ui/panel_input.h"

#include <algorithm>
#include <cmath>

#include "player/state/engine_state.h"
#include "player/song/sequencer.h"
#include "player/ui/hit_test.h"
#include "player/ui/panel_paint.h"
#include "player/ui/panel_state.h"

namespace {

constexpr int32_t kSpeedButton = 8;
constexpr int32_t kVolumeButton = 9;
constexpr int32_t kFirstMoveButton = 15; // buttons 15..19 only move the window

int32_t IsHelpDragButton(int32_t nCode) {
  return ElementKind(nCode) == kElemButton &&
         (ElementIndex(nCode) == kSpeedButton || ElementIndex(nCode) == kVolumeButton);
}

void Hold(PanelEffect &e, int32_t nCode) {
  nPressedCode = nCode;
  bButtonHeld = 1;
  e.bCapture = 1;
}

void ClampHelpView() {
  nHelpScroll = std::clamp(nHelpScroll, 0, HelpScrollMax());
  nHelpOpacity = std::clamp(nHelpOpacity, 0, 100);
}

} // namespace

int32_t SpeedFromDrag(int32_t d) {
  const int32_t g = std::clamp((d + 160) / 2, 60, 100);
  return static_cast<int32_t>(std::pow(2.0, g * 0.1));
}

int32_t VolumeFromPosition(int32_t nPos) {
  // Single precision up to the halving, double from the dB scaling on.
  const float fDb = static_cast<float>((100 - nPos) - 70) / 2.0f;
  return static_cast<int32_t>(127.0 * std::pow(10.0, fDb * 0.05));
}

int32_t HelpScrollMax() {
  return std::max(0, nHelpHeight - kScreenHeight);
}

int32_t KnobCell() {
  if (bHelpMode) {
    // A help image no taller than the screen has no scroll range: the top cell.
    if (nHelpHeight <= kScreenHeight)
      return 31;
    return std::max(0, 31 - nHelpScroll * 31 / (nHelpHeight - kScreenHeight));
  }
  return std::min(static_cast<int32_t>(nVolumePos * 0.32), 31);
}

void PanelSize(int32_t nMode, int32_t *pWidth, int32_t *pHeight) {
  *pWidth = nMode == 1 || nMode == 2 ? 200 : 63;
  *pHeight = nMode == 1 ? 280 : nMode == 2 || nMode == 3 ? 100 : 80;
}

int32_t NextSizeMode(int32_t nMode) {
  return nMode + 1 > 4 ? 1 : nMode + 1;
}
int32_t PrevSizeMode(int32_t nMode) {
  return nMode - 1 < 1 ? 4 : nMode - 1;
}

PanelEffect PanelLeftDown(int32_t x, int32_t y, int32_t sx, int32_t sy, int32_t wx, int32_t wy,
                          uint32_t nBoundSlots) {
  PanelEffect e;
  if (bButtonHeld)
    return e;
  const int32_t c = HitTestPanel(x, y);
  const int32_t nKind = ElementKind(c);
  const int32_t nIndex = ElementIndex(c);
  if (nKind == kElemLamp) {
    Hold(e, c);
    return e;
  }
  if (nKind >= kElemSlotBtn1 && nKind <= kElemSlotLamp) {
    // On an empty slot only the first small button (assign) reacts.
    if (nKind == kElemSlotBtn1 || ((nBoundSlots >> nIndex) & 1))
      Hold(e, c);
    return e;
  }
  if (nKind == kElemButton && nIndex < kFirstMoveButton) {
    e.bCapture = 1;
    if (nIndex != kSpeedButton && nIndex != kVolumeButton) {
      Hold(e, c);
    } else if (bHelpMode) {
      bOpacityDrag = 0;
      bScrollDrag = 1;
      nAnchorX = sx;
      nAnchorY = sy;
    } else if (nIndex == kSpeedButton) {
      bSpeedDrag = 1;
      nAnchorX = sx;
      nAnchorY = sy;
      e.bRedraw = 1;
    } else {
      bVolumeDrag = 1;
      nAnchorX = sx;
      nAnchorY = sy - nVolumePos;
      e.bRedraw = 1;
    }
    return e;
  }
  // The background and buttons 15..19 move the window.
  bMoveDrag = 1;
  e.bCapture = 1;
  nAnchorX = sx - wx;
  nAnchorY = sy - wy;
  return e;
}

PanelEffect PanelMouseMove(int32_t sx, int32_t sy) {
  PanelEffect e;
  const int32_t bRedrawIfStopped = !bPlaying;
  if (bOpacityDrag) {
    nHelpOpacity = std::clamp(nHelpOpacity + sy - nAnchorY, 0, 100);
    nAnchorX = sx;
    nAnchorY = sy;
    e.bRedraw = bRedrawIfStopped;
  } else if (bScrollDrag) {
    nHelpScroll = std::clamp(nHelpScroll + sy - nAnchorY, 0, HelpScrollMax());
    nAnchorX = sx;
    nAnchorY = sy;
    e.bRedraw = bRedrawIfStopped;
  }
  if (bSpeedDrag) {
    nTickStep = SpeedFromDrag(sx - nAnchorX);
    e.bRedraw = bRedrawIfStopped;
  }
  if (bVolumeDrag) {
    nVolumePos = std::clamp(sy - nAnchorY, 0, 100);
    nOutVolume = VolumeFromPosition(nVolumePos);
    e.bRedraw = bRedrawIfStopped;
  }
  if (bMoveDrag && !bInMove) {
    e.bMove = 1;
    e.nMoveX = sx - nAnchorX;
    e.nMoveY = sy - nAnchorY;
  }
  return e;
}

PanelEffect PanelLeftUp(int32_t x, int32_t y) {
  PanelEffect e;
  bOpacityDrag = bScrollDrag = bSpeedDrag = bVolumeDrag = bMoveDrag = 0;
  nTickStep = 256; // the speed control acts only while held
  e.bReleaseCapture = 1;
  if (!bButtonHeld && bTextChanged)
    bTextChanged = 0;
  e.bRedraw = !bPlaying;
  if (bButtonHeld) {
    bButtonHeld = 0;
    const int32_t c = HitTestPanel(x, y);
    if (c != 0 && c == nPressedCode)
      e.nAction = c;
  }
  nPressedCode = 0;
  return e;
}

PanelEffect PanelRightDown(int32_t x, int32_t y, int32_t sx, int32_t sy) {
  PanelEffect e;
  if (bHelpMode && IsHelpDragButton(HitTestPanel(x, y))) {
    bOpacityDrag = 1;
    e.bCapture = 1;
    nAnchorX = sx;
    nAnchorY = sy;
  }
  return e;
}

PanelEffect PanelRightUp(int32_t bShift) {
  PanelEffect e;
  if (bHelpMode) {
    if (bOpacityDrag) {
      bOpacityDrag = 0;
      e.bReleaseCapture = 1;
    } else {
      bHelpMode = 0;
    }
    e.bRedraw = 1;
  } else {
    e.nCommand = bShift ? 172 : 171;
  }
  if (!bButtonHeld && bTextChanged) {
    bTextChanged = 0;
    e.bInvalidate = 1;
  }
  return e;
}

PanelEffect PanelKeyDown(PanelKey key) {
  PanelEffect e;
  if (!bPlaying && !bHelpMode && (key == PanelKey::Left || key == PanelKey::Right)) {
    if (key == PanelKey::Right)
      ++nStartMeasure;
    else if (nStartMeasure >= 1)
      --nStartMeasure;
    ResetDisplayState();
    e.bRedraw = 1;
  }
  if (!bHelpMode)
    return e;
  switch (key) {
  case PanelKey::Escape:
    bHelpMode = 0;
    bScrollDrag = 0;
    e.bReleaseCapture = 1;
    e.bRedraw = 1;
    break;
  case PanelKey::Up:
    nHelpScroll -= 10;
    break;
  case PanelKey::Down:
    nHelpScroll += 10;
    break;
  case PanelKey::Left:
    nHelpOpacity -= 5;
    break;
  case PanelKey::Right:
    nHelpOpacity += 5;
    break;
  }
  ClampHelpView();
  if (!bPlaying)
    e.bRedraw = 1;
  return e;
}
