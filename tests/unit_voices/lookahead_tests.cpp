// The look-ahead behind the exported Make, and the block form MakeBlock,
// against Make sample by sample: the same random performance, played each
// way, must give the same accumulators in every sample and leave the unit in
// the same state.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "common/unit_interface.h"
#include "engine_fixture.h"
#include "unit/lookahead.h"
#include "unit/unit_dialogs.h"

namespace {

using vokra::aVoice;
using vokra_test::EngineTest;

// One thing the host does at a sample: a MIDI message, or a rate change.
struct Event {
  int32_t nSample;
  std::vector<uint8_t> abMsg; // MidiIn's message (length, source, bytes); empty: SetRate
  int32_t nRate;
  int32_t bOverSample; // interpolation for the notes from here on
};

struct Performance {
  std::vector<Event> aEvents;
  int32_t nSamples;
  uint32_t nSoundSeed; // the instruments' random seed
};

// Everything of the unit's state the output depends on, for comparing.
struct State {
  std::vector<int32_t> an;
  bool operator==(const State &) const = default;
};

State TakeState() {
  State s;
  for (int32_t v = 0; v < vokra::kVoiceCount; ++v) {
    const vokra::Voice &r = aVoice[v];
    if (!r.bActive && v >= vokra::nVoiceTop)
      continue; // free slots above the top: contents are never read again
    s.an.insert(s.an.end(), {v,          r.bActive,  r.nChannel,  r.nInstrument, r.nStep,
                             r.nNote,    r.nKeyNote, r.nEnvTimer, r.nEnvClock,   r.nLevel,
                             r.nVelGain, r.nFrac,    r.nPos,      r.nEnvCount,   r.nStage,
                             r.nType,    r.nEnvSub,  r.bHeldOff,  r.nAmp,        r.nInstGain});
  }
  s.an.push_back(vokra::nVoiceTop);
  s.an.push_back(vokra::nLfoPhase);
  s.an.push_back(vokra::nLfoCount);
  s.an.push_back(vokra::nRate);
  return s;
}

class LookAheadTest : public EngineTest {
protected:
  std::mt19937 rng{1};

  int32_t Uniform(int32_t a, int32_t b) {
    return std::uniform_int_distribution<int32_t>(a, b)(rng);
  }

  // Instruments 0..7 for programs 0..7 and drum notes 35..42: both envelope
  // models, looped or not, odd loop points, ends past the data, gains other
  // than the usual one, and one instrument without data.
  void MakeInstruments() {
    for (int32_t k = 0; k < 8; ++k) {
      std::vector<int16_t> a(static_cast<size_t>(Uniform(40, 3000)));
      for (int16_t &s : a)
        s = static_cast<int16_t>(Uniform(-32768, 32767));
      if (k % 2 == 0) {
        MakeSimple(k, a, {Uniform(0, 120), Uniform(0, 1), Uniform(1, 30)});
        vokra::Instrument &r = vokra::aInstrument[k];
        r.nAttackStep = Uniform(1, 127);
        r.nDecayPeriod = Uniform(1, 40);
        r.nDecay2Period = Uniform(1, 40);
        r.nDecayLevel = Uniform(r.nFloorLevel, 127);
      } else {
        MakeFiveStage(k, a);
        vokra::Instrument &r = vokra::aInstrument[k];
        r.nAttackRate = Uniform(70, 95);
        r.nDecay1Rate = Uniform(70, 96);
        r.nDecay1Depth = Uniform(-10, 40);
        r.nDecay2Rate = Uniform(70, 96);
        r.nDecay2Depth = Uniform(0, 40);
        r.nDecay3Rate = Uniform(80, 96);
        r.nReleaseRate = Uniform(80, 96);
        r.nRateDivider = Uniform(0, 2);
        r.bLoop = Uniform(0, 3) != 0;
      }
      vokra::Instrument &r = vokra::aInstrument[k];
      if (k == 2 || k == 3) // an end in the zeros behind the data, as a header may say
        r.nEnd = r.nDataSize - 2 + 2 * Uniform(0, vokra::kBlockSlack / 2 - 1);
      r.nLoopStart = 2 * Uniform(0, r.nEnd / 2);
      r.nLoopLength = r.nEnd - r.nLoopStart + 2;
      r.nInstGain = Uniform(0, 3) == 0 ? Uniform(1, 127) : 64;
      vokra::anProgramMap[k][0] = k; // [program][bank]
      for (int32_t nProgram = 0; nProgram <= 8; ++nProgram)
        vokra::anDrumMap[35 + k][nProgram] = k; // [note][program]
    }
    vokra::Instrument &rEmpty = vokra::aInstrument[8];
    rEmpty.nType = vokra::kTypeEpc;
    rEmpty.pData = nullptr;
    rEmpty.nDataSize = 0;
    vokra::anProgramMap[8][0] = 8;
  }

