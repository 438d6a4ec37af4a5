// The sequencer: tick clock arithmetic against the sample clock, dispatch order,
// tempo and time signature, seeking, the message forms, and damaged tracks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <tuple>

#include "capture_unit.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/state/engine_hooks.h"
#include "player/state/engine_state.h"

using smfw::Bytes;

namespace {

class SequencerTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetSongTestState();
    InstallCaptureUnit(0, 1);
  }
  void TearDown() override {
    UnlockSong();
    FreeSong();
  }
};

// Runs the clock until n more ticks have elapsed.
void RunTicks(int n) {
  while (n > 0) {
    n -= SequencerClock();
    ++gnWalkSample;
  }
}

int64_t CeilDiv(int64_t a, int64_t b) {
  return (a + b - 1) / b;
}

TEST_F(SequencerTest, SamplesPerTickFromTempo) {
  smfw::File file(0, 96);
  file.AddTrack()
      .Tempo(0, 1000000)   // 60 bpm
      .Tempo(10, 0)        // would divide by zero: ignored
      .Tempo(10, 0xFFFFFF) // the longest beat three bytes hold: 3 bpm
      .EndOfTrack(10);
  ASSERT_EQ(StartSong(file.Build()), 1);
  EXPECT_EQ(nSamplesPerTick, 58800); // 120 bpm at division 96: 229.6875 samples
  RunTicks(1);
  EXPECT_EQ(nSamplesPerTick, 117600);
  RunTicks(10);
  EXPECT_EQ(nSamplesPerTick, 117600);
  RunTicks(10);
  EXPECT_EQ(nSamplesPerTick, 2352000);

  nDivision = 480;
  SetTempoBpm(120);
  EXPECT_EQ(nSamplesPerTick, 11760); // 45.9375 samples
  nDivision = 32767;
  SetTempoBpm(60000000); // the product exceeds 32 bits: the quotient is simply 0
  EXPECT_EQ(nSamplesPerTick, 0);
}

TEST_F(SequencerTest, EventsFallOnTheTicksOfTheSampleClock) {
  // Events at ticks 0 and 1 both fall on the first tick, at the first sample; tick
  // k >= 2 elapses at sample ceil((k - 1) * S / 256) - 1 with S = nSamplesPerTick.
  const uint32_t anTicks[] = {0, 1, 2, 3, 50, 97, 500, 501, 2000};
  smfw::File file(0, 96);
  smfw::Track &track = file.AddTrack();
  uint32_t nPrevious = 0;
  for (uint32_t nTick : anTicks) {
    track.NoteOn(nTick - nPrevious, 0, 60, 1 + static_cast<int>(nTick % 100));
    nPrevious = nTick;
  }
  track.EndOfTrack(0);
  ASSERT_EQ(StartSong(file.Build()), 1);
  WalkSong(1 << 24);
  const auto messages = SongMessages();
  ASSERT_EQ(messages.size(), std::size(anTicks));
  const int64_t nS = 58800;
  for (size_t i = 0; i < messages.size(); ++i) {
    const int64_t nTick = std::max<int64_t>(anTicks[i], 1);
    const int64_t nSample = nTick == 1 ? 0 : CeilDiv((nTick - 1) * nS, 256) - 1;
    EXPECT_EQ(messages[i].nSongTick, nTick) << "event " << i;
    EXPECT_EQ(messages[i].nSample, nSample) << "event " << i;
  }
  EXPECT_EQ(nSongTick, 2000);
}

TEST_F(SequencerTest, TempoChangeTakesEffectForTheNextTick) {
  // Division 100 at 44100 Hz: 60 bpm is 441 samples per tick, 30 bpm 882. The
  // tempo read at tick 10 sets the length added at tick 11: tick 12 comes 882 later.
  smfw::File file(1, 100);
  file.AddTrack().Tempo(0, 1000000).Tempo(10, 2000000).EndOfTrack(10);
  smfw::Track &notes = file.AddTrack();
  notes.NoteOn(8, 0, 60, 100);
  for (int i = 0; i < 5; ++i)
    notes.NoteOn(1, 0, 61 + i, 100);
  notes.EndOfTrack();
  ASSERT_EQ(StartSong(file.Build()), 1);
  WalkSong(1 << 20);
  const auto messages = SongMessages();
  ASSERT_EQ(messages.size(), 6u); // ticks 8 .. 13
  std::vector<int64_t> anGaps;
  for (size_t i = 1; i < messages.size(); ++i)
    anGaps.push_back(messages[i].nSample - messages[i - 1].nSample);
  EXPECT_EQ(anGaps, (std::vector<int64_t>{441, 441, 441, 882, 882}));
}

