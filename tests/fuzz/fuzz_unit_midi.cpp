// The sound unit's message decoder: any sequence of well-formed messages (the
// form the sequencer is checked to produce in fuzz_smf) goes to MidiIn, with
// rendering in between, over a small set of loaded EPC, FPV and patch
// instruments. Channel values must stay in their documented ranges and the
// voices must refer to real channels and instruments.
#include <vector>

#include "common/unit_interface.h"
#include "fuzz_check.h"
#include "support/sample_writers.h"
#include "unit/channels.h"
#include "unit/soundset.h"
#include "unit/unit_entry.h"
#include "unit/unit_state.h"
#include "unit/voices.h"

using namespace vokra;

namespace {

constexpr int32_t kMaxRenderedSamples = 20000; // per input
constexpr int32_t kRates[4] = {5200, 22050, 44100, 96000};

// Instrument 0 (every unassigned program and drum note): a looping EPC;
// 1 (program 1, drum note 38): a five-stage FPV; 2 (program 2): a patch.
void LoadInstruments() {
  std::vector<int16_t> wave;
  for (int i = 0; i < 300; ++i)
    wave.push_back(int16_t((i % 30) * 2000 - 30000));
  testsupport::EpcFields epc;
  epc.nEnd = 598;
  epc.nLoopStart = 100;
  epc.bLoop = 1;
  epc.nAttackStep = 30;
  epc.nDecayPeriod = 2;
  epc.nDecay2Period = 5;
  epc.nReleaseStep = 6;
  epc.nDecayLevel = 90;
  epc.nFloorLevel = 30;
  const testsupport::Bytes abEpc = testsupport::MakeEpc(epc, wave);
  FUZZ_CHECK(ParseEpcSample(aInstrument[0], abEpc.data(), abEpc.size()) == 1);

  testsupport::FpvFields fpv;
  fpv.nEnd = 299;
  fpv.nLoopStart = 50;
  fpv.nAttackRate = 80;
  fpv.nDecay1Rate = 30;
  fpv.nDecay1Depth = -40;
  fpv.nDecay2Rate = 20;
  fpv.nDecay2Depth = 50;
  fpv.nDecay3Rate = 10;
  fpv.nReleaseRate = 60;
  fpv.nPeakLevel = 255;
  fpv.nRateDivider = 1;
  const testsupport::Bytes abFpv = testsupport::MakeFpv(fpv, testsupport::Le16Bytes(wave));
  FUZZ_CHECK(ParseFpvSample(aInstrument[1], abFpv.data(), abFpv.size()) == 1);

  std::vector<testsupport::PatWave> waves(1);
  waves[0].data = testsupport::Le16Bytes(wave);
  waves[0].nMode = 1 | 4;
  waves[0].nLoopStart = 100;
  waves[0].nLoopEnd = 500;
  waves[0].abRate[0] = 0x3F;
  const testsupport::Bytes abPat = testsupport::MakePat(waves);
  FUZZ_CHECK(ParsePatSample(aInstrument[2], abPat.data(), abPat.size()) == 1);

  for (int32_t b = 0; b < kMapSize; ++b) {
    anProgramMap[1][b] = 1;
    anProgramMap[2][b] = 2;
    anDrumMap[38][b] = 1;
  }
}

bool InitOnce() {
  InitUNIT(nullptr, "/fuzz/PLUGIN/");
  LoadInstruments();
  return true;
}

FUZZ_NO_COVERAGE void CheckChannels() {
  for (const UnitChannel &c : aUnitChannel) {
    FUZZ_CHECK(c.nProgram >= 0 && c.nProgram <= 127);
    FUZZ_CHECK(c.nBank >= 0 && c.nBank <= 127);
    FUZZ_CHECK(c.nBankSelect >= 0 && c.nBankSelect <= 127);
    FUZZ_CHECK(c.nPan >= 0 && c.nPan <= 127);
    FUZZ_CHECK(c.nPanL >= 0 && c.nPanL <= 63 && c.nPanR >= 0 && c.nPanR <= 63);
    FUZZ_CHECK(c.nVolumeSq >= 0 && c.nVolumeSq <= 16129);
    FUZZ_CHECK(c.nExpressionSq >= 0 && c.nExpressionSq <= 16129);
    FUZZ_CHECK(c.nModulation >= 0 && c.nModulation <= 127);
    FUZZ_CHECK(c.nPitchBend >= 0 && c.nPitchBend <= 16383);
    FUZZ_CHECK(c.nBendRange >= 0 && c.nBendRange <= 127);
    FUZZ_CHECK(c.nFineTune >= 0 && c.nFineTune <= 16383);
    FUZZ_CHECK(c.nCoarseTune >= 0 && c.nCoarseTune <= 127);
    FUZZ_CHECK(c.nGain >= 0 && c.nGain <= 124);
    FUZZ_CHECK(c.bHold == 0 || c.bHold == 1);
    FUZZ_CHECK(c.bRhythm == 0 || c.bRhythm == 1);
  }
}

FUZZ_NO_COVERAGE void CheckVoices() {
  FUZZ_CHECK(nVoiceTop >= 0 && nVoiceTop <= kVoiceCount);
  for (int32_t v = 0; v < kVoiceCount; ++v) {
    const Voice &voice = aVoice[v];
    if (!voice.bActive)
      continue;
    FUZZ_CHECK(v < nVoiceTop);
    FUZZ_CHECK(voice.nChannel >= 0 && voice.nChannel < kChannelCount);
    FUZZ_CHECK(voice.nInstrument >= 0 && voice.nInstrument < kInstruments);
    FUZZ_CHECK(voice.nNote >= 0 && voice.nNote <= kNoteReleased);
  }
}

void Render(int32_t nSamples) {
  int32_t anAcc[kAccCount] = {};
  for (int32_t i = 0; i < nSamples; ++i) {
    Make(anAcc);
    for (int32_t &n : anAcc)
      n = 0;
  }
}

// Sends a message of exactly its own size, so a read past it is caught.
void Send(const std::vector<uint8_t> &abMsg) {
  std::vector<uint8_t> abExact(abMsg);
  abExact.shrink_to_fit();
  MidiIn(abExact.data(), 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
  static const bool bInit = InitOnce();
  (void)bInit;
  StopAllVoices();
  InitChannels();
  SetRate(22050);
  bOverSample = 0;
  int32_t nRendered = 0;
  size_t p = 0;
  auto Next = [&]() -> uint8_t { return p < nSize ? pData[p++] : 0; };
  while (p < nSize) {
    const uint8_t b = Next();
    if (b >= 0x80 && b <= 0xEF) {
      const int32_t nKind = b & 0xF0;
      const bool bTwo = nKind == 0xC0 || nKind == 0xD0;
      std::vector<uint8_t> abMsg = {uint8_t(bTwo ? 2 : 3), 0, b, uint8_t(Next() & 0x7F)};
      if (!bTwo)
        abMsg.push_back(uint8_t(Next() & 0x7F));
      Send(abMsg);
    } else if (b == 0xF0) {
      // Length, 0xF0, the bytes, 0x00: as the sequencer assembles it.
      const size_t nLength = Next();
      std::vector<uint8_t> abMsg = {uint8_t(nLength), 0, 0xF0};
      for (size_t i = 0; i < nLength; ++i)
        abMsg.push_back(Next());
      abMsg.push_back(0x00);
      Send(abMsg);
    } else if (b < 0x80) {
      const int32_t nSamples = (b + 1) * 8;
      if (nRendered + nSamples <= kMaxRenderedSamples) {
        Render(nSamples);
        nRendered += nSamples;
      }
    } else if (b >= 0xFC) {
      SetRate(kRates[b & 3]);
    } else {
      bOverSample = b & 1;
    }
    CheckChannels();
    CheckVoices();
  }
  Render(256);
  CheckVoices();
  StopAllVoices();
  return 0;
}
