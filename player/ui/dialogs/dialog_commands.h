// The main window's commands that open dialogs (111 HDDR, 151 Setup, 161
// sound test, 181 About, 191 track information) and the busy rules that
// refuse them while a playback, a recording or a dialog would be disturbed.
// Plain functions over the engine flags; the window supplies the dialogs.
#pragma once

#include <cstdint>

extern void *hwndAbout; // the About box, null when closed (the About box and command 181)

// The dialogs the commands run; the window passes the toolkit's, tests their twins.
struct DialogCommandHooks {
  int32_t (*pfnRunHdr1)(void *hwnd);                  // modal; the chosen rate or 0
  int32_t (*pfnRecordWav)(int32_t nRate, void *hwnd); // the save dialog and the recording
  int32_t (*pfnRunSetup)(void *hwnd);                 // modal; 1 when confirmed
  void *(*pfnCreateSoundTest)(void *hwnd);            // modeless; its handle
  void (*pfnDestroySoundTest)(void *hwndDialog);
  void *(*pfnCreateAbout)(void *hwnd); // modeless; its handle
  void (*pfnScreenSlide)(void *hwnd);
  void (*pfnRunTrackInfo)(void *hwnd); // modal
  void (*pfnSaveSettings)();
};

// Each 1 when its command may run now.
int32_t CanRecord();        // no output open, no sound test, no recording, a song loaded
int32_t CanSetup();         // no output open, no recording
int32_t CanOpenSoundTest(); // not open already, not playing, no recording
int32_t CanOpenAbout();     // not open already

// The commands; each does nothing when its rule refuses.
void CmdRecord(void *hwnd, const DialogCommandHooks &hooks);    // 111
void CmdSetup(void *hwnd, const DialogCommandHooks &hooks);     // 151
void CmdSoundTest(void *hwnd, const DialogCommandHooks &hooks); // 161
void CmdAbout(void *hwnd, const DialogCommandHooks &hooks);     // 181
void CmdTrackInfo(void *hwnd, const DialogCommandHooks &hooks); // 191
