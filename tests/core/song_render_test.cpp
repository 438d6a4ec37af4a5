// Invariants of whole songs through the real sound unit and freepats: block
// length does not change the sound, format 0 and format 1 of one song sound
// the same, and note-ons land where the tempo map puts them. The songs come
// from openttd-openmsx and are read a second time by midicsv, an independent
// reader, to build their format 0 and format 1 copies.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "common/unit_interface.h"
#include "player/render/effects.h"
#include "player/render/render_loop.h"
#include "player/render/row_mix.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"
#include "song_run.h"
#include "support/midicsv.h"
#include "tools/smf/smf_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kSongDir = "/usr/share/games/openttd/baseset/openmsx";

// One event of a song as midicsv reads it: absolute tick, track, and the
// bytes after the delta time.
struct CsvEvent {
  uint32_t nTick;
  int32_t nTrack;
  enum { Channel, SysEx, Tempo, TimeSig } kind;
  std::vector<uint8_t> abData; // channel: status + data; sysex: after F0; tempo: 3 bytes
};

struct CsvSong {
  int32_t nDivision = 0;
  int32_t nTracks = 0;
  std::vector<CsvEvent> aEvents; // in file order per track
  std::vector<uint32_t> anTrackEnd;
};

CsvSong ReadWithMidicsv(const std::string &sPath) {
  CsvSong song;
  std::vector<testsupport::MidiCsvRecord> aRecords;
  testsupport::MidiCsvRecords(sPath, aRecords);
  for (const testsupport::MidiCsvRecord &as : aRecords) {
    if (as.size() < 3) {
      continue;
    }
    const std::string &sType = as[2];
    const int32_t t = std::atoi(as[0].c_str()) - 1;
    const uint32_t nTick = static_cast<uint32_t>(std::atol(as[1].c_str()));
    std::vector<long> a; // the numbers after the type
    for (size_t i = 3; i < as.size(); ++i) {
      a.push_back(std::strtol(as[i].c_str(), nullptr, 10));
    }
    auto channel = [&](int nStatus, std::initializer_list<long> data) {
      CsvEvent e{nTick, t, CsvEvent::Channel, {static_cast<uint8_t>(nStatus | a[0])}};
      for (long d : data) {
        e.abData.push_back(static_cast<uint8_t>(d));
      }
      song.aEvents.push_back(e);
    };
    if (sType == "Header") {
      song.nTracks = static_cast<int32_t>(a[1]);
      song.nDivision = static_cast<int32_t>(a[2]);
      song.anTrackEnd.assign(static_cast<size_t>(song.nTracks), 0);
    } else if (sType == "Note_on_c") {
      channel(0x90, {a[1], a[2]});
    } else if (sType == "Note_off_c") {
      channel(0x80, {a[1], a[2]});
    } else if (sType == "Poly_aftertouch_c") {
      channel(0xa0, {a[1], a[2]});
    } else if (sType == "Control_c") {
      channel(0xb0, {a[1], a[2]});
    } else if (sType == "Program_c") {
      channel(0xc0, {a[1]});
    } else if (sType == "Channel_aftertouch_c") {
      channel(0xd0, {a[1]});
    } else if (sType == "Pitch_bend_c") {
      channel(0xe0, {a[1] & 0x7f, a[1] >> 7});
    } else if (sType == "Tempo") {
      const uint32_t u = static_cast<uint32_t>(a[0]);
      song.aEvents.push_back(
          {nTick,
           t,
           CsvEvent::Tempo,
           {static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u)}});
    } else if (sType == "Time_signature") {
      song.aEvents.push_back({nTick,
                              t,
                              CsvEvent::TimeSig,
                              {static_cast<uint8_t>(a[0]), static_cast<uint8_t>(a[1]),
                               static_cast<uint8_t>(a[2]), static_cast<uint8_t>(a[3])}});
    } else if (sType == "System_exclusive") {
      CsvEvent e{nTick, t, CsvEvent::SysEx, {}};
      for (size_t i = 1; i < a.size(); ++i) {
        e.abData.push_back(static_cast<uint8_t>(a[i]));
      }
      song.aEvents.push_back(e);
    } else if (sType == "End_track" && t >= 0 && t < song.nTracks) {
      song.anTrackEnd[static_cast<size_t>(t)] = nTick;
    }
  }
  return song;
}

