// Routing of MIDI messages to the bound units and the player's shadow of each
// MIDI channel (pan, sends, mute, plus the render loop's per-channel values).
#pragma once

#include <cstdint>

constexpr int32_t k3DLineLength = 16384; // entries per 3D delay line (index AND 16383)

struct ChannelState {
  // Kept by the routing (controllers) and the user interface.
  int32_t nPan;          // controller 10, 0..127; 63 after reset
  int32_t nReverbSendSq; // controller 91 squared, 0..16129; 1600 after reset
  int32_t nChorusSend;   // controller 93, 0..127; 0 after reset
  int32_t bMute;         // set by the panel; not reset
  // Owned by the render loop.
  int32_t nLevelOut; // voices sounding at the block's last sample
  int32_t nPeakL;    // block peak, 1/1024 units (1/256 in the sound test)
  int32_t nPeakR;
  // Owned by the 3D engine.
  int32_t n3DTapL; // tap distances in samples, 3..2534
  int32_t n3DTapR;
  int32_t an3DLineL[k3DLineLength];
  int32_t an3DLineR[k3DLineLength];
};

extern ChannelState aChannels[16];

// Recipients of a message.
enum : int32_t {
  kToLoaded = 0, // every slot whose library is loaded
  kToActive = 1, // every slot whose bActive is 1
};

// Calls MidiIn(pMsg, nSource) on each qualifying slot 0..7 in order.
void SendToUnits(const uint8_t *pMsg, int32_t nSource, int32_t nRecipients);
// Updates the shadow after a control change from the song.
void ApplyControlChange(int32_t nChannel, int32_t nController, int32_t nValue);
void ResetChannels();
void UpdateChannelPan(int32_t nChannel);
void SendAllNotesOff();
// The five-message reset of every channel of every loaded unit (play, record).
void SendResetSequence();
// The sound test's messages (channel index 0-15, key unchanged).
void SendSoundTestMessages(int32_t nProgram, int32_t nBank, int32_t nKey, int32_t nChannel);
