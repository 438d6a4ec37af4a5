// Decoding of one EventMessage: notes, controllers, data entry, program,
// pressure and bend.
#include "common/unit_interface.h"
#include "unit/channels.h"
#include "unit/soundset.h"
#include "unit/voices.h"

namespace vokra {

namespace {

enum : int32_t {
  kParamBendRange = 0x0000,
  kParamFineTune = 0x0001,
  kParamCoarseTune = 0x0002,
  kParamCutoff = 0x0120,
  kParamResonance = 0x0121,
};

void DataEntry(int32_t nChannel, int32_t nController, int32_t v) {
  UnitChannel &rChannel = aUnitChannel[nChannel];
  const bool bMsb = nController == 6;
  switch (rChannel.nParamNum) {
  case kParamBendRange:
    // Takes the value from the LSB; sounding voices keep their pitch.
    if (!bMsb)
      rChannel.nBendRange = v;
    break;
  case kParamFineTune:
    // Controller 6 holds bits 0-6, controller 38 bits 7-13.
    if (bMsb)
      rChannel.nFineTune = (rChannel.nFineTune & 0x3F80) | v;
    else
      rChannel.nFineTune = v * 128 | (rChannel.nFineTune & 0x7F);
    if (!rChannel.bRhythm)
      RetuneChannel(nChannel);
    break;
  case kParamCoarseTune:
    if (bMsb)
      break;
    rChannel.nCoarseTune = v;
    if (!rChannel.bRhythm)
      RetuneChannel(nChannel);
    break;
  case kParamCutoff:
    rChannel.nCutoff = v;
    break;
  case kParamResonance:
    rChannel.nResonance = v;
    break;
  default:
    break;
  }
}

void ControlChange(int32_t nChannel, int32_t nController, int32_t v) {
  UnitChannel &rChannel = aUnitChannel[nChannel];
  switch (nController) {
  case 1:
    if (rChannel.bRhythm != 1)
      rChannel.nModulation = v;
    break;
  case 6:
  case 38:
    DataEntry(nChannel, nController, v);
    break;
  case 7:
    rChannel.nVolumeSq = v * v;
    UpdateGain(rChannel, 128);
    break;
  case 10:
    rChannel.nPan = v;
    rChannel.nPanL = 127 - v < 63 ? 127 - v : 63;
    rChannel.nPanR = v < 63 ? v : 63;
    break;
  case 11:
    rChannel.nExpressionSq = v * v;
    UpdateGain(rChannel, 127);
    break;
  case 32:
    rChannel.nBankSelect = v;
    break;
  case 64:
    if (v >= 64) {
      rChannel.bHold = 1;
    } else {
      rChannel.bHold = 0;
      if (!rChannel.bRhythm)
        ReleaseHeld(nChannel);
    }
    break;
  case 72:
    rChannel.nReleaseTime = v;
    break;
  case 73:
    rChannel.nAttackTime = v;
    break;
  case 91:
    rChannel.nReverbSend = v;
    rChannel.nReverbSendSq = v * v;
    break;
  case 93:
    rChannel.nChorusSend = v;
    break;
  case 98:
  case 100:
    rChannel.nParamNum = (rChannel.nParamNum & 0xFF00) | v;
    break;
  case 99:
  case 101:
    rChannel.nParamNum = v * 256 | (rChannel.nParamNum & 0xFF);
    break;
  // 120, 121 and 123 act on the whole unit, whatever channel they arrive on.
  case 120:
    ResetControllers();
    StopAllVoices();
    break;
  case 121:
    ResetControllers();
    break;
  case 123:
    StopAllVoices();
    break;
  default:
    break;
  }
}

void ProgramChange(int32_t nChannel, int32_t nProgram) {
  UnitChannel &rChannel = aUnitChannel[nChannel];
  rChannel.nProgram = nProgram;
  rChannel.nBank = rChannel.nBankSelect;
  if (rChannel.bRhythm)
    return; // the program is the drum kit
  rChannel.nAttackTime = 64;
  rChannel.nReleaseTime = 64;
  rChannel.nCutoff = 64;
  rChannel.nResonance = 64;
  LockInstrument(anProgramMap[rChannel.nProgram][rChannel.nBank]);
}

} // namespace

void MidiIn(const uint8_t *pMsg, int32_t nSource) {
  (void)nSource;
  const int32_t nStatus = pMsg[kMsgStatus];
  if (nStatus == 0xF0) {
    const int32_t nLength = pMsg[kMsgLenLo] | pMsg[kMsgLenHi] << 8;
    HandleSysEx(pMsg + kMsgData1, nLength);
    return;
  }
  if (nStatus < 0x80 || nStatus > 0xEF)
    return;
  const int32_t c = nStatus & 15;
  const int32_t d1 = pMsg[kMsgData1] & 0x7F;
  // Program change and channel pressure carry one data byte; d2 is read
  // only for the messages that have it.
  const auto Data2 = [pMsg] { return pMsg[kMsgData2] & 0x7F; };
  UnitChannel &rChannel = aUnitChannel[c];
  switch (nStatus >> 4) {
  case 0x8:
    if (!rChannel.bRhythm)
      NoteOff(c, d1);
    break;
  case 0x9: {
    const int32_t d2 = Data2();
    if (d2 == 0) {
      if (!rChannel.bRhythm)
        NoteOff(c, d1);
    } else if (rChannel.bReceive) {
      NoteOn(c, d1, d2);
    }
    break;
  }
  case 0xA:
    ApplyPolyPressure(c, d1, Data2());
    break;
  case 0xB:
    ControlChange(c, d1, Data2());
    break;
  case 0xC:
    ProgramChange(c, d1);
    break;
  case 0xD:
    rChannel.nPressure = d1;
    UpdateGain(rChannel, 128);
    break;
  default: // 0xE
    rChannel.nPitchBend = Data2() * 128 + d1;
    if (!rChannel.bRhythm)
      RetuneChannel(c);
    break;
  }
}

} // namespace vokra
