#include "sample_harness.h"

#include "common/unit_interface.h"
#include "fuzz_check.h"
#include "unit/channels.h"
#include "unit/unit_entry.h"
#include "unit/unit_state.h"
#include "unit/voices.h"

using namespace vokra;

namespace {

constexpr int32_t kHeldSamples = 1200;    // notes held: attack, decay, loops
constexpr int32_t kReleasedSamples = 400; // after the note-offs
constexpr int32_t kPlayRate = 22050;

void Send(uint8_t nStatus, uint8_t nData1, uint8_t nData2) {
  const bool bTwo = (nStatus & 0xF0) == 0xC0 || (nStatus & 0xF0) == 0xD0;
  const uint8_t abMsg[5] = {uint8_t(bTwo ? 2 : 3), 0, nStatus, nData1, nData2};
  MidiIn(abMsg, 0);
}

void Render(int32_t nSamples) {
  int32_t anAcc[kAccCount] = {};
  for (int32_t i = 0; i < nSamples; ++i) {
    Make(anAcc);
    int32_t nVoices = 0;
    for (int32_t ch = 0; ch < 16; ++ch) {
      nVoices += anAcc[kAccVoices + ch];
      anAcc[kAccLeft + ch] = anAcc[kAccRight + ch] = anAcc[kAccVoices + ch] = 0;
    }
    FUZZ_CHECK(nVoices >= 0 && nVoices <= kVoiceCount);
  }
  FUZZ_CHECK(nVoiceTop >= 0 && nVoiceTop <= kVoiceCount);
}

// Melodic notes across the range with vibrato and full bend, and one drum
// note: the map sends all of them to instrument 0.
void Play() {
  Send(0xC0, 0, 0);   // program change: locks the lock-on-use sample
  Send(0xC9, 0, 0);   // kit 0 on the rhythm channel
  Send(0xB0, 1, 127); // modulation: vibrato at full depth
  Send(0x90, 60, 100);
  Send(0x90, 0, 127);
  Send(0x90, 127, 1);
  Send(0xE0, 127, 127); // bend up, the fastest step
  Send(0x99, 36, 100);
  Render(kHeldSamples);
  Send(0x80, 60, 0);
  Send(0x80, 0, 0);
  Send(0x80, 127, 0);
  Send(0x89, 36, 0);
  Render(kReleasedSamples);
}

bool InitOnce() {
  InitUNIT(nullptr, "/fuzz/PLUGIN/");
  SetRate(kPlayRate);
  return true;
}

} // namespace

int FuzzSample(const uint8_t *pData, size_t nSize, PfnParseSample pfnParse, int32_t nType,
               PfnCheckSample pfnCheck) {
  static const bool bInit = InitOnce();
  (void)bInit;
  Instrument &inst = aInstrument[0];
  const int32_t bLoaded = pfnParse(inst, pData, nSize);
  FUZZ_CHECK(inst.nType == nType);
  if (!bLoaded) {
    FUZZ_CHECK(inst.pData == nullptr || inst.hData != nullptr);
    RemoveCFG();
    return 0;
  }
  FUZZ_CHECK(inst.hData != nullptr);
  FUZZ_CHECK(inst.nDataSize >= 0);
  FUZZ_CHECK(LockInstrument(0) == 1);
  for (int32_t i = 0; i < kBlockSlack; ++i)
    FUZZ_CHECK(inst.pData[inst.nDataSize + i] == 0);
  pfnCheck(inst, inst.pData, pData, nSize);

  // Played once plain and once interpolating, both envelope models as the type has it.
  for (int32_t bInterp = 0; bInterp < 2; ++bInterp) {
    bOverSample = bInterp;
    InitChannels();
    Play();
    StopAllVoices();
  }
  bOverSample = 0;
  RemoveCFG();
  return 0;
}
