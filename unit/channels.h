// The unit's own state of the sixteen MIDI channels and the decoding of the
// messages the host hands to MidiIn.
#pragma once

#include <cstdint>

namespace vokra {

constexpr int32_t kChannelCount = 16;
constexpr int32_t kRhythmChannel = 9;  // MIDI channel 10
constexpr int32_t kParamNone = 0x7F7F; // parameter number before any reset: data entry ignored

// One MIDI channel. Written by MidiIn (controllers, program, bend, pressure)
// unless the comment says otherwise; read by the voice engine and Make.
struct UnitChannel {
  int32_t nProgram;      // 0..127, program change
  int32_t nBank;         // 0..127, copy of nBankSelect taken at program change
  int32_t nBankSelect;   // 0..127, controller 32; used from the next program change
  int32_t nPressure;     // 0..127, channel pressure
  int32_t nVolumeSq;     // 0..16129, controller 7 squared
  int32_t nExpressionSq; // 0..16129, controller 11 squared
  int32_t nModulation;   // 0..127, controller 1: vibrato depth
  int32_t nPan;          // 0..127, controller 10
  int32_t nPanL;         // 0..63, left weight used by Make
  int32_t nPanR;         // 0..63, right weight used by Make
  int32_t nReverbSend;   // 0..127, controller 91 (stored only)
  int32_t nReverbSendSq; // its square (stored only)
  int32_t nChorusSend;   // 0..127, controller 93 (stored only)
  int32_t nFineTune;     // 0..16383, 0x2000 = none; data entry of parameter 0x0001
  int32_t nCoarseTune;   // 0..127, 64 = none; data entry of parameter 0x0002
  int32_t nPitchBend;    // 0..16383, 0x2000 = centre
  int32_t nBendRange;    // semitones 0..127; data entry of parameter 0x0000
  int32_t nParamNum;     // RPN/NRPN number: MSB in bits 8-15, LSB in bits 0-7
  int32_t bHold;         // 0/1, controller 64
  int32_t bRhythm;       // 0/1, drum channel: channel 10 by default, or by system exclusive
  int32_t nGain;         // 0..124, derived from pressure, volume and expression
  int32_t nAttackTime;   // 0..127, 64 = as the instrument; controller 73
  int32_t nReleaseTime;  // 0..127, 64 = as the instrument; controller 72
  int32_t nCutoff;       // 0..127, NRPN 0x0120 (stored only)
  int32_t nResonance;    // 0..127, NRPN 0x0121 (stored only)
  int32_t bReceive = 1;  // 0/1, note-ons accepted; written by the settings only
  int32_t nSum;          // voice samples of the current Make call (Make only)
  int32_t nVoiceCount;   // voices that produced a sample in the current Make call (Make only)
};

extern UnitChannel aUnitChannel[kChannelCount];

// Start values of all sixteen channels (bReceive untouched); ends with ResetControllers.
void InitChannels();
// Controller values of all sixteen channels back to their reset values; channel 10 drums.
void ResetControllers();
// nGain of one channel from pressure, volume and expression; nDivisor is 127 or 128.
void UpdateGain(UnitChannel &rChannel, int32_t nDivisor);
// Interprets a system-exclusive message; pData points behind 0xF0, nLength bytes.
void HandleSysEx(const uint8_t *pData, int32_t nLength);
// Interprets one message in EventMessage form; nSource is not used.
void MidiIn(const uint8_t *pMsg, int32_t nSource);

} // namespace vokra
