#include "player/ui/dialogs/sound_test_logic.h"

#include <algorithm>

#include "player/output/playback.h"
#include "player/ui/dialogs/dialog_text.h"

void InitSoundTest(SoundTestFields *pFields) {
  *pFields = {"1", "1", "60", "1"};
}

int32_t PressSoundTestPlay(SoundTestFields *pFields, SoundTestNote *pNote) {
  if (bOutputOpen) // a playback or an earlier test still sounds
    return 0;
  const int32_t nProgram = std::clamp(ReadDlgInt(pFields->sProgram, 0) - 1, 0, 127);
  const int32_t nBank = std::clamp(ReadDlgInt(pFields->sBank, 0) - 1, 0, 127);
  const int32_t nNote = std::clamp(ReadDlgInt(pFields->sNote, 0), 1, 128);
  const int32_t nChannel = std::clamp(ReadDlgInt(pFields->sChannel, 0) - 1, 0, 15);
  // The dialog counts notes up to 128; MIDI keys end at 127.
  *pNote = {nProgram, nBank, std::min(nNote, 127), nChannel};
  if (nChannel == 9)
    pFields->sNote = std::to_string(nNote + 1);
  else
    pFields->sProgram = std::to_string(std::min(nProgram + 2, 128));
  return 1;
}