TEST_F(SequencerTest, TicksShorterThanASampleRunOneTickPerSample) {
  // A tempo of 60 million bpm gives 0 samples per tick: the clock can serve one tick
  // per sample and falls further behind with every sample, for longer than a 32-bit
  // accumulator could count (2^31 / 256 samples).
  smfw::File file(0, 960);
  file.AddTrack().Tempo(0, 1).NoteOn(9000000, 0, 60, 100).EndOfTrack();
  ASSERT_EQ(StartSong(file.Build()), 1);
  WalkSong(int64_t{1} << 26);
  const auto messages = SongMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].nSongTick, 9000000);
  // The first tick still has the 120 bpm length (5880 / 256: tick 2 at sample 22);
  // from there one tick per sample.
  EXPECT_EQ(messages[0].nSample, 22 + 9000000 - 2);
  EXPECT_LT(nTickAccum, 0);
}

TEST_F(SequencerTest, OneTickServesTracksInOrderAndEventsInFileOrder) {
  smfw::File file(1, 96);
  file.AddTrack().PitchBend(5, 0, 9000).EndOfTrack();
  file.AddTrack().ControlChange(5, 1, 7, 90).NoteOn(0, 1, 64, 80).EndOfTrack();
  file.AddTrack().ProgramChange(5, 2, 33).EndOfTrack();
  ASSERT_EQ(StartSong(file.Build()), 1);
  WalkSong(1 << 20);
  const auto messages = SongMessages();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(Hex(messages[0].ab), "03 00 E0 28 46");
  EXPECT_EQ(Hex(messages[1].ab), "03 00 B1 07 5A");
  EXPECT_EQ(Hex(messages[2].ab), "03 00 91 40 50");
  EXPECT_EQ(Hex(messages[3].ab), "02 00 C2 21");
  for (size_t i = 0; i < messages.size(); ++i) {
    EXPECT_EQ(messages[i].nSongTick, 5);
    EXPECT_EQ(messages[i].nSample, messages[0].nSample);
    EXPECT_EQ(messages[i].nSource, i == 0 ? 0 : (i == 3 ? 2 : 1));
  }
}

// A deterministic little piece: events on all 16 channels plus tempo changes.
struct TimedEvent {
  uint32_t nTick;
  int nTrack; // 0 = conductor
  Bytes ab;
};

std::vector<TimedEvent> Piece() {
  std::vector<TimedEvent> events;
  uint32_t nSeed = 12345;
  auto next = [&nSeed](uint32_t n) {
    nSeed = nSeed * 1103515245u + 12345u;
    return (nSeed >> 16) % n;
  };
  const uint32_t anTempo[] = {400000, 650000, 300000, 520000};
  for (int i = 0; i < 4; ++i)
    events.push_back({static_cast<uint32_t>(i * 700),
                      0,
                      {0xFF, 0x51, 3, static_cast<uint8_t>(anTempo[i] >> 16),
                       static_cast<uint8_t>(anTempo[i] >> 8), static_cast<uint8_t>(anTempo[i])}});
  for (int ch = 0; ch < 16; ++ch) {
    uint32_t nTick = next(20);
    events.push_back({nTick, ch + 1, {static_cast<uint8_t>(0xC0 | ch), static_cast<uint8_t>(ch)}});
    while (nTick < 2800) {
      const uint8_t nKey = static_cast<uint8_t>(36 + next(60));
      const uint32_t nLength = 1 + next(90);
      events.push_back({nTick, ch + 1, {static_cast<uint8_t>(0x90 | ch), nKey, 100}});
      if (next(4) == 0)
        events.push_back({nTick + 3,
                          ch + 1,
                          {static_cast<uint8_t>(0xB0 | ch), 10, static_cast<uint8_t>(next(128))}});
      events.push_back({nTick + nLength, ch + 1, {static_cast<uint8_t>(0x80 | ch), nKey, 0}});
      nTick += nLength + next(30);
    }
  }
  // Stable order by tick keeps each track's own order.
  std::stable_sort(events.begin(), events.end(),
                   [](const TimedEvent &a, const TimedEvent &b) { return a.nTick < b.nTick; });
  return events;
}

