// The sound test dialog ("TEST") without its window: its four edits and what
// a press of "再生" plays and leaves in them for the next press.
#pragma once

#include <cstdint>
#include <string>

enum SoundTestId : int32_t {
  kIdTestProgram = 201, // one-based
  kIdTestBank = 202,    // one-based
  kIdTestNote = 203,    // the key itself
  kIdTestChannel = 204, // one-based MIDI channel
  kIdTestPlay = 206,
};

struct SoundTestFields {
  std::string sProgram; // edit 201
  std::string sBank;    // edit 202
  std::string sNote;    // edit 203
  std::string sChannel; // edit 204
};

struct SoundTestNote {
  int32_t nProgram; // 0..127
  int32_t nBank;    // 0..127
  int32_t nKey;     // 1..127
  int32_t nChannel; // 0..15
};

// Program 1, bank 1, note 60, channel 1.
void InitSoundTest(SoundTestFields *pFields);
// A press of "再生": 0 while the device is open (bOutputOpen), else 1 with the
// note to play in *pNote and the fields stepped for the next press: the next
// note on the percussion channel (MIDI channel 10), the next program otherwise.
int32_t PressSoundTestPlay(SoundTestFields *pFields, SoundTestNote *pNote);
