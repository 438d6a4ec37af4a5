// The MIDI file loader: header search (bare, RMI, skipped and refused headers),
// the track table, and files that are damaged or exceed the table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "capture_unit.h"
#include "platform/message_box.h"
#include "player/song/song.h"

using smfw::Bytes;

namespace {

class LoaderTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetSongTestState();
    pPrevious_ = SetMessageSink(&sink_);
  }
  void TearDown() override {
    SetMessageSink(pPrevious_);
    FreeSong();
  }
  int32_t Load(const Bytes &ab) { return LoadSmfBytes(ab.data(), static_cast<int32_t>(ab.size())); }

  CaptureMessageSink sink_;
  MessageSink *pPrevious_ = nullptr;
};

// A format 1 song with names in several shapes.
smfw::File NamedSong() {
  smfw::File file(1, 480);
  file.AddTrack().TrackName(0, "Conductor").Tempo(0, 500000).EndOfTrack();
  file.AddTrack().TrackName(0, "first").NoteOn(0, 0, 60, 100).TrackName(10, "second").EndOfTrack();
  file.AddTrack().TrackName(0, "").EndOfTrack();                         // empty name
  file.AddTrack().NoteOn(0, 1, 60, 100).NoteOff(10, 1, 60).EndOfTrack(); // no name
  // Events of 128 bytes and more have multi-byte lengths; the name after them is found.
  file.AddTrack()
      .Text(0, std::string(200, 't'))
      .SysEx(0, Bytes(300, 0x11))
      .MetaText(0, 0x7F, std::string(20000, 'x'))
      .TrackName(0, std::string(200, 'n'))
      .EndOfTrack();
  file.AddTrack().TrackName(0, std::string(300, 'L')).EndOfTrack(); // too long for szName
  return file;
}

TEST_F(LoaderTest, HeaderValuesAndTrackTable) {
  smfw::File file = NamedSong();
  const Bytes ab = file.Build();
  ASSERT_EQ(Load(ab), 1);
  ASSERT_NE(hSongMem, nullptr);
  EXPECT_EQ(nSongBytes, static_cast<int32_t>(ab.size()));
  EXPECT_EQ(nSmfFormat, 1);
  EXPECT_EQ(nTracks, 6);
  EXPECT_EQ(nDivision, 480);
  EXPECT_EQ(nSongHeader, 0);
  // The slack behind the file is zeroed.
  for (int32_t i = 0; i < kSongSlack; ++i)
    ASSERT_EQ(hSongMem[nSongBytes + i], 0);
  for (size_t t = 0; t < file.TrackCount(); ++t)
    EXPECT_EQ(aTrackInfo[t].nLength, static_cast<int32_t>(file.TrackAt(t).Data().size()));
  EXPECT_STREQ(aTrackInfo[0].szName, "Conductor");
  EXPECT_STREQ(aTrackInfo[1].szName, "second");
  EXPECT_STREQ(aTrackInfo[2].szName, "");
  EXPECT_STREQ(aTrackInfo[3].szName, "");
  EXPECT_EQ(std::string(aTrackInfo[4].szName), std::string(200, 'n'));
  EXPECT_EQ(std::string(aTrackInfo[5].szName), std::string(255, 'L'));
  EXPECT_STREQ(aTrackInfo[6].szName, "");
}

TEST_F(LoaderTest, LeadingDataBytesAreSkippedUpToTheFirstStatus) {
  // After the delta time: one stray data byte, then a name event.
  smfw::File file(0, 96);
  file.AddTrack().Raw(0, {0x3C, 0xFF, 0x03, 0x01, 'a'}).EndOfTrack();
  ASSERT_EQ(Load(file.Build()), 1);
  EXPECT_STREQ(aTrackInfo[0].szName, "a");
}

TEST_F(LoaderTest, RmiLoadsLikeTheBareFile) {
  const Bytes abBare = NamedSong().Build();
  ASSERT_EQ(Load(abBare), 1);
  const int32_t nBareTracks = nTracks, nBareDivision = nDivision;
  std::vector<std::string> asNames;
  for (int32_t t = 0; t < nTracks; ++t)
    asNames.push_back(aTrackInfo[t].szName);

  ASSERT_EQ(Load(smfw::WrapRmi(abBare)), 1);
  EXPECT_EQ(nSongHeader, 20); // RIFF, size, RMID, data, size
  EXPECT_EQ(nSmfFormat, 1);
  EXPECT_EQ(nTracks, nBareTracks);
  EXPECT_EQ(nDivision, nBareDivision);
  for (int32_t t = 0; t < nTracks; ++t)
    EXPECT_EQ(asNames[t], aTrackInfo[t].szName);
  EXPECT_TRUE(sink_.aShown.empty());
}

Bytes Format2Song() {
  smfw::File file(2, 96);
  file.AddTrack().TrackName(0, "pattern").NoteOn(0, 3, 40, 100).EndOfTrack(96);
  return file.Build();
}

