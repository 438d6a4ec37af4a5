// The unit's entry points behind the plug-in exports: identification,
// initialisation, rate and the per-sample mixing step Make.
#include <cstdio>
#include <cstring>

#include "common/audio_math.h"
#include "common/unit_interface.h"
#include "unit/channels.h"
#include "unit/soundset.h"
#include "unit/unit_entry.h"
#include "unit/unit_state.h"
#include "unit/voices.h"

namespace vokra {

namespace {
constexpr char kUnitName[] = "VOKRA SOUND GENERATOR";
constexpr int32_t kUnitType = 0x20000;
constexpr int32_t kUnitVersion = 111;
constexpr int32_t kDefaultRate = 44100;
constexpr int32_t kLfoRateDivisor = 2560; // vibrato phase steps every nRate / 2560 + 1 samples

} // namespace

int32_t GetType() {
  return kUnitType;
}

int32_t GetName(char *pszName) {
  if (pszName != nullptr)
    std::memcpy(pszName, kUnitName, sizeof kUnitName);
  return static_cast<int32_t>(sizeof kUnitName - 1);
}

int32_t GetVer() {
  return kUnitVersion;
}

int32_t TestDLL() {
  return 0;
}

void InitUNIT(void *hwnd, const char *pszDir) {
  hwndHost = hwnd;
  // The host passes its program directory + "PLUGIN/". One that does not fit
  // is reported and loads no set, rather than a set from a shorter path.
  if (pszDir == nullptr)
    pszDir = "";
  const size_t nDirLen = std::strlen(pszDir);
  bUnitDirTooLong = nDirLen >= size_t(kUnitDirBytes) ? 1 : 0;
  if (bUnitDirTooLong) {
    std::fprintf(stderr, "vokraunit: unit directory of %zu bytes (at most %d): no sound set\n",
                 nDirLen, kUnitDirBytes - 1);
    pszDir = "";
  }
  std::memcpy(szUnitDir, pszDir, std::strlen(pszDir) + 1);
  StopAllVoices();
  InitChannels();
  BuildLfoSine();
  nLfoPhase = 0;
  nLfoCount = 0;
  BuildVelocityCurve();
  ClearInstruments();
  nRate = kDefaultRate;
}

int32_t SetRate(int32_t nNewRate) {
  // A rate of 0 or below would divide by zero in NoteToStep and never let
  // the envelope clock run down; such a rate keeps the previous one.
  if (nNewRate > 0)
    nRate = nNewRate;
  return nNewRate;
}

void StepLfo() {
  if (--nLfoCount < 0) {
    nLfoPhase = (nLfoPhase + 1) & 511;
    nLfoCount = nRate / kLfoRateDivisor;
  }
}

void Make(int32_t *pAcc) {
  StepLfo();
  MixVoices();
  for (int32_t ch = 0; ch < kChannelCount; ++ch) {
    UnitChannel &rChannel = aUnitChannel[ch];
    if (rChannel.nSum == 0 && rChannel.nVoiceCount == 0)
      continue; // adds 0 everywhere
    const int64_t nMix = static_cast<int64_t>(rChannel.nSum) * rChannel.nGain;
    pAcc[kAccLeft + ch] = Wrap32(pAcc[kAccLeft + ch] + nMix * rChannel.nPanL / kPanScale);
    pAcc[kAccRight + ch] = Wrap32(pAcc[kAccRight + ch] + nMix * rChannel.nPanR / kPanScale);
    pAcc[kAccVoices + ch] =
        Wrap32(static_cast<int64_t>(pAcc[kAccVoices + ch]) + rChannel.nVoiceCount);
    rChannel.nSum = 0;
    rChannel.nVoiceCount = 0;
  }
}

} // namespace vokra