Bytes BuildPiece(bool bFormat0) {
  const auto events = Piece();
  smfw::File file(bFormat0 ? 0 : 1, 192);
  const int nTracks = bFormat0 ? 1 : 17;
  for (int t = 0; t < nTracks; ++t) {
    smfw::Track &track = file.AddTrack(true);
    uint32_t nPrevious = 0, nLast = 0;
    for (const TimedEvent &event : events) {
      if (!bFormat0 && event.nTrack != t)
        continue;
      track.Raw(event.nTick - nPrevious, event.ab);
      nPrevious = event.nTick;
      nLast = std::max(nLast, event.nTick);
    }
    track.EndOfTrack(0);
  }
  return file.Build();
}

TEST_F(SequencerTest, Format0AndFormat1PlayWithIdenticalTiming) {
  using Key = std::tuple<int64_t, int32_t, std::vector<uint8_t>>;
  std::vector<Key> aKeys[2];
  for (int k = 0; k < 2; ++k) {
    ResetSongTestState();
    InstallCaptureUnit(0, 1);
    ASSERT_EQ(StartSong(BuildPiece(k == 0)), 1);
    WalkSong(int64_t{1} << 26);
    EXPECT_EQ(ActiveTrackCount(), 0);
    for (const CapturedMessage &message : SongMessages())
      aKeys[k].emplace_back(message.nSample, message.nSongTick, message.ab);
    std::sort(aKeys[k].begin(), aKeys[k].end());
    UnlockSong();
  }
  EXPECT_GT(aKeys[0].size(), 500u);
  EXPECT_EQ(aKeys[0], aKeys[1]);
}

TEST_F(SequencerTest, MutedAndSeekingDropOnlySoundingNoteOns) {
  InstallCaptureUnit(1, 0); // loaded, switched off
  aChannels[2].bMute = 1;
  smfw::File file(0, 96);
  file.AddTrack()
      .NoteOn(0, 2, 60, 64) // muted: nowhere
      .NoteOn(0, 2, 60, 0)  // a note off: both
      .NoteOn(0, 3, 61, 64) // active only
      .PolyPressure(0, 3, 61, 5)
      .NoteOff(0, 3, 61, 9)
      .ProgramChange(0, 3, 7)
      .ControlChange(0, 3, 64, 127)
      .ChannelPressure(0, 3, 44)
      .PitchBend(0, 3, 16383)
      .EndOfTrack();
  const Bytes ab = file.Build();
  ASSERT_EQ(StartSong(ab), 1);
  WalkSong(1000);
  std::vector<std::string> as0, as1;
  for (const auto &message : SongMessages(0))
    as0.push_back(Hex(message.ab));
  for (const auto &message : SongMessages(1))
    as1.push_back(Hex(message.ab));
  EXPECT_EQ(as0, (std::vector<std::string>{"03 00 92 3C 00", "03 00 93 3D 40", "03 00 A3 3D 05",
                                           "03 00 83 3D 09", "02 00 C3 07", "03 00 B3 40 7F",
                                           "02 00 D3 2C", "03 00 E3 7F 7F"}));
  EXPECT_EQ(as1, (std::vector<std::string>{"03 00 92 3C 00", "03 00 83 3D 09", "02 00 C3 07",
                                           "03 00 B3 40 7F", "02 00 D3 2C", "03 00 E3 7F 7F"}));

  // While seeking no channel sounds; the note off still goes out.
  aChannels[2].bMute = 0;
  gCaptured.clear();
  ASSERT_EQ(StartSong(ab), 1);
  bSuppressNoteOn = 1;
  WalkSong(1000);
  std::vector<std::string> asSeek;
  for (const auto &message : SongMessages(0))
    asSeek.push_back(Hex(message.ab));
  EXPECT_EQ(asSeek, (std::vector<std::string>{"03 00 92 3C 00", "03 00 A3 3D 05", "03 00 83 3D 09",
                                              "02 00 C3 07", "03 00 B3 40 7F", "02 00 D3 2C",
                                              "03 00 E3 7F 7F"}));
}

