#include "player/ui/main_window.h"

#include "platform/event_loop.h"
#include "platform/file_dialog.h"
#include "platform/message_box.h"
#include "platform/popup_menu.h"
#include "player/app/settings_store.h"
#include "player/app/startup.h"
#include "player/app/unit_commands.h"
#include "player/output/playback.h"
#include "player/render/wav_recorder.h"
#include "player/song/routing.h"
#include "player/song/song.h"
#include "player/state/engine_hooks.h"
#include "player/state/engine_state.h"
#include "player/ui/hit_test.h"
#include "player/ui/panel_paint.h"
#include "player/ui/panel_state.h"
#include "player/units/unit_host.h"

MainWindowHooks WindowHooks = {};
DialogCommandHooks DialogHooks = {};
PopupMenu *pUnitMenu = nullptr;
int32_t nBusyDepth = 0;

namespace {

constexpr const char *kScreenFailText =
    "半透明スクリーン処理の為に使われる\r\nバッファメモリの確保に失敗しました。";
constexpr const char *kFatalCaption = "重度機能障害の報告";

int32_t bDestroyed = 0; // shutdown ran; a second close does nothing

// Marks a handler that may pump messages, so that a close arriving inside it
// is refused rather than freeing what it runs on.
struct BusyScope {
  BusyScope() { ++nBusyDepth; }
  ~BusyScope() { --nBusyDepth; }
  BusyScope(const BusyScope &) = delete;
  BusyScope &operator=(const BusyScope &) = delete;
};

void Repaint() {
  if (WindowHooks.pfnRepaint)
    WindowHooks.pfnRepaint();
}

void Invalidate() {
  PaintPanel();
  Repaint();
}

void PostRedraw() {
  PostLoopMessage(UM_REDRAW, 0, 0);
}

void PostCommand(int32_t nCommand) {
  PostLoopMessage(kWmCommand, static_cast<uintptr_t>(nCommand), 0);
}

void StartPlay() {
  BusyScope busy;
  StartPlayback(hwndMain);
}

void StopPlay() {
  BusyScope busy;
  StopPlayback(hwndMain);
}

void StopAndReset() {
  if (bPlaying)
    StopPlay();
  ResetDisplayState();
  PostRedraw();
}

void DestroyWindow() {
  if (WindowHooks.pfnDestroy)
    WindowHooks.pfnDestroy();
  else
    MainWindowDestroy();
}

void Resize() {
  int32_t x = 0, y = 0, w = 0, h = 0;
  if (WindowHooks.pfnGetPos)
    WindowHooks.pfnGetPos(&x, &y);
  PanelSize(bSizeGeometry, &w, &h);
  if (WindowHooks.pfnSetRect)
    WindowHooks.pfnSetRect(x, y, w, h);
  Invalidate();
}

void OpenFile() {
  char szPath[260] = "";
  int32_t bChosen;
  {
    BusyScope busy;
    bChosen = ChooseFile(hwndMain, kOpenMidiRequest, szPath, sizeof szPath);
  }
  if (bChosen) {
    if (bOutputOpen)
      StopPlay();
    LoadSmf(szPath);
  }
  nStartMeasure = 0;
  ResetDisplayState();
  PostRedraw();
}

void RunCommand(int32_t nCommand) {
  switch (nCommand) {
  case 101:
    OpenFile();
    break;
  case 109:
    if (CanClose())
      DestroyWindow();
    break;
  case 111: {
    BusyScope busy;
    CmdRecord(hwndMain, DialogHooks);
    break;
  }
  case 121:
    if (bPlaying)
      StopAndReset();
    else
      StartPlay();
    break;
  case 151: {
    BusyScope busy;
    CmdSetup(hwndMain, DialogHooks);
    break;
  }
  case 161:
    CmdSoundTest(hwndMain, DialogHooks);
    break;
  case 171:
    bSizeGeometry = NextSizeMode(bSizeGeometry);
    Resize();
    break;
  case 172:
    bSizeGeometry = PrevSizeMode(bSizeGeometry);
    Resize();
    break;
  case 181:
    CmdAbout(hwndMain, DialogHooks);
    break;
  case 182:
    if (!bHelpMode) {
      bHelpMode = 1;
      nHelpScroll = 0;
      PostRedraw();
    }
    break;
  case 191: {
    BusyScope busy;
    CmdTrackInfo(hwndMain, DialogHooks);
    break;
  }
  case 192:
  case 193:
    bMonoMix = nCommand == 192;
    PlayScreenSlide();
    PostRedraw();
    break;
  default:
    break;
  }
}

// Slot s's first small button: clear a bound slot, or fill an empty one from
// the unit menu.
void SlotAssignOrClear(int32_t s) {
  if (aUnitSlots[s].hModule) {
    ClearUnitSlot(s);
  } else if (pUnitMenu) {
    pUnitMenu->Clear();
    for (int32_t i = 0; i < nUnitCount; ++i) {
      pUnitMenu->Append(kUnitMenuBase + i, aUnitEntries[i].szName);
      pUnitMenu->SetGrayed(kUnitMenuBase + i, aUnitMenu[i].bEnabled ? 0 : 1);
    }
    int32_t wx = 0, wy = 0;
    if (WindowHooks.pfnGetPos)
      WindowHooks.pfnGetPos(&wx, &wy);
    int32_t nChosen;
    {
      BusyScope busy;
      nChosen = pUnitMenu->Track(hwndMain, wx + nAnchorX, wy + nAnchorY);
    }
    if (nChosen) {
      BusyScope busy;
      AssignUnitSlot(s, nChosen - kUnitMenuBase); // refuses entries out of range or in use
    }
  }
  Invalidate();
}

void ApplyEffect(const PanelEffect &e) {
  if (e.bMove && WindowHooks.pfnSetRect) {
    int32_t w = 0, h = 0;
    PanelSize(bSizeGeometry, &w, &h);
    bInMove = 1;
    WindowHooks.pfnSetRect(e.nMoveX, e.nMoveY, w, h);
    bInMove = 0;
  }
  if (e.bRedraw)
    PostRedraw();
  if (e.bInvalidate)
    Invalidate();
  if (e.nCommand)
    PostCommand(e.nCommand);
  if (e.nAction)
    RunElementAction(e.nAction);
}

uint32_t BoundSlots() {
  uint32_t n = 0;
  for (int32_t s = 0; s < kUnitSlots; ++s)
    if (aUnitSlots[s].hModule)
      n |= 1u << s;
  return n;
}

} // namespace

