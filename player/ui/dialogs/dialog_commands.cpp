#include "player/ui/dialogs/dialog_commands.h"

#include "player/output/playback.h"
#include "player/state/engine_state.h"
#include "player/render/wav_recorder.h"
#include "player/song/song.h"

void *hwndAbout = nullptr;

int32_t CanRecord() {
  return !bOutputOpen && !hwndTest && !bRecording && hSongMem;
}
int32_t CanSetup() {
  return !bOutputOpen && !bRecording;
}
int32_t CanOpenSoundTest() {
  return !hwndTest && !bPlaying && !bRecording;
}
int32_t CanOpenAbout() {
  return !hwndAbout;
}

void CmdRecord(void *hwnd, const DialogCommandHooks &hooks) {
  if (!CanRecord())
    return;
  bRecording = 1; // the rate dialog already counts as recording
  const int32_t nRate = hooks.pfnRunHdr1(hwnd);
  if (nRate) {
    hooks.pfnRecordWav(nRate, hwnd);
    bPlaying = 0;
  }
  bRecording = 0;
}

void CmdSetup(void *hwnd, const DialogCommandHooks &hooks) {
  if (!CanSetup())
    return;
  // The sound test is closed around Setup and comes back with its start values.
  const bool bHadTest = hwndTest != nullptr;
  if (bHadTest) {
    hooks.pfnDestroySoundTest(hwndTest);
    hwndTest = nullptr;
  }
  const int32_t bConfirmed = hooks.pfnRunSetup(hwnd);
  if (bHadTest)
    hwndTest = hooks.pfnCreateSoundTest(hwnd);
  if (bConfirmed)
    hooks.pfnSaveSettings();
}

void CmdSoundTest(void *hwnd, const DialogCommandHooks &hooks) {
  if (CanOpenSoundTest())
    hwndTest = hooks.pfnCreateSoundTest(hwnd);
}

void CmdAbout(void *hwnd, const DialogCommandHooks &hooks) {
  if (CanOpenAbout())
    hwndAbout = hooks.pfnCreateAbout(hwnd);
}

void CmdTrackInfo(void *hwnd, const DialogCommandHooks &hooks) {
  hooks.pfnScreenSlide(hwnd);
  hooks.pfnRunTrackInfo(hwnd);
}