void Put(smfw::Track &track, uint32_t nDelta, const CsvEvent &e) {
  switch (e.kind) {
  case CsvEvent::Channel:
    track.Raw(nDelta, e.abData);
    break;
  case CsvEvent::SysEx:
    track.SysEx(nDelta, e.abData);
    break;
  case CsvEvent::Tempo:
    track.Tempo(nDelta, static_cast<uint32_t>(e.abData[0] << 16 | e.abData[1] << 8 | e.abData[2]));
    break;
  case CsvEvent::TimeSig:
    track.TimeSignature(nDelta, e.abData[0], e.abData[1], e.abData[2], e.abData[3]);
    break;
  }
}

// Format 1: the tracks as they were. Format 0: all events in one track, by
// tick and, within a tick, in track order, as the sequencer serves them.
std::vector<uint8_t> Rewrite(const CsvSong &song, int nFormat) {
  smfw::File file(nFormat, static_cast<uint32_t>(song.nDivision));
  if (nFormat == 1) {
    for (int32_t t = 0; t < song.nTracks; ++t) {
      smfw::Track &track = file.AddTrack();
      uint32_t nLast = 0;
      for (const CsvEvent &e : song.aEvents) {
        if (e.nTrack == t) {
          Put(track, e.nTick - nLast, e);
          nLast = e.nTick;
        }
      }
      track.EndOfTrack(song.anTrackEnd[static_cast<size_t>(t)] - nLast);
    }
  } else {
    std::vector<CsvEvent> merged = song.aEvents;
    std::stable_sort(merged.begin(), merged.end(), [](const CsvEvent &a, const CsvEvent &b) {
      return a.nTick != b.nTick ? a.nTick < b.nTick : a.nTrack < b.nTrack;
    });
    smfw::Track &track = file.AddTrack();
    uint32_t nLast = 0;
    for (const CsvEvent &e : merged) {
      Put(track, e.nTick - nLast, e);
      nLast = e.nTick;
    }
    uint32_t nEnd = 0;
    for (uint32_t n : song.anTrackEnd) {
      nEnd = std::max(nEnd, n);
    }
    track.EndOfTrack(nEnd - nLast);
  }
  return file.Build();
}

// Stand-in unit in slot 7 that notes the sample index of every note-on.
int64_t nStandInSamples = 0;
std::vector<std::pair<int64_t, int32_t>> aNoteOnAt; // sample, key

void StandInMake(int32_t *) {
  ++nStandInSamples;
}
int32_t StandInSetRate(int32_t nRate) {
  return nRate;
}
void StandInFreeLock() {}
void StandInMidiIn(const uint8_t *pMsg, int32_t nSource) {
  if (nSource >= 0 && (pMsg[kMsgStatus] & 0xf0) == 0x90 && pMsg[kMsgData2] > 0) {
    aNoteOnAt.emplace_back(nStandInSamples, pMsg[kMsgData1]);
  }
}

class SongRenderTest : public ::testing::Test {
protected:
  // A directory per process: ctest runs the cases side by side.
  static void SetUpTestSuite() {
    sDir_ = CORE_BINARY_DIR "/songrun-" + std::to_string(getpid());
    sPlugin_ = MakeVokraPlugin(sDir_, VOKRA_UNIT_PATH);
  }
  static void TearDownTestSuite() { fs::remove_all(sDir_); }
  void SetUp() override {
    if (!fs::exists(VOKRA_UNIT_PATH) || sPlugin_.empty()) {
      GTEST_SKIP() << "vokraunit.so or freepats missing";
    }
    ASSERT_EQ(BindVokraSlot(sPlugin_), 1);
    bUseEff1 = bUseEff3 = 1;
    n3DLength = 800;
    pfn3DEngine = Engine3DHeavy;
    bLPF = 0;
  }
  void TearDown() override {
    std::memset(&aUnitSlots[7], 0, sizeof aUnitSlots[7]);
    UnbindAllUnits();
    aUnitSlots[0].szPath[0] = 0;
    SetPluginDirectory(nullptr);
    UnlockSong();
    FreeSong();
    n3DLength = 0;
    pfn3DEngine = Engine3DLight;
    nPCMRate = 22050;
  }