  Performance Compose(int32_t nEvents) {
    Performance perf;
    int32_t nSample = 0;
    for (int32_t e = 0; e < nEvents; ++e) {
      // Mostly short gaps, as in busy music, and now and then a long one.
      nSample += Uniform(0, 9) == 0 ? Uniform(200, 6000) : Uniform(0, 150);
      const uint8_t c = static_cast<uint8_t>(Uniform(0, 3) == 0 ? 9 : Uniform(0, 5));
      Event ev{nSample, {}, 0, Uniform(0, 1)};
      const auto Msg = [&](std::initializer_list<uint8_t> ab) {
        ev.abMsg = {static_cast<uint8_t>(ab.size()), 0};
        ev.abMsg.insert(ev.abMsg.end(), ab);
      };
      const auto Data = [&] { return static_cast<uint8_t>(Uniform(0, 127)); };
      const int32_t nKind = Uniform(0, 99);
      if (nKind < 40)
        Msg({static_cast<uint8_t>(0x90 | c),
             static_cast<uint8_t>(c == 9 ? Uniform(35, 42) : Uniform(24, 108)), Data()});
      else if (nKind < 65)
        Msg({static_cast<uint8_t>(0x80 | c), static_cast<uint8_t>(Uniform(24, 108)), 0});
      else if (nKind < 70)
        Msg({static_cast<uint8_t>(0xC0 | c), static_cast<uint8_t>(Uniform(0, 8))});
      else if (nKind < 76)
        Msg({static_cast<uint8_t>(0xE0 | c), Data(), Data()});
      else if (nKind < 96) {
        static const uint8_t anCc[] = {1, 1, 7, 10, 11, 64, 64, 91, 93, 72, 73, 120, 121, 123};
        Msg({static_cast<uint8_t>(0xB0 | c), anCc[Uniform(0, 13)],
             Uniform(0, 1) ? Data() : uint8_t{0}});
      } else if (nKind < 98)
        Msg({static_cast<uint8_t>(0xD0 | c), Data()});
      else
        ev.nRate = Uniform(0, 1) ? 44100 : 22050;
      perf.aEvents.push_back(ev);
    }
    perf.nSamples = nSample + 3000; // and the tails
    perf.nSoundSeed = static_cast<uint32_t>(rng());
    return perf;
  }

  enum class Way {
    Plain,  // Make sample by sample
    Ahead,  // the look-ahead, brought back before each message
    Blocks, // MakeBlock over random runs between messages, with look-ahead runs among them
  };

  // What a way of playing gave: every sample's accumulators through a digest
  // (the whole frame for a sample in four, to show where a difference
  // starts), voice counts aside; and the voice counts of the samples the way
  // gives them for (the block form only for its last sample).
  struct Output {
    std::vector<int32_t> an;
    std::vector<int32_t> anCounts; // 16 a sample; kUnknown where not given
  };
  static constexpr int32_t kUnknown = INT32_MIN;

  static void Keep(Output &out, int32_t i, const int32_t *an, bool bCounts) {
    const auto IsCount = [](int32_t k) { return k >= kAccVoices && k < kAccVoices + 16; };
    uint32_t nHash = 0;
    for (int32_t k = 0; k < kAccCount; ++k) {
      if (IsCount(k))
        continue;
      if (i % 4 == 0)
        out.an.push_back(an[k]);
      nHash = nHash * 31u + static_cast<uint32_t>(an[k]);
    }
    out.an.push_back(static_cast<int32_t>(nHash));
    if (bCounts)
      std::copy_n(an + kAccVoices, 16, out.anCounts.begin() + 16 * static_cast<size_t>(i));
  }