void PlayScreenSlide() {
  for (int32_t n = 0; n < kSlideFrames; ++n) {
    DrawSlideFrame(n);
    Repaint();
    if (WindowHooks.pfnSleepMs)
      WindowHooks.pfnSleepMs(30);
  }
}

int32_t CanClose() {
  return nBusyDepth == 0 && !bRecording;
}

void RunElementAction(int32_t c) {
  const int32_t nKind = ElementKind(c);
  const int32_t n = ElementIndex(c);
  if (nKind == kElemLamp) {
    aChannels[n & 15].bMute ^= 1;
    Invalidate();
  } else if (nKind == kElemSlotBtn1) {
    SlotAssignOrClear(n & 7);
  } else if (nKind == kElemSlotBtn2 || nKind == kElemSlotBtn3 || nKind == kElemSlotBtn4) {
    UnitSlot &slot = aUnitSlots[n & 7];
    if (slot.hModule && slot.pfnSysSig) {
      const int32_t nSig = nKind == kElemSlotBtn2 ? 1 : nKind == kElemSlotBtn3 ? 2 : 3;
      BusyScope busy; // the unit's dialogs run their own loops
      slot.pfnSysSig(hwndMain, nSig);
    }
  } else if (nKind == kElemSlotLamp) {
    UnitSlot &slot = aUnitSlots[n & 7];
    if (slot.hModule) {
      slot.bActive ^= 1;
      Invalidate();
    }
  } else if (nKind == kElemButton) {
    switch (n) {
    case 0:
      PostCommand(171);
      break;
    case 1:
      StopAndReset();
      break;
    case 2:
      if (!bPlaying)
        StartPlay();
      break;
    case 3:
      PostCommand(109); // the close goes through the busy rule
      break;
    case 4:
    case 5:
    case 6:
      if (!bPlaying && (n != 5 || nStartMeasure >= 1)) {
        nStartMeasure = n == 4 ? 0 : nStartMeasure + (n == 5 ? -1 : 1);
        ResetDisplayState();
        PostRedraw();
      }
      break;
    case 7:
      PostCommand(182);
      break;
    case 10:
      PostCommand(101);
      break;
    case 11:
      PostCommand(111);
      break;
    case 12:
      PostCommand(151);
      break;
    case 13:
      PostCommand(161);
      break;
    case 14:
      PostCommand(181);
      break;
    default:
      break;
    }
  }
}