  static SongPcm Render(const std::vector<uint8_t> &abSong, int32_t nRate, int32_t nBlockBytes,
                        double dMaxSeconds) {
    EXPECT_EQ(StartSongRun(abSong, nRate), 1);
    return RenderSongRun(nBlockBytes, static_cast<int64_t>(dMaxSeconds * nRate));
  }

  static std::string sDir_;
  static std::string sPlugin_;
};

std::string SongRenderTest::sDir_;
std::string SongRenderTest::sPlugin_;

TEST_F(SongRenderTest, RealUnitIsCataloguedBoundAndSoundsInTheSoundTest) {
  ScanUnits();
  ASSERT_EQ(nUnitCount, 1);
  EXPECT_STREQ(aUnitEntries[0].szName, "VOKRA SOUND GENERATOR");
  EXPECT_STREQ(aUnitSlots[0].szName, "VOKRA SOUND GENERATOR");
  EXPECT_EQ(aUnitSlots[0].bActive, 1);

  // The sound test's start, then its eight blocks: a middle C on channel 0.
  AllocOutRing();
  nPCMRate = 44100;
  ResetEffects();
  ResetSequencer();
  SendSoundTestMessages(0, 0, 60, 0);
  std::memset(anChannelAcc, 0, sizeof anChannelAcc);
  int32_t nPeak = 0;
  for (int32_t b = 0; b < 8; ++b) {
    EXPECT_EQ(RenderTestBlock(b, 8188), 8188);
    nPeak = std::max(nPeak, aMeterFrames[b].anSummary[kMeterOutPeakL]);
    EXPECT_EQ(aMeterFrames[b].anSummary[kMeterLevelSum], 127);
  }
  EXPECT_GT(nPeak, 500);
  EXPECT_EQ(aMeterFrames[7].aChannel[0].bSounding, 1);
  EXPECT_EQ(aMeterFrames[7].aChannel[1].bSounding, 0);
}

TEST_F(SongRenderTest, BlockLengthDoesNotChangeTheSong) {
  const auto abSong = ReadFileBytes(std::string(kSongDir) + "/coconut_run2.mid");
  ASSERT_FALSE(abSong.empty());
  const SongPcm ref = Render(abSong, 22050, 4, 600);
  ASSERT_GT(ref.nLastEventFrame, 22050 * 10);
  size_t nSounding = 0;
  for (int16_t v : ref.anFrames) {
    nSounding += v != 0;
  }
  EXPECT_GT(nSounding, ref.anFrames.size() / 2); // it really played
  const size_t nCompare = static_cast<size_t>(ref.nLastEventFrame) * 2;
  for (int32_t nBlock : {8192, 4 * 997}) {
    const SongPcm pcm = Render(abSong, 22050, nBlock, 600);
    ASSERT_GE(pcm.anFrames.size(), nCompare) << nBlock;
    size_t nFirstDiff = nCompare;
    for (size_t i = 0; i < nCompare; ++i) {
      if (pcm.anFrames[i] != ref.anFrames[i]) {
        nFirstDiff = i;
        break;
      }
    }
    EXPECT_EQ(nFirstDiff, nCompare) << "block " << nBlock << " differs at frame " << nFirstDiff / 2;
  }
}

// Live playback and recording share one mix: at output volume 128 (unity)
// the ring's blocks hold the recording's samples.
TEST_F(SongRenderTest, PlaybackAtUnityVolumeEqualsTheRecording) {
  const auto abSong = ReadFileBytes(std::string(kSongDir) + "/coconut_run2.mid");
  ASSERT_FALSE(abSong.empty());
  const int32_t nBlock = 8188, nBlocks = 60;
  const SongPcm rec = Render(abSong, 44100, nBlock, nBlocks * nBlock / 4.0 / 44100);
  ASSERT_EQ(rec.anFrames.size(), static_cast<size_t>(nBlocks * nBlock / 2));

  ASSERT_EQ(StartSongRun(abSong, 44100), 1);
  const int32_t nSavedVolume = nOutVolume;
  nOutVolume = 128;
  fBlockSeconds = nBlock * 0.25f / 44100;
  std::vector<int16_t> live;
  for (int32_t b = 0; b < nBlocks; ++b) {
    const int32_t i = b % kOutBufCount;
    ASSERT_EQ(RenderBlock(i, nBlock), nBlock / 4);
    for (int32_t k = 0; k < nBlock / 2; ++k) {
      live.push_back(static_cast<int16_t>(apOutBuf[i][2 * k] | apOutBuf[i][2 * k + 1] << 8));
    }
  }
  nOutVolume = nSavedVolume;
  EXPECT_TRUE(live == rec.anFrames);
  EXPECT_EQ(aMeterFrames[(nBlocks - 1) % 8].anSummary[kMeterMeasure], nMeasure + 1);
}

