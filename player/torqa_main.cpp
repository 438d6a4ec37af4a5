// torqa, the window program: start-up, the message loop with the accelerator
// keys, and the FLTK services the player's parts ask for.
#include <FL/Fl.H>
#include <FL/Fl_RGB_Image.H>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/audio_devices.h"
#include "platform/event_loop.h"
#include "platform/fltk_event_loop.h"
#include "platform/fltk_file_dialog.h"
#include "platform/fltk_message_box.h"
#include "platform/fltk_popup_menu.h"
#include "platform/message_box.h"
#include "platform/wave_out.h"
#include "player/app/settings_store.h"
#include "player/app/startup.h"
#include "player/output/playback.h"
#include "player/ui/dialogs/fltk_dialogs.h"
#include "player/ui/fltk_panel_text.h"
#include "player/ui/fltk_panel_window.h"
#include "player/ui/main_window.h"
#include "player/ui/panel_bitmaps.h"
#include "player/ui/panel_paint.h"
#include "player/ui/panel_state.h"
#include "player/ui/skin_bitmap.h"
#include "player/units/unit_host.h"
#include "tools/skin/builtin_images.h"

// Last: Xlib's macros (None, Status) clash with names above.
#include <FL/x.H>

namespace {

constexpr const char *kScreenFailText =
    "半透明スクリーン処理の為に使われる\r\nバッファメモリの確保に失敗しました。";
constexpr const char *kFatalCaption = "重度機能障害の報告";

PanelImage imgAbout; // "ABITMAP", the About box's picture
PanelImage imgIcon;  // "A0Torqa"

void LoadBuiltin(const char *szName, PanelImage &img) {
  const BuiltinImage *p = FindBuiltinImage(szName);
  if (p)
    DecodeBmp(p->pData, p->nSize, img);
}

void *CreateAbout(void *hwnd) {
  return CreateAboutDialog(hwnd, imgAbout.aPixel.data(), imgAbout.nWidth, imgAbout.nHeight);
}

void ScreenSlideHook(void *) {
  PlayScreenSlide();
}

// The accelerator table: the command a key press stands for, 0 for none.
int32_t AcceleratorCommand(int nKey, int nState) {
  const bool bCtrl = (nState & FL_CTRL) != 0;
  const bool bAlt = (nState & FL_ALT) != 0;
  if (bCtrl && !bAlt) {
    switch (nKey) {
    case 'o':
      return 101;
    case 'q':
      return 109;
    case 'h':
      return 111;
    case 's':
      return 151;
    case 't':
      return 161;
    case 'r':
      return 171;
    case 'a':
      return 181;
    case FL_F + 1:
      return 191;
    case FL_F + 2:
      return 192;
    case FL_F + 3:
      return 193;
    default:
      return 0;
    }
  }
  if (bAlt && !bCtrl)
    return nKey == FL_F + 4 ? 109 : 0;
  if (nKey == ' ')
    return 121;
  if (nKey == FL_BackSpace)
    return 111; // Backspace gives the same character as Ctrl+H
  if (nKey == FL_F + 1)
    return 182;
  return 0;
}

int32_t AcceleratorHook(int nFlEvent) {
  if (nFlEvent != FL_KEYDOWN && nFlEvent != FL_SHORTCUT)
    return 0;
  const int32_t nCommand = AcceleratorCommand(Fl::event_key(), Fl::event_state());
  if (!nCommand)
    return 0;
  PostLoopMessage(kWmCommand, static_cast<uintptr_t>(nCommand), 0);
  return 1;
}

// The one file name the command line holds: the arguments joined by blanks,
// a quoted name without its quotes.
std::string CommandLineFile(int argc, char **argv) {
  std::string s;
  for (int i = 1; i < argc; ++i) {
    if (i > 1)
      s += ' ';
    s += argv[i];
  }
  if (!s.empty() && s[0] == '"') {
    const size_t nEnd = s.find('"', 1);
    s = s.substr(1, nEnd == std::string::npos ? std::string::npos : nEnd - 1);
  }
  return s;
}

} // namespace

int main(int argc, char **argv) {
  // Said apart from other failures (exit 69, as torqa-cli's missing sound
  // device) so that run.sh can fall back to the terminal tool.
  Display *pDisplay = XOpenDisplay(nullptr);
  if (!pDisplay) {
    std::fprintf(stderr, "torqa: no display to open the window on\n");
    return 69;
  }
  fl_open_display(pDisplay);
  SetStartValues();
  ResetPanelState();
  SetWaveOutDriver(GetSdlWaveOutDriver());
  ListOutputDevices();
  SetProgramDirectories(nullptr);
  const std::string sCmdFile = CommandLineFile(argc, argv);
  ClearUnitSlots();

  FltkEventLoop loop;
  SetEventLoop(&loop);
  SetMessageHandler(MainWindowProc);
  FltkMessageSink sink;
  SetMessageSink(&sink);
  FltkFileDialog fileDialog;
  SetFileDialog(&fileDialog);
  FltkPopupMenu unitMenu;
  pUnitMenu = &unitMenu;
  FltkPanelText panelText;
  pPanelText = &panelText;
  SetFltkDialogHooks(&DialogHooks, ListOutputDevices);
  DialogHooks.pfnCreateAbout = CreateAbout;
  DialogHooks.pfnScreenSlide = ScreenSlideHook;
  LoadBuiltin("ABITMAP.bmp", imgAbout);
  LoadBuiltin("A0Torqa.bmp", imgIcon);

  Fl::visual(FL_RGB);
  FltkPanelWindow window;
  SetMainWindow(&window);
  SetFltkWindowHooks(&window);
  std::vector<unsigned char> aIcon;
  Fl_RGB_Image *pIcon = nullptr;
  if (imgIcon.nWidth > 0) {
    for (uint32_t px : imgIcon.aPixel) {
      aIcon.push_back(static_cast<unsigned char>(px >> 16));
      aIcon.push_back(static_cast<unsigned char>(px >> 8));
      aIcon.push_back(static_cast<unsigned char>(px));
    }
    pIcon = new Fl_RGB_Image(aIcon.data(), imgIcon.nWidth, imgIcon.nHeight, 3);
    window.icon(pIcon);
  }

  LoadSettings();
  int32_t bReady = MainWindowCreate(sCmdFile.c_str());
  if (bReady && !LoadPanelBitmaps(szProgramDir)) {
    ShowMessageBox(hwndMain, kScreenFailText, kFatalCaption, MsgIcon::Error);
    bReady = 0;
  }
  int32_t nExit = 1;
  if (bReady) {
    BindSavedUnits(); // a first run puts the first unit in slot 0
    PaintPanel();
    window.show();
    loop.SetAcceleratorHook(AcceleratorHook);
    PostLoopMessage(UM_INIT, 0, 0);
    nExit = loop.Run();
    loop.SetAcceleratorHook(nullptr);
  } else {
    MainWindowDestroy();
  }
  window.hide();
  pPanelText = nullptr;
  SetMessageHandler(nullptr);
  SetEventLoop(nullptr);
  delete pIcon;
  ShutdownSdlWaveOut();
  return nExit;
}