int32_t MainWindowProc(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) {
  if (bDestroyed)
    return 0;
  switch (nMessage) {
  case UM_INIT:
    DragAcceptMainWindow(1);
    if (!AllocStartBuffers(hwndMain)) {
      DestroyWindow();
      return 0;
    }
    Invalidate();
    return 0;
  case UM_REDRAW:
    UpdatePanel();
    Repaint();
    return 0;
  case MM_WOM_DONE: {
    BusyScope busy;
    OnWaveDoneMessage(wParam, lParam);
    return 0;
  }
  case kWmCommand:
    RunCommand(static_cast<int32_t>(wParam));
    return 0;
  default:
    return 0;
  }
}

void PlaceWindow(int32_t x, int32_t y) {
  int32_t w = 0, h = 0;
  PanelSize(bSizeGeometry, &w, &h);
  if (WindowHooks.pfnDesktop) {
    int32_t nRight = 0, nBottom = 0;
    WindowHooks.pfnDesktop(&nRight, &nBottom);
    if (x + w > nRight)
      x = nRight - w;
    if (y + h > nBottom)
      y = nBottom - h;
  }
  if (WindowHooks.pfnSetRect)
    WindowHooks.pfnSetRect(x, y, w, h);
}

int32_t MainWindowCreate(const char *szCmdFile) {
  bDestroyed = 0;
  if (szCmdFile && szCmdFile[0])
    LoadSmf(szCmdFile);
  WindowPoint pt = {0, 0};
  if (WindowHooks.pfnGetPos)
    WindowHooks.pfnGetPos(&pt.x, &pt.y);
  ReadWindowPlacement(&pt);
  PlaceWindow(pt.x, pt.y);
  CreatePanelImages();
  if (imgScreen.nWidth != kScreenWidth || imgWindow.nWidth != kPanelWidth) {
    ShowMessageBox(hwndMain, kScreenFailText, kFatalCaption, MsgIcon::Error);
    return 0;
  }
  return 1;
}

void MainWindowDestroy() {
  if (bDestroyed)
    return;
  bDestroyed = 1;
  WindowPoint pt = {0, 0};
  if (WindowHooks.pfnGetPos)
    WindowHooks.pfnGetPos(&pt.x, &pt.y);
  WriteWindowPlacement(&pt);
  ShutDown();
  GetEventLoop()->PostQuit(0);
}

void OnLeftDown(int32_t x, int32_t y, int32_t sx, int32_t sy) {
  int32_t wx = 0, wy = 0;
  if (WindowHooks.pfnGetPos)
    WindowHooks.pfnGetPos(&wx, &wy);
  ApplyEffect(PanelLeftDown(x, y, sx, sy, wx, wy, BoundSlots()));
}

void OnMouseMove(int32_t sx, int32_t sy) {
  ApplyEffect(PanelMouseMove(sx, sy));
}

void OnLeftUp(int32_t x, int32_t y) {
  // The popup menu opens where the button was released.
  nAnchorX = x;
  nAnchorY = y;
  ApplyEffect(PanelLeftUp(x, y));
}

void OnRightDown(int32_t x, int32_t y, int32_t sx, int32_t sy) {
  ApplyEffect(PanelRightDown(x, y, sx, sy));
}

void OnRightUp(int32_t bShift) {
  ApplyEffect(PanelRightUp(bShift));
}

void OnKeyDown(PanelKey key) {
  ApplyEffect(PanelKeyDown(key));
}

void OnFocus(int32_t bFocus) {
  bHasFocus = bFocus ? 1 : 0;
  Invalidate();
}

void OnFileDropped(const char *szPath) {
  if (bRecording || bDestroyed)
    return;
  if (bOutputOpen)
    StopPlay();
  LoadSmf(szPath);
  nStartMeasure = 0;
  ResetDisplayState();
  PostRedraw();
  if (WindowHooks.pfnRaise)
    WindowHooks.pfnRaise();
  StartPlay();
}