// A unit with the block form of Make renders the runs between events at
// once and the mix goes channel by channel; the sample loop is the
// reference. Two songs, played and recorded, with channels muted part of the
// way (muted channels play at 1/12 live and are left out of a recording) and
// the effect sends switched on and off, at two rates: same samples, same
// meters.
TEST_F(SongRenderTest, RunsBetweenEventsSoundAsSampleBySample) {
  ASSERT_NE(aUnitSlots[0].pfnMakeBlock, nullptr);
  const int32_t bWideMixHere = bWideMix;
  n3DLength = 0;
  const int32_t nBlock = 4 * 997, nBlocks = 90;
  std::vector<uint8_t> abSong;
  const auto Run = [&](int32_t nRate, bool bLive) {
    std::vector<int32_t> an; // samples, then each block's meters
    EXPECT_EQ(StartSongRun(abSong, nRate), 1);
    fBlockSeconds = nBlock * 0.25f / static_cast<float>(nRate);
    for (int32_t b = 0; b < nBlocks; ++b) {
      for (int32_t ch : {0, 1, 2, 3, 9}) {
        aChannels[ch].bMute = b >= 30 && b < 60;
      }
      if (b == 45 || b == 75) {
        // Sends on or off after a long stretch without: the effect lines
        // have been silent, or are still sounding.
        for (ChannelState &c : aChannels) {
          c.nReverbSendSq = b == 45 ? 1600 : 0;
          c.nChorusSend = b == 45 ? 64 : 0;
        }
      }
      const int32_t i = b % kOutBufCount;
      if (bLive) {
        EXPECT_EQ(RenderBlock(i, nBlock), nBlock / 4);
      } else {
        RenderRecordBlock(nBlock);
      }
      an.insert(an.end(), apOutBuf[i], apOutBuf[i] + nBlock);
      if (bLive) {
        for (const MeterChannel &c : aMeterFrames[i].aChannel) {
          an.insert(an.end(), {c.nPeakL, c.nPeakR, c.bSounding});
        }
        an.insert(an.end(), aMeterFrames[i].anSummary, aMeterFrames[i].anSummary + 3);
      }
    }
    for (ChannelState &c : aChannels) {
      c.bMute = 0;
    }
    return an;
  };
  // The first song plays on the muted channels and sets no sends of its own;
  // the second has its own.
  for (const char *pszSong : {"/coconut_run2.mid", "/tttheme2.mid"}) {
    abSong = ReadFileBytes(std::string(kSongDir) + pszSong);
    ASSERT_FALSE(abSong.empty());
    for (const int32_t nRate : {44100, 22050}) {
      for (const bool bLive : {false, true}) {
        bBlockRender = 0;
        const std::vector<int32_t> anSamples = Run(nRate, bLive);
        bBlockRender = 1;
        // The runs' mix four frames at a time, then eight where the
        // processor can.
        for (const int32_t bWide : {0, bWideMixHere}) {
          bWideMix = bWide;
          const std::vector<int32_t> anRuns = Run(nRate, bLive);
          ASSERT_EQ(anSamples.size(), anRuns.size());
          size_t k = 0;
          while (k < anSamples.size() && anSamples[k] == anRuns[k]) {
            ++k;
          }
          EXPECT_EQ(k, anSamples.size())
              << pszSong << " " << nRate << (bLive ? " live" : " recorded") << " wide " << bWide;
        }
        bWideMix = bWideMixHere;
      }
    }
  }
}

