// A fresh unit with hand-made instruments, for the engine tests that link
// vokra_core directly.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "unit/channels.h"
#include "unit/soundset.h"
#include "unit/unit_entry.h"
#include "unit/unit_state.h"
#include "unit/voices.h"

namespace vokra_test {

// Simple-envelope instrument that rises to 127 at once and then holds at
// nFloor (nFloor 0: decays away), looping over all its data when bLoop.
struct SimpleShape {
  int32_t nFloor = 100;
  int32_t bLoop = 1;
  int32_t nReleaseStep = 3;
};

class EngineTest : public ::testing::Test {
protected:
  void SetUp() override {
    vokra::InitUNIT(nullptr, "/nonexistent/");
    vokra::bOverSample = 0;
    vokra::nFinalGain = 127;
  }
  void TearDown() override { vokra::ClearInstruments(); }

  // Gives instrument nInst its own locked copy of aSamples.
  static void SetData(int32_t nInst, const std::vector<int16_t> &aSamples) {
    vokra::Instrument &r = vokra::aInstrument[nInst];
    r.nDataSize = static_cast<int32_t>(aSamples.size() * 2);
    r.hData = vokra::AllocBlock(static_cast<size_t>(r.nDataSize));
    r.pData = vokra::LockBlock(r.hData);
    for (size_t i = 0; i < aSamples.size(); ++i) {
      r.pData[2 * i] = static_cast<uint8_t>(aSamples[i] & 0xFF);
      r.pData[2 * i + 1] = static_cast<uint8_t>((aSamples[i] >> 8) & 0xFF);
    }
    r.bLockOnUse = 0;
    r.nInstGain = 64;
    r.nKeyShift = 0;
    r.nTranspose = 0;
  }

  static void MakeSimple(int32_t nInst, const std::vector<int16_t> &aSamples,
                         SimpleShape shape = {}) {
    SetData(nInst, aSamples);
    vokra::Instrument &r = vokra::aInstrument[nInst];
    r.nType = vokra::kTypeEpc;
    r.nStart = 0;
    r.nLoopStart = 0;
    r.nEnd = r.nDataSize - 2;
    r.bLoop = shape.bLoop;
    r.nAttackStep = 127;
    r.nDecayPeriod = 1;
    r.nDecay2Period = 1;
    r.nDecayLevel = shape.nFloor;
    r.nFloorLevel = shape.nFloor;
    r.nReleaseStep = shape.nReleaseStep;
  }

  // Five-stage instrument: attack to 127, no decays (held sustain).
  static void MakeFiveStage(int32_t nInst, const std::vector<int16_t> &aSamples) {
    SetData(nInst, aSamples);
    vokra::Instrument &r = vokra::aInstrument[nInst];
    r.nType = vokra::kTypeFpv;
    r.nStart = 0;
    r.nLoopStart = 0;
    r.nEnd = r.nDataSize - 2;
    r.nLoopLength = r.nEnd - r.nLoopStart + 2;
    r.bLoop = 1;
    r.nStartLevel = 126;
    r.nAttackRate = 95;
    r.nDecay1Rate = 96;
    r.nDecay1Depth = 0;
    r.nDecay2Rate = 96;
    r.nDecay2Depth = 0;
    r.nDecay3Rate = 96;
    r.nReleaseRate = 90;
    r.nPeakLevel = 127;
    r.nRateDivider = 0;
  }

  static std::vector<int16_t> Constant(int32_t nCount, int16_t nValue) {
    return std::vector<int16_t>(static_cast<size_t>(nCount), nValue);
  }

  static void Send(uint8_t s, uint8_t d1, uint8_t d2) {
    const uint8_t ab[5] = {3, 0, s, d1, d2};
    vokra::MidiIn(ab, -1);
  }
  static void Send2(uint8_t s, uint8_t d1) {
    const uint8_t ab[4] = {2, 0, s, d1};
    vokra::MidiIn(ab, -1);
  }
  static void SendSysEx(const std::vector<uint8_t> &aBody) {
    std::vector<uint8_t> ab = {static_cast<uint8_t>(aBody.size()),
                               static_cast<uint8_t>(aBody.size() >> 8), 0xF0};
    ab.insert(ab.end(), aBody.begin(), aBody.end());
    ab.push_back(0);
    vokra::MidiIn(ab.data(), -1);
  }
  static void NoteOn(int c, int k, int v = 100) { Send(uint8_t(0x90 | c), uint8_t(k), uint8_t(v)); }
  static void NoteOff(int c, int k) { Send(uint8_t(0x80 | c), uint8_t(k), 0); }
  static void Cc(int c, int n, int v) { Send(uint8_t(0xB0 | c), uint8_t(n), uint8_t(v)); }

  struct Frame {
    int32_t an[48] = {};
  };
  static Frame MakeOne() {
    Frame f;
    vokra::Make(f.an);
    return f;
  }
  static void Run(int32_t nSamples) {
    for (int32_t i = 0; i < nSamples; ++i)
      MakeOne();
  }
};

} // namespace vokra_test