TEST_F(SequencerTest, SeekLeavesTheMeasuresFirstTickToTheFirstSample) {
  smfw::File file(0, 480);
  file.AddTrack()
      .ControlChange(100, 0, 7, 80)
      .NoteOn(5659, 0, 60, 100) // tick 5759: sounds during the seek: dropped
      .NoteOn(0, 0, 60, 0)      // its note off is sent
      .NoteOn(1, 0, 62, 100)    // tick 5760 opens measure 3 (4/4)
      .EndOfTrack(480);
  ASSERT_EQ(StartSong(file.Build()), 1);
  bSuppressNoteOn = 1;
  SeekToMeasure(3);
  bSuppressNoteOn = 0;
  EXPECT_EQ(nSongTick, 5759);
  EXPECT_EQ(nMeasure, 3);
  auto messages = SongMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(Hex(messages[0].ab), "03 00 B0 07 50");
  EXPECT_EQ(Hex(messages[1].ab), "03 00 90 3C 00");
  EXPECT_EQ(SequencerClock(), 1);
  messages = SongMessages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(Hex(messages[2].ab), "03 00 90 3E 64");
  EXPECT_EQ(messages[2].nSongTick, 5760);
}

TEST_F(SequencerTest, SeekStopsWhenTheSongIsOver) {
  // Division 1 in 4/8 gives 0 ticks per beat: the measure stays 0 for ever.
  smfw::File never(0, 1);
  never.AddTrack().TimeSignature(0, 4, 3).NoteOn(3, 0, 60, 100).EndOfTrack(5);
  ASSERT_EQ(StartSong(never.Build()), 1);
  SeekToMeasure(3);
  EXPECT_EQ(nTicksPerBeat, 0);
  EXPECT_EQ(nMeasure, 0);
  EXPECT_EQ(ActiveTrackCount(), 0);

  // A start measure far past a one-measure song: the seek ends with the song.
  smfw::File shortSong(0, 480);
  shortSong.AddTrack().ControlChange(0, 0, 7, 1).EndOfTrack(1920);
  ASSERT_EQ(StartSong(shortSong.Build()), 1);
  SeekToMeasure(1000000);
  EXPECT_EQ(nSongTick, 1920);
  EXPECT_EQ(nMeasure, 1);
  EXPECT_EQ(ActiveTrackCount(), 0);
}

// The length walk ends on the sample whose tick ends the last track: the same
// count as checking every sample, and the clock left where that walk leaves it.
// Also when a tick is a whole number of samples (division 441 at 60 bpm and
// 22050 Hz: 50), so that the clock lands on 0 exactly.
TEST_F(SequencerTest, WalkToSongEndStopsOnTheLastTracksEnd) {
  for (const auto &[nDivision, nTempo, nEndTick] :
       {std::tuple{96, 400000, 307}, std::tuple{441, 1000000, 507}}) {
    SCOPED_TRACE(nDivision);
    smfw::File file(1, nDivision);
    file.AddTrack().Tempo(0, nTempo).EndOfTrack(200);
    file.AddTrack().NoteOn(0, 0, 60, 100).NoteOff(300, 0, 60).EndOfTrack(nEndTick - 300);
    ASSERT_EQ(StartSong(file.Build()), 1);
    int64_t nExpected = 0;
    while (ActiveTrackCount() > 0) {
      SequencerClock();
      ++nExpected;
    }
    EXPECT_EQ(nSongTick, nEndTick);

    ASSERT_EQ(StartSong(file.Build()), 1);
    EXPECT_EQ(WalkToSongEnd(INT64_MAX), nExpected);
    EXPECT_EQ(nSongTick, nEndTick);

    ASSERT_EQ(StartSong(file.Build()), 1);
    EXPECT_EQ(WalkToSongEnd(1000), 1000); // the limit holds
    EXPECT_EQ(WalkToSongEnd(10), 10);     // and goes on from where it stopped
  }
}

TEST_F(SequencerTest, TimeSignaturesSetTheMeasure) {
  smfw::File file(0, 480);
  file.AddTrack()
      .TimeSignature(0, 3, 2)
      .NoteOn(2880, 0, 60, 100) // two bars of 3/4
      .TimeSignature(0, 6, 3)
      .TimeSignature(0, 0, 2)  // numerator 0: ignored
      .TimeSignature(0, 5, 31) // a beat of 2^31: ignored
      .EndOfTrack();
  ASSERT_EQ(StartSong(file.Build()), 1);
  RunTicks(1);
  EXPECT_EQ(nBeatsPerMeasure, 3);
  EXPECT_EQ(nTicksPerBeat, 480);
  RunTicks(2879);
  EXPECT_EQ(nMeasure, 2);
  EXPECT_EQ(nBeatInMeasure, 0);
  EXPECT_EQ(nBeatsPerMeasure, 6);
  EXPECT_EQ(nBeatUnit, 8);
  EXPECT_EQ(nTicksPerBeat, 240);
  EXPECT_EQ(ActiveTrackCount(), 0);
}