// The 3D stage over the runs' rows against the engine called sample by
// sample: each engine, depths from the negative bound through 0 to the
// positive one, a song that moves its pans while the lines sound, and starts
// after a seek (the seek serves pan events without rendering).
TEST_F(SongRenderTest, Runs3DSoundAsSampleBySample) {
  ASSERT_NE(aUnitSlots[0].pfnMakeBlock, nullptr);
  const auto abSong = ReadFileBytes(std::string(kSongDir) + "/tttheme2.mid");
  ASSERT_FALSE(abSong.empty());
  struct Case {
    Pfn3DEngine pfn;
    int32_t nLength;
    int32_t nSeekMeasure;
  };
  const Case aCases[] = {{Engine3DHeavy, 800, 0},           {Engine3DHeavy, 0, 0},
                         {Engine3DHeavy, kMax3DDepth, 0},   {Engine3DLight, 1600, 0},
                         {Engine3DMedium, -kMax3DDepth, 0}, {Engine3DHeavy, 1, 3},
                         {Engine3DLight, 300, 5},           {Engine3DMedium, 800, 2}};
  const auto Run = [&](const Case &t) {
    n3DLength = t.nLength;
    pfn3DEngine = t.pfn;
    EXPECT_EQ(StartSongRun(abSong, 22050), 1);
    bSuppressNoteOn = 1;
    SeekToMeasure(t.nSeekMeasure);
    bSuppressNoteOn = 0;
    return RenderSongRun(4 * 997, 22050 * 8).anFrames;
  };
  for (const Case &t : aCases) {
    bBlockRender = 0;
    const std::vector<int16_t> anSamples = Run(t);
    bBlockRender = 1;
    const std::vector<int16_t> anRuns = Run(t);
    ASSERT_EQ(anSamples.size(), anRuns.size());
    size_t k = 0;
    while (k < anSamples.size() && anSamples[k] == anRuns[k]) {
      ++k;
    }
    EXPECT_EQ(k, anSamples.size())
        << "depth " << t.nLength << " seek " << t.nSeekMeasure << ": frame " << k / 2;
  }
}

// The engines pass by channels with no input and empty lines; a song whose
// channels fall silent and return sounds the same as with every channel run.
TEST_F(SongRenderTest, PassingByQuietChannelsChangesNothing) {
  const auto abSong = ReadFileBytes(std::string(kSongDir) + "/chemistry_lab.mid");
  ASSERT_FALSE(abSong.empty());
  const std::pair<Pfn3DEngine, int32_t> aCases[] = {
      {Engine3DLight, 800}, {Engine3DMedium, 300}, {Engine3DHeavy, 1600}};
  for (const auto &[pfn, nLength] : aCases) {
    pfn3DEngine = pfn;
    n3DLength = nLength;
    b3DSkipQuiet = 0;
    const SongPcm all = Render(abSong, 22050, 8192, 40);
    b3DSkipQuiet = 1;
    const SongPcm skip = Render(abSong, 22050, 8192, 40);
    EXPECT_TRUE(all.anFrames == skip.anFrames) << "depth " << nLength;
  }
}

TEST_F(SongRenderTest, FormatZeroAndFormatOneSoundTheSame) {
  const CsvSong song = ReadWithMidicsv(std::string(kSongDir) + "/ultimate_run.mid");
  ASSERT_GT(song.nTracks, 1);
  ASSERT_GT(song.aEvents.size(), 500u);
  const SongPcm one = Render(Rewrite(song, 1), 22050, 8192, 600);
  const SongPcm zero = Render(Rewrite(song, 0), 22050, 8192, 600);
  ASSERT_EQ(nSmfFormat, 0);
  EXPECT_GT(one.nLastEventFrame, 22050 * 10);
  EXPECT_EQ(one.nLastEventFrame, zero.nLastEventFrame);
  ASSERT_EQ(one.anFrames.size(), zero.anFrames.size());
  EXPECT_TRUE(one.anFrames == zero.anFrames);
}

