// Routing of every MIDI message to the bound units, the player's own reset
// sequences, and the small shadow of channel state the mixer needs.
#include "player/song/routing.h"

#include "common/unit_interface.h"
#include "player/state/engine_hooks.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"

ChannelState aChannels[16];

constexpr int32_t kChannels = 16;

// Controllers the player shadows or sends itself.
enum : int32_t {
  kCtlBankMsb = 0,
  kCtlVolume = 7,
  kCtlPan = 10,
  kCtlBankLsb = 32,
  kCtlReverbSend = 91,
  kCtlChorusSend = 93,
  kCtlResetAll = 121,
  kCtlAllNotesOff = 123,
};

constexpr int32_t kResetPan = 63;
constexpr int32_t kResetReverbSend = 40; // shadowed squared: 1600
constexpr int32_t kResetVolume = 100;
constexpr int32_t kTestVelocity = 120;

static int32_t SlotLoaded(const UnitSlot &slot) {
  return slot.hModule != nullptr;
}

static void SendToSlot(const UnitSlot &slot, const uint8_t *pMsg, int32_t nSource) {
  if (slot.pfnMidiIn)
    slot.pfnMidiIn(pMsg, nSource);
}

void SendToUnits(const uint8_t *pMsg, int32_t nSource, int32_t nRecipients) {
  for (int32_t i = 0; i < kUnitSlots; ++i) {
    const UnitSlot &slot = aUnitSlots[i];
    if (!SlotLoaded(slot))
      continue;
    if (nRecipients == kToActive && slot.bActive != 1)
      continue;
    SendToSlot(slot, pMsg, nSource);
  }
}

static void SendControl(const UnitSlot &slot, int32_t nChannel, int32_t nController,
                        int32_t nValue) {
  const uint8_t abMsg[5] = {3, 0, static_cast<uint8_t>(0xB0 | nChannel),
                            static_cast<uint8_t>(nController), static_cast<uint8_t>(nValue)};
  SendToSlot(slot, abMsg, kSourcePlayer);
}

static void SendProgram(const UnitSlot &slot, int32_t nChannel, int32_t nProgram) {
  const uint8_t abMsg[4] = {2, 0, static_cast<uint8_t>(0xC0 | nChannel),
                            static_cast<uint8_t>(nProgram)};
  SendToSlot(slot, abMsg, kSourcePlayer);
}

void UpdateChannelPan(int32_t nChannel) {
  // The taps are the 3D engine's: it owns the formula and n3DTapUnit.
  if (Hooks.pfnPanChanged)
    Hooks.pfnPanChanged(nChannel);
}

void ApplyControlChange(int32_t nChannel, int32_t nController, int32_t nValue) {
  ChannelState &channel = aChannels[nChannel & 0x0F];
  switch (nController) {
  case kCtlPan:
    channel.nPan = nValue;
    UpdateChannelPan(nChannel & 0x0F);
    break;
  case kCtlReverbSend:
    channel.nReverbSendSq = nValue * nValue;
    break;
  case kCtlChorusSend:
    channel.nChorusSend = nValue;
    break;
  default: // everything else, channel mode messages included, is only forwarded
    break;
  }
}

void ResetChannels() {
  for (int32_t ch = 0; ch < kChannels; ++ch) {
    ChannelState &channel = aChannels[ch];
    channel.nPan = kResetPan;
    channel.nReverbSendSq = kResetReverbSend * kResetReverbSend;
    channel.nChorusSend = 0;
    UpdateChannelPan(ch); // bMute is the user's and survives
  }
  nMasterGain = 127;
}

void SendAllNotesOff() {
  for (int32_t i = 0; i < kUnitSlots; ++i) {
    if (!SlotLoaded(aUnitSlots[i]))
      continue;
    for (int32_t ch = 0; ch < kChannels; ++ch)
      SendControl(aUnitSlots[i], ch, kCtlAllNotesOff, 0);
  }
}

// Pan centre, reset controllers, notes off and (when bProgram) program 0, volume 100.
static void SendChannelResets(const UnitSlot &slot, int32_t nChannel, int32_t bProgram) {
  SendControl(slot, nChannel, kCtlPan, kResetPan);
  SendControl(slot, nChannel, kCtlResetAll, 0);
  SendControl(slot, nChannel, kCtlAllNotesOff, 0);
  if (bProgram)
    SendProgram(slot, nChannel, 0);
  SendControl(slot, nChannel, kCtlVolume, kResetVolume);
}

void SendResetSequence() {
  for (int32_t i = 0; i < kUnitSlots; ++i) {
    if (!SlotLoaded(aUnitSlots[i]))
      continue;
    for (int32_t ch = 0; ch < kChannels; ++ch)
      SendChannelResets(aUnitSlots[i], ch, 1);
  }
}

void SendSoundTestMessages(int32_t nProgram, int32_t nBank, int32_t nKey, int32_t nChannel) {
  const int32_t nTestChannel = nChannel & 0x0F;
  for (int32_t i = 0; i < kUnitSlots; ++i) {
    if (!SlotLoaded(aUnitSlots[i]))
      continue;
    for (int32_t ch = 0; ch < kChannels; ++ch)
      SendChannelResets(aUnitSlots[i], ch, 0);
  }
  // The test messages go out on every channel index alike. Index 10 (MIDI
  // channel 11) is an ordinary melodic channel and is tested like the others;
  // only index 9, the rhythm channel, is treated differently, by the test dialog.
  for (int32_t i = 0; i < kUnitSlots; ++i) {
    const UnitSlot &slot = aUnitSlots[i];
    if (!SlotLoaded(slot))
      continue;
    SendControl(slot, nTestChannel, kCtlBankMsb, 0);
    SendControl(slot, nTestChannel, kCtlBankLsb, nBank & 0x7F);
    SendProgram(slot, nTestChannel, nProgram & 0x7F);
    const uint8_t abNoteOn[5] = {3, 0, static_cast<uint8_t>(0x90 | nTestChannel),
                                 static_cast<uint8_t>(nKey), kTestVelocity};
    SendToSlot(slot, abNoteOn, kSourcePlayer);
  }
}