TEST_F(SequencerTest, SystemExclusiveAndTextForms) {
  Bytes abLong(2000);
  for (size_t i = 0; i < abLong.size(); ++i)
    abLong[i] = static_cast<uint8_t>(i & 0x7F);
  abLong.back() = 0xF7;
  smfw::File file(0, 96);
  file.AddTrack()
      .SysEx(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
      .SysEx(1, abLong)                   // cut to the 1024-byte buffer
      .Text(0, std::string(3000, 'y'))    // likewise, and dropped
      .Meta(0, 0x7F, Bytes(70000, 0x55))  // a sequencer-specific block, skipped
      .SysExPacket(0, {0x43, 0x10, 0xF7}) // an escaped packet: skipped
      .NoteOn(0, 9, 38, 100)
      .EndOfTrack();
  ASSERT_EQ(StartSong(file.Build()), 1);
  WalkSong(1 << 20);
  const auto messages = SongMessages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(Hex(messages[0].ab), "05 00 F0 7E 7F 09 01 F7 00");
  ASSERT_EQ(messages[1].ab.size(), 1024u);
  EXPECT_EQ(messages[1].ab[0] | messages[1].ab[1] << 8, 1020);
  EXPECT_EQ(messages[1].ab[2], 0xF0);
  EXPECT_TRUE(std::equal(abLong.begin(), abLong.begin() + 1020, messages[1].ab.begin() + 3));
  EXPECT_EQ(messages[1].ab[1023], 0);
  EXPECT_EQ(Hex(messages[2].ab), "03 00 99 26 64");
  EXPECT_EQ(messages[2].nSongTick, messages[1].nSongTick);
  EXPECT_EQ(bTextChanged, 1);
}

// The panel shows the text: the window is asked to repaint, once per event.
TEST_F(SequencerTest, TextEventRepaintsTheWindow) {
  static int32_t nRepaints;
  static void *hwndSeen;
  nRepaints = 0;
  int32_t nWindow = 0;
  Hooks.hwndOwner = &nWindow;
  Hooks.pfnInvalidate = [](void *hwnd) {
    nRepaints++;
    hwndSeen = hwnd;
  };
  smfw::File file(0, 96);
  file.AddTrack().Text(0, "one").Text(10, "two").Meta(0, 0x03, {'n'}).EndOfTrack();
  ASSERT_EQ(StartSong(file.Build()), 1);
  WalkSong(1 << 20);
  Hooks.pfnInvalidate = nullptr;
  Hooks.hwndOwner = nullptr;
  EXPECT_EQ(nRepaints, 2);
  EXPECT_EQ(hwndSeen, &nWindow);
}

TEST_F(SequencerTest, RunningStatusReadsLikeFullStatus) {
  std::vector<std::string> as[2];
  for (int k = 0; k < 2; ++k) {
    gCaptured.clear();
    smfw::File file(0, 96);
    file.AddTrack(k == 1)
        .NoteOn(0, 4, 60, 100)
        .NoteOn(2, 4, 64, 100)
        .NoteOn(2, 4, 60, 0)
        .ControlChange(1, 4, 1, 20)
        .ControlChange(1, 4, 1, 30)
        .EndOfTrack();
    ASSERT_EQ(StartSong(file.Build()), 1);
    WalkSong(1 << 20);
    for (const auto &message : SongMessages())
      as[k].push_back(Hex(message.ab) + " @" + std::to_string(message.nSample));
  }
  EXPECT_EQ(as[0].size(), 5u);
  EXPECT_EQ(as[0], as[1]);
}

TEST_F(SequencerTest, ATrackWithoutStatusSkipsToTheFirstStatusByte) {
  // The first song leaves running status 0x92 behind; the next song's track opens
  // with data bytes, which must not be played on channel 2.
  smfw::File first(0, 96);
  first.AddTrack().NoteOn(0, 2, 50, 60).EndOfTrack(1);
  ASSERT_EQ(StartSong(first.Build()), 1);
  WalkSong(1 << 20);
  smfw::File second(0, 96);
  second.AddTrack().Raw(0, {0x3C, 0x40, 0x00, 0x95, 0x3E, 0x41}).EndOfTrack();
  gCaptured.clear();
  ASSERT_EQ(StartSong(second.Build()), 1);
  WalkSong(1 << 20);
  const auto messages = SongMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(Hex(messages[0].ab), "03 00 95 3E 41");
}

TEST_F(SequencerTest, PlaysTheTracksOfTheAcceptedHeader) {
  smfw::File format2(2, 96);
  format2.AddTrack().NoteOn(0, 3, 40, 100).EndOfTrack();
  smfw::File format1(1, 96);
  format1.AddTrack().NoteOn(4, 5, 41, 100).EndOfTrack();
  Bytes ab = format2.Build();
  const Bytes ab1 = format1.Build();
  ab.insert(ab.end(), ab1.begin(), ab1.end());
  ASSERT_EQ(StartSong(ab), 1);
  WalkSong(1 << 20);
  const auto messages = SongMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(Hex(messages[0].ab), "03 00 95 29 64");
}

TEST_F(SequencerTest, OnlyTheFirst256TracksPlay) {
  smfw::File file(1, 96);
  for (int t = 0; t < 300; ++t)
    file.AddTrack().NoteOn(1, t % 16, t % 128, 100).EndOfTrack();
  ASSERT_EQ(StartSong(file.Build()), 1);
  WalkSong(1 << 20);
  const auto messages = SongMessages();
  ASSERT_EQ(messages.size(), 256u);
  EXPECT_EQ(messages.back().nSource, 255);
}

TEST_F(SequencerTest, VariableLengthQuantities) {
  const Bytes abData = {0x00, 0x7F, 0x81, 0x00, 0xFF, 0x7F, 0x81, 0x80, 0x80,
                        0x00, 0xFF, 0xFF, 0xFF, 0x7F, 0x8F, 0xFF, 0xFF, 0xFF,
                        0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
  smfw::File file(0, 96);
  file.AddTrack().RawBytes(abData);
  ASSERT_EQ(LoadSmfBytes(file.Build().data(), static_cast<int32_t>(file.Build().size())), 1);
  LockSong();
  anTrackPos[0] = 22;
  EXPECT_EQ(ReadVarLen(0), 0);
  EXPECT_EQ(ReadVarLen(0), 0x7F);
  EXPECT_EQ(ReadVarLen(0), 0x80);
  EXPECT_EQ(ReadVarLen(0), 0x3FFF);
  EXPECT_EQ(ReadVarLen(0), 0x200000);
  EXPECT_EQ(ReadVarLen(0), 0x0FFFFFFF);
  EXPECT_EQ(ReadVarLen(0), 0x7FFFFFFF); // 0xFFFFFFFF does not fit: saturated
  EXPECT_EQ(ReadVarLen(0), 0x7FFFFFFF); // seven bytes long
  EXPECT_EQ(anTrackPos[0], 22 + static_cast<int32_t>(abData.size()));
}

TEST_F(SequencerTest, DamagedTracksEndAtTheImage) {
  // A track that simply stops (no End of Track) at the end of the file.
  smfw::File open(1, 96);
  open.AddTrack().NoteOn(0, 0, 60, 100).EndOfTrack(10);
  open.AddTrack().NoteOn(2, 1, 61, 100).NoteOn(2, 1, 61, 0);
  ASSERT_EQ(StartSong(open.Build()), 1);
  EXPECT_LT(WalkSong(1 << 22), 1 << 22);
  EXPECT_EQ(SongMessages().size(), 3u);
  EXPECT_LE(anTrackPos[1], SongImageEnd());

  // A system-exclusive length far beyond the file: cut, and the track ends there.
  smfw::File huge(0, 96);
  huge.AddTrack().NoteOn(0, 0, 60, 100).RawBytes({0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x02});
  gCaptured.clear();
  const Bytes abHuge = huge.Build();
  ASSERT_EQ(StartSong(abHuge), 1);
  EXPECT_LT(WalkSong(1 << 22), 1 << 22);
  const auto messages = SongMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].ab[0] | messages[1].ab[1] << 8, 1020);
  EXPECT_EQ(messages[1].ab[3], 0x01);
  EXPECT_EQ(messages[1].ab[4], 0x02);
  EXPECT_EQ(messages[1].ab[5], 0x00); // slack, then nothing
  EXPECT_EQ(anTrackPos[0], SongImageEnd());

  // More tracks declared than chunks present: the missing ones never start.
  smfw::File missing(1, 96);
  missing.AddTrack().NoteOn(1, 0, 60, 100).EndOfTrack();
  missing.SetDeclaredTracks(5);
  gCaptured.clear();
  ASSERT_EQ(StartSong(missing.Build()), 1);
  EXPECT_EQ(ActiveTrackCount(), 1);
  WalkSong(1 << 20);
  EXPECT_EQ(SongMessages().size(), 1u);
}

} // namespace