// The sample of the n-th tick (1-based) for the 1/256-sample tick lengths in
// force: the clock starts at 0, loses 256 per sample and gains a tick length
// per tick, so tick n falls on the first sample where the sum of the first
// n - 1 tick lengths no longer exceeds 256 * (samples so far).
int64_t TickSample(const std::vector<int64_t> &anTickLength, int64_t n) {
  if (n <= 1) {
    return 0;
  }
  int64_t nSum = 0;
  for (int64_t k = 0; k < n - 1; ++k) {
    nSum += anTickLength[static_cast<size_t>(k)];
  }
  return (nSum + 255) / 256 - 1;
}

TEST_F(SongRenderTest, NoteOnsLandWhereTheTempoMapPutsThem) {
  const int32_t nRate = 44100, nDivision = 96;
  // Tempo changes (tick, microseconds per quarter) and notes (tick, key).
  const std::vector<std::pair<uint32_t, uint32_t>> aTempo = {
      {0, 500000}, {384, 400000}, {700, 618556}};
  const std::vector<std::pair<uint32_t, int>> aNotes = {{0, 60},   {1, 62},   {96, 64},
                                                        {383, 65}, {384, 67}, {385, 69},
                                                        {700, 71}, {701, 72}, {1000, 74}};
  smfw::File file(1, nDivision);
  smfw::Track &conductor = file.AddTrack();
  uint32_t nLast = 0;
  for (const auto &[nTick, u] : aTempo) {
    conductor.Tempo(nTick - nLast, u);
    nLast = nTick;
  }
  conductor.EndOfTrack(1100 - nLast);
  smfw::Track &notes = file.AddTrack();
  notes.ProgramChange(0, 0, 0);
  nLast = 0;
  int nPrevKey = -1;
  for (const auto &[nTick, nKey] : aNotes) {
    if (nPrevKey >= 0) {
      notes.NoteOff(nTick - nLast, 0, nPrevKey);
      nLast = nTick;
    }
    notes.NoteOn(nTick - nLast, 0, nKey, 100);
    nLast = nTick;
    nPrevKey = nKey;
  }
  notes.NoteOff(100, 0, nPrevKey).EndOfTrack(0);

  // Tick lengths: tick n adds the length in force after the events of the
  // ticks before it; an event at tick T >= 1 is served at tick T, one at 0 at tick 1.
  std::vector<int64_t> anLength;
  int32_t nBpm = 120;
  for (uint32_t nTick = 1; nTick <= 1200; ++nTick) {
    anLength.push_back(int64_t{nRate} * 15360 / (nBpm * nDivision));
    for (const auto &[nAt, u] : aTempo) {
      if (std::max<uint32_t>(nAt, 1) == nTick) {
        nBpm = static_cast<int32_t>(60000000 / u);
      }
    }
  }

  std::memset(&aUnitSlots[7], 0, sizeof aUnitSlots[7]);
  aUnitSlots[7].hModule = &aUnitSlots[7];
  aUnitSlots[7].bActive = 1;
  aUnitSlots[7].pfnMake = StandInMake;
  aUnitSlots[7].pfnMidiIn = StandInMidiIn;
  aUnitSlots[7].pfnSetRate = StandInSetRate;
  aUnitSlots[7].pfnFreeLockCFG = StandInFreeLock;
  nStandInSamples = 0;
  aNoteOnAt.clear();
  bUseEff1 = bUseEff3 = 0;
  n3DLength = 0;
  const SongPcm pcm = Render(file.Build(), nRate, 4096, 30);

  ASSERT_EQ(aNoteOnAt.size(), aNotes.size());
  for (size_t i = 0; i < aNotes.size(); ++i) {
    const int64_t nWant = TickSample(anLength, std::max<uint32_t>(aNotes[i].first, 1));
    EXPECT_EQ(aNoteOnAt[i].first, nWant) << "note at tick " << aNotes[i].first;
    EXPECT_EQ(aNoteOnAt[i].second, aNotes[i].second);
  }
  // 500000 us at division 96: 229.6875 samples per tick; 95 of them end
  // inside sample 21820, where tick 96 falls.
  EXPECT_EQ(aNoteOnAt[2].first, 21820);
  EXPECT_GT(pcm.anFrames.size(), 1000u);
}