  // MakeBlock for n samples into rows holding noise: it must add to them,
  // and leave the rows of channels outside its mask as they were, and the
  // voice counts but the last sample's.
  void RunBlock(std::mt19937 &rRuns, Output &out, int32_t i, int32_t n) {
    std::vector<int32_t> anRows(kAccCount * kBlockFrames);
    for (int32_t &v : anRows)
      v = static_cast<int32_t>(rRuns());
    const std::vector<int32_t> anBefore = anRows;
    const uint32_t nMask = vokra::MakeBlock(anRows.data(), n);
    for (int32_t k = 0; k < kAccCount * kBlockFrames; ++k)
      anRows[k] = static_cast<int32_t>(static_cast<uint32_t>(anRows[k]) -
                                       static_cast<uint32_t>(anBefore[k]));
    for (int32_t k = 0; k < kAccCount; ++k) {
      const bool bInMask = (nMask >> (k % 16)) & 1;
      const int32_t nLast = k >= kAccVoices ? n - 1 : 0; // counts: only the last sample
      for (int32_t j = 0; j < kBlockFrames; ++j)
        if ((!bInMask || j >= n || j < nLast) && anRows[k * kBlockFrames + j] != 0)
          ADD_FAILURE() << "row " << k << " frame " << j << " changed outside the mask or run";
    }
    for (int32_t j = 0; j < n; ++j) {
      int32_t an[kAccCount];
      for (int32_t k = 0; k < kAccCount; ++k)
        an[k] = anRows[k * kBlockFrames + j];
      Keep(out, i + j, an, j == n - 1);
    }
  }

  // Plays perf one way; rEnd gets the unit's state at the end.
  Output Play(const Performance &perf, Way way, State &rEnd) {
    vokra::InitUNIT(nullptr, "/nonexistent/");
    rng.seed(perf.nSoundSeed);
    std::mt19937 rRuns(perf.nSoundSeed ^ 0x9e3779b9u); // run lengths, apart from the sounds
    vokra::nFinalGain = Uniform(0, 2) == 0 ? Uniform(1, 126) : 127; // the usual one, or not
    MakeInstruments();
    Output out;
    out.an.reserve(static_cast<size_t>(perf.nSamples) * kAccCount / 4);
    out.anCounts.assign(16 * static_cast<size_t>(perf.nSamples), kUnknown);
    size_t e = 0;
    for (int32_t i = 0; i < perf.nSamples;) {
      for (; e < perf.aEvents.size() && perf.aEvents[e].nSample == i; ++e) {
        const Event &ev = perf.aEvents[e];
        if (way != Way::Plain)
          vokra::SyncAhead();
        vokra::bOverSample = ev.bOverSample;
        if (ev.abMsg.empty())
          vokra::SetRate(ev.nRate);
        else
          vokra::MidiIn(ev.abMsg.data(), -1);
      }
      // Samples up to the next message.
      const int32_t nNext = e < perf.aEvents.size() ? perf.aEvents[e].nSample : perf.nSamples;
      int32_t n = 1;
      if (way == Way::Blocks) {
        // Short runs as in busy music, and now and then a whole block.
        const int32_t nRun =
            rRuns() % 8 == 0 ? kBlockFrames : static_cast<int32_t>(rRuns() % 160) + 1;
        n = std::min(nNext - i, nRun);
        if (rRuns() % 4 != 0) {
          RunBlock(rRuns, out, i, n);
          i += n;
          continue;
        }
      }
      for (const int32_t nEnd = i + n; i < nEnd; ++i) {
        int32_t an[kAccCount] = {};
        if (way == Way::Plain)
          vokra::Make(an);
        else
          vokra::MakeAhead(an);
        Keep(out, i, an, true);
      }
    }
    if (way != Way::Plain)
      vokra::SyncAhead();
    rEnd = TakeState();
    return out;
  }

