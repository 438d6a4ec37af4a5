// Channel start values, controller reset, channel gain and the rhythm-part
// system-exclusive messages.
#include "unit/channels.h"

namespace vokra {

// Constant-initialised: the library's load-time constructor stores the
// receive flags before any dynamic initialiser would run.
constinit UnitChannel aUnitChannel[kChannelCount] = {};

namespace {
constexpr int32_t kGainShift = 2097152; // 2^21: pressure x volume^2 x expression^2 to 0..124
constexpr int32_t kFullExpressionSq = 127 * 127;
} // namespace

void UpdateGain(UnitChannel &rChannel, int32_t nDivisor) {
  rChannel.nGain =
      ((rChannel.nPressure * rChannel.nVolumeSq) / nDivisor) * rChannel.nExpressionSq / kGainShift;
}

void ResetControllers() {
  for (UnitChannel &rChannel : aUnitChannel) {
    rChannel.nPressure = 127;
    rChannel.nExpressionSq = kFullExpressionSq;
    rChannel.nModulation = 0;
    rChannel.nPitchBend = 0x2000;
    rChannel.nParamNum = 0;
    rChannel.bHold = 0;
    UpdateGain(rChannel, 127);
  }
  // Other channels keep a rhythm flag a system-exclusive message gave them.
  aUnitChannel[kRhythmChannel].bRhythm = 1;
}

void InitChannels() {
  for (UnitChannel &rChannel : aUnitChannel) {
    rChannel.nProgram = 0;
    rChannel.nBank = 0;
    rChannel.nBankSelect = 0;
    rChannel.nVolumeSq = 10000;
    rChannel.nPan = 63;
    rChannel.nPanL = 63;
    rChannel.nPanR = 63;
    rChannel.nReverbSend = 40;
    rChannel.nReverbSendSq = 1600;
    rChannel.nChorusSend = 0;
    rChannel.nFineTune = 0x2000;
    rChannel.nCoarseTune = 64;
    rChannel.nBendRange = 2;
    rChannel.nParamNum = kParamNone;
    rChannel.bRhythm = 0;
    rChannel.nAttackTime = 64;
    rChannel.nReleaseTime = 64;
    rChannel.nCutoff = 64;
    rChannel.nResonance = 64;
    rChannel.nSum = 0;
    rChannel.nVoiceCount = 0;
    // Pressure and expression are set by ResetControllers below; give the
    // first gain computation defined inputs.
    rChannel.nPressure = 127;
    rChannel.nExpressionSq = kFullExpressionSq;
    UpdateGain(rChannel, 127);
  }
  aUnitChannel[kRhythmChannel].bRhythm = 1;
  ResetControllers();
}

void HandleSysEx(const uint8_t *pData, int32_t nLength) {
  if (nLength < 7)
    return;
  // The value byte of the first form is the eighth; a seven-byte message has
  // only EventMessage's terminating 0x00 there, so read it as 0.
  const int32_t nValue7 = nLength >= 8 ? pData[7] : 0;

  // Rhythm part, first form: address 40 1x 15, block x names the part.
  if (pData[0] == 0x41 && pData[3] == 0x12 && pData[4] == 0x40 && pData[6] == 0x15 &&
      (pData[5] & 0x10) != 0) {
    const int32_t nBlock = pData[5] & 15;
    int32_t nChannel;
    if (nBlock == 0)
      nChannel = kRhythmChannel;
    else if (nBlock <= 9)
      nChannel = nBlock - 1;
    else
      nChannel = nBlock;
    aUnitChannel[nChannel].bRhythm = nValue7 != 0 ? 1 : 0;
  }
  // Rhythm part, second form.
  if (pData[0] == 0x43 && pData[3] == 0x08 && pData[5] == 0x07) {
    aUnitChannel[pData[4] & 15].bRhythm = pData[6] != 0 ? 1 : 0;
  }
}

} // namespace vokra
