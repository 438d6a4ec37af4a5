#include "player/ui/panel_state.h"

#include <algorithm>

int32_t bHelpMode;
int32_t nHelpScroll;
int32_t nHelpHeight;
int32_t nHelpOpacity;
int32_t nVolumePos;
int32_t nPressedCode;
int32_t bButtonHeld;
int32_t bSpeedDrag;
int32_t bVolumeDrag;
int32_t bScrollDrag;
int32_t bOpacityDrag;
int32_t bMoveDrag;
int32_t bInMove;
int32_t nAnchorX;
int32_t nAnchorY;
int32_t bHasFocus;
uint32_t crText;
uint32_t crGraphSwitch;
uint32_t crGraphSource;
uint32_t crGraphBack;
uint32_t crGraphDot;
int32_t anHistory[kHistoryCount];
int32_t nEmblemFade;

void ResetPanelState() {
  bHelpMode = 0;
  nHelpScroll = 0;
  nHelpHeight = 334;
  nHelpOpacity = 70;
  nVolumePos = 30;
  nPressedCode = 0;
  bButtonHeld = 0;
  bSpeedDrag = bVolumeDrag = bScrollDrag = bOpacityDrag = bMoveDrag = bInMove = 0;
  nAnchorX = nAnchorY = 0;
  bHasFocus = 0;
  crText = 0x40FF60;
  crGraphSwitch = crGraphSource = crGraphBack = crGraphDot = 0;
  std::fill(anHistory, anHistory + kHistoryCount, 0);
  nEmblemFade = 0;
}