// The real unit: the same note, struck alone after silence under a changing
// tempo, starts sounding the same number of samples after its predicted tick
// every time.
TEST_F(SongRenderTest, IsolatedNotesSoundAtTheirTicks) {
  const int32_t nRate = 22050, nDivision = 120;
  smfw::File file(0, nDivision);
  smfw::Track &track = file.AddTrack();
  track.ProgramChange(0, 0, 0);
  std::vector<uint32_t> anNoteTicks;
  std::vector<std::pair<uint32_t, int32_t>> aBpmFrom = {{1, 120}};
  uint32_t nTick = 0;
  const uint32_t anTempo[] = {500000, 433333, 612345, 377777};
  for (int i = 0; i < 4; ++i) {
    // A tempo change mid-rest, then the note, then a rest for the release.
    track.Tempo(i == 0 ? 0 : 240, anTempo[i]);
    nTick += i == 0 ? 0 : 240;
    aBpmFrom.emplace_back(std::max<uint32_t>(nTick, 1) + 1,
                          static_cast<int32_t>(60000000 / anTempo[i]));
    track.NoteOn(97 + static_cast<uint32_t>(i), 0, 60, 100);
    nTick += 97 + static_cast<uint32_t>(i);
    anNoteTicks.push_back(nTick);
    track.NoteOff(30, 0, 60);
    nTick += 30;
    track.Meta(600, 0x01, {'r'}); // rest while the note dies away
    nTick += 600;
  }
  track.EndOfTrack(10);

  std::vector<int64_t> anLength;
  for (uint32_t n = 1; n <= nTick + 20; ++n) {
    int32_t nBpm = 120;
    for (const auto &[nFrom, nB] : aBpmFrom) {
      if (n >= nFrom) {
        nBpm = nB;
      }
    }
    anLength.push_back(int64_t{nRate} * 15360 / (nBpm * nDivision));
  }

  bUseEff1 = bUseEff3 = 0;
  n3DLength = 0;
  const SongPcm pcm = Render(file.Build(), nRate, 8192, 120);
  std::vector<int64_t> anOnset;
  int64_t nQuiet = 1 << 30;
  for (size_t f = 0; 2 * f + 1 < pcm.anFrames.size(); ++f) {
    if (pcm.anFrames[2 * f] == 0 && pcm.anFrames[2 * f + 1] == 0) {
      ++nQuiet;
      continue;
    }
    if (nQuiet > 1000) {
      anOnset.push_back(static_cast<int64_t>(f));
    }
    nQuiet = 0;
  }
  ASSERT_EQ(anOnset.size(), anNoteTicks.size());
  const int64_t nLead = anOnset[0] - TickSample(anLength, anNoteTicks[0]);
  EXPECT_GE(nLead, 0);
  EXPECT_LT(nLead, 256);
  for (size_t i = 1; i < anOnset.size(); ++i) {
    EXPECT_EQ(anOnset[i] - TickSample(anLength, anNoteTicks[i]), nLead) << "note " << i;
  }
}

TEST_F(SongRenderTest, SavesARenderedSongAsWav) {
  const auto abSong = ReadFileBytes(std::string(kSongDir) + "/train_filled_with_cash.mid");
  ASSERT_FALSE(abSong.empty());
  const SongPcm pcm = Render(abSong, 44100, 8192, 600);
  ASSERT_GT(pcm.nLastEventFrame, 0);
  int32_t nPeak = 0;
  double dSquares = 0;
  for (int16_t v : pcm.anFrames) {
    nPeak = std::max(nPeak, std::abs(static_cast<int32_t>(v)));
    dSquares += static_cast<double>(v) * v;
  }
  const double dRms = std::sqrt(dSquares / static_cast<double>(pcm.anFrames.size()));
  const std::string sWav = CORE_BINARY_DIR "/train_filled_with_cash.wav";
  ASSERT_TRUE(WriteWav(sWav, pcm.anFrames, 44100));
  std::printf("%s: %.1f s, peak %d (%.1f dBFS), RMS %.0f (%.1f dBFS)\n", sWav.c_str(),
              static_cast<double>(pcm.anFrames.size()) / 2 / 44100, nPeak,
              20 * std::log10(nPeak / 32768.0), dRms, 20 * std::log10(dRms / 32768.0));
  EXPECT_GT(nPeak, 1000);
  EXPECT_EQ(fs::file_size(sWav), 44 + pcm.anFrames.size() * 2);
}

} // namespace