  void ExpectSame(const Performance &perf) {
    State sPlain;
    const Output plain = Play(perf, Way::Plain, sPlain);
    for (const Way way : {Way::Ahead, Way::Blocks}) {
      SCOPED_TRACE(way == Way::Ahead ? "look-ahead" : "blocks");
      State sOther;
      const Output other = Play(perf, way, sOther);
      ASSERT_EQ(plain.an.size(), other.an.size());
      for (size_t k = 0; k < plain.an.size(); ++k)
        ASSERT_EQ(plain.an[k], other.an[k]) << "at output word " << k;
      for (size_t k = 0; k < plain.anCounts.size(); ++k) {
        if (other.anCounts[k] != kUnknown) {
          ASSERT_EQ(plain.anCounts[k], other.anCounts[k]) << "voice count of sample " << k / 16;
        }
      }
      EXPECT_TRUE(sPlain == sOther);
    }
  }
};

TEST_F(LookAheadTest, RandomPerformancesSoundTheSameAsSampleBySample) {
  // Every way of reading slow steps and of adding the sums the processor has:
  // single reads, shuffled windows, and shuffled windows into wide sums.
  const bool bShuffles = vokra::bShuffleReads, bWide = vokra::bWideSums;
  for (const int32_t nWay : {0, 1, 2}) {
    if ((nWay >= 1 && !bShuffles) || (nWay == 2 && !bWide))
      continue;
    vokra::bShuffleReads = nWay >= 1;
    vokra::bWideSums = nWay == 2;
    for (uint32_t nSeed = 1; nSeed <= 12; ++nSeed) {
      SCOPED_TRACE(testing::Message() << "seed " << nSeed << ", reading way " << nWay);
      rng.seed(nSeed);
      const Performance perf = Compose(400);
      ExpectSame(perf);
    }
  }
  vokra::bShuffleReads = bShuffles;
  vokra::bWideSums = bWide;
}

TEST_F(LookAheadTest, ManyVoicesEndingInOneBlockLeaveTheSameTopAndFreeSlots) {
  // Short unlooped notes on many channels at once: voices end in the same
  // samples, out of index order, and new notes then take the freed slots.
  rng.seed(99);
  Performance perf;
  for (int32_t r = 0; r < 40; ++r)
    for (int32_t n = 0; n < 24; ++n) {
      const uint8_t c = static_cast<uint8_t>(n % 8);
      perf.aEvents.push_back({r * 700 + Uniform(0, 3),
                              {3, 0, static_cast<uint8_t>(0x90 | c), uint8_t(40 + n), 100},
                              0,
                              r % 2});
    }
  std::stable_sort(perf.aEvents.begin(), perf.aEvents.end(),
                   [](const Event &a, const Event &b) { return a.nSample < b.nSample; });
  perf.nSamples = 40 * 700 + 5000;
  perf.nSoundSeed = 5;
  ExpectSame(perf);
}

TEST_F(LookAheadTest, FinalGainChangedBetweenSamplesIsHeardFromTheNextOne) {
  // One held note; the gain changes 50 samples into a 128-sample block.
  const auto Play = [&](bool bAhead) {
    vokra::InitUNIT(nullptr, "/nonexistent/");
    vokra::nFinalGain = 127;
    MakeSimple(0, std::vector<int16_t>(300, 9000));
    const uint8_t abNoteOn[] = {3, 0, 0x90, 60, 100};
    vokra::MidiIn(abNoteOn, -1);
    std::vector<int32_t> anLeft;
    for (int32_t i = 0; i < 200; ++i) {
      if (i == 50) {
        if (bAhead)
          vokra::SetFinalGain(40);
        else
          vokra::nFinalGain = 40;
      }
      int32_t an[kAccCount] = {};
      if (bAhead)
        vokra::MakeAhead(an);
      else
        vokra::Make(an);
      anLeft.push_back(an[kAccLeft]);
    }
    vokra::SyncAhead();
    return anLeft;
  };
  const std::vector<int32_t> plain = Play(false);
  ASSERT_NE(plain[49], plain[51]); // the change is audible
  EXPECT_EQ(Play(true), plain);
}

} // namespace