TEST_F(LoaderTest, Format2IsSkippedAndALaterHeaderAccepted) {
  const Bytes ab2 = Format2Song();
  EXPECT_EQ(Load(ab2), 0);
  EXPECT_EQ(hSongMem, nullptr);
  EXPECT_TRUE(sink_.aShown.empty()); // no message for "not a usable file"

  smfw::File file1(1, 240);
  file1.AddTrack().TrackName(0, "real").EndOfTrack();
  Bytes ab = ab2;
  const Bytes ab1 = file1.Build();
  ab.insert(ab.end(), ab1.begin(), ab1.end());
  ASSERT_EQ(Load(ab), 1);
  EXPECT_EQ(nSongHeader, static_cast<int32_t>(ab2.size()));
  EXPECT_EQ(nDivision, 240);
  EXPECT_STREQ(aTrackInfo[0].szName, "real");
}

TEST_F(LoaderTest, SmpteDivisionIsRefusedEvenWithALaterGoodHeader) {
  smfw::File smpte(1, 0xE728); // -25 frames per second, 40 subframes
  smpte.AddTrack().EndOfTrack();
  Bytes ab = smpte.Build();
  const Bytes abGood = NamedSong().Build();
  ab.insert(ab.end(), abGood.begin(), abGood.end());
  ASSERT_EQ(Load(abGood), 1);
  EXPECT_EQ(Load(ab), 0);
  EXPECT_EQ(hSongMem, nullptr); // the earlier song is gone too
  ASSERT_EQ(sink_.aShown.size(), 1u);
  EXPECT_EQ(sink_.aShown[0].sText, "タイムコードは扱えません");
  EXPECT_EQ(sink_.aShown[0].sCaption, "形式の問題");
  EXPECT_EQ(sink_.aShown[0].icon, MsgIcon::Error);
}

TEST_F(LoaderTest, FilesWithoutAUsableHeaderFailSilently) {
  EXPECT_EQ(Load({}), 0);
  EXPECT_EQ(Load(Bytes{'M', 'T', 'h', 'd'}), 0); // header cut off after its signature
  smfw::File zero(0, 0);                         // no ticks per quarter note
  zero.AddTrack().EndOfTrack();
  EXPECT_EQ(Load(zero.Build()), 0);
  EXPECT_EQ(Load(Bytes(1000, 0xFF)), 0);
  EXPECT_TRUE(sink_.aShown.empty());
}

TEST_F(LoaderTest, LoadingFromAFileReplacesTheSong) {
  char szPath[] = "/tmp/torqa_song_XXXXXX";
  const int fd = mkstemp(szPath);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_TRUE(NamedSong().Save(szPath, true));
  EXPECT_EQ(LoadSmf(szPath), 1);
  EXPECT_EQ(nTracks, 6);
  ASSERT_TRUE(smfw::WriteFileBytes(szPath, Format2Song()));
  EXPECT_EQ(LoadSmf(szPath), 0);
  EXPECT_EQ(hSongMem, nullptr);
  ASSERT_TRUE(smfw::WriteFileBytes(szPath, {}));
  EXPECT_EQ(LoadSmf(szPath), 0);
  std::remove(szPath);
  EXPECT_EQ(LoadSmf(szPath), 0); // gone
  EXPECT_EQ(LoadSmf("/"), 0);    // a directory is no song
}

TEST_F(LoaderTest, TracksBeyondTheTableAreIgnored) {
  smfw::File file(1, 96);
  for (int t = 0; t < 300; ++t) {
    char szName[16];
    std::snprintf(szName, sizeof szName, "T%d", t);
    file.AddTrack().TrackName(0, szName).EndOfTrack();
  }
  ASSERT_EQ(Load(file.Build()), 1);
  EXPECT_EQ(nTracks, kMaxTracks);
  EXPECT_EQ(nTracksInHeader, 300);
  EXPECT_STREQ(aTrackInfo[255].szName, "T255");
}

TEST_F(LoaderTest, DamagedChunksStopAtTheEndOfTheImage) {
  // More tracks declared than present, a chunk length far past the file, a
  // quantity that never ends, a name running off the end: all bounded by the image.
  smfw::File file(1, 96);
  file.AddTrack().TrackName(0, "ok").EndOfTrack();
  file.AddTrack().TrackName(0, "cut");
  file.SetDeclaredTracks(9);
  Bytes ab = file.Build();
  ab.resize(ab.size() - 2); // the second name loses its last bytes
  ASSERT_EQ(Load(ab), 1);
  EXPECT_STREQ(aTrackInfo[0].szName, "ok");
  EXPECT_STREQ(aTrackInfo[1].szName, "c");
  EXPECT_EQ(nTracks, 9);

  Bytes abHuge = NamedSong().Build();
  for (int i = 0; i < 4; ++i)
    abHuge[18 + i] = 0xFF; // first chunk declares 4 GiB - 1
  ASSERT_EQ(Load(abHuge), 1);
  EXPECT_EQ(aTrackInfo[0].nLength, -1); // stored as the 32-bit value it is

  Bytes abLoop = NamedSong().Build();
  abLoop.resize(22);
  abLoop.insert(abLoop.end(), 40, 0x80); // a delta time of continuation bytes only
  ASSERT_EQ(Load(abLoop), 1);
}

} // namespace
