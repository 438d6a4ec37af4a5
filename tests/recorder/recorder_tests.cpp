// The WAV recorder: header layout, whole blocks, abort, the start measure,
// the progress texts, the units' rate and locks, and what a failed write or a
// file that cannot be created leaves behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "platform/message_box.h"
#include "player/render/wav_recorder.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"
#include "support/temp_dir.h"
#include "tools/smf/smf_writer.h"

namespace fs = std::filesystem;

namespace {

const int kRegistrySet = setenv("TORQA_REGISTRY", RECORDER_BINARY_DIR "/recorder.reg", 1);

std::vector<uint8_t> ReadBytes(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t Le32(const std::vector<uint8_t> &a, size_t o) {
  return a[o] | (a[o + 1] << 8) | (a[o + 2] << 16) | (static_cast<uint32_t>(a[o + 3]) << 24);
}

// What sox, an independent reader, makes of a WAV file ("" when it fails).
std::string SoxInfo(const fs::path &p, const char *pszOption) {
  std::string sCmd = std::string("sox --i ") + pszOption + " '" + p.string() + "' 2>/dev/null";
  std::FILE *pPipe = popen(sCmd.c_str(), "r");
  if (!pPipe)
    return "";
  char sz[256] = {};
  std::string sOut;
  while (std::fgets(sz, sizeof sz, pPipe))
    sOut += sz;
  pclose(pPipe);
  while (!sOut.empty() && (sOut.back() == '\n' || sOut.back() == ' '))
    sOut.pop_back();
  return sOut;
}

// A file of 44 + n bytes whose header states n data bytes, n a whole number of
// blocks, that sox reads as 16-bit stereo of n / 4 samples.
void ExpectValidWav(const fs::path &p, int32_t nRate) {
  std::vector<uint8_t> a = ReadBytes(p);
  ASSERT_GE(a.size(), 44u);
  const uint32_t nData = static_cast<uint32_t>(a.size() - 44);
  EXPECT_EQ(nData % 8192, 0u);
  EXPECT_EQ(Le32(a, 4), nData + 36);
  EXPECT_EQ(Le32(a, 40), nData);
  EXPECT_EQ(Le32(a, 24), static_cast<uint32_t>(nRate));
  EXPECT_EQ(SoxInfo(p, "-c"), "2");
  EXPECT_EQ(SoxInfo(p, "-r"), std::to_string(nRate));
  EXPECT_EQ(SoxInfo(p, "-s"), std::to_string(nData / 4));
}

// Format 0 song at 120 bpm (a beat is 0.5 s): notes given as (start beat, beats).
std::vector<uint8_t> MakeSong(std::vector<std::pair<int, int>> aNotes, int nEndBeat) {
  smfw::File file(0, 480);
  smfw::Track &t = file.AddTrack();
  struct Ev {
    int nTick;
    bool bOn;
  };
  std::vector<Ev> aEvents;
  for (auto [nStart, nLength] : aNotes) {
    aEvents.push_back({nStart * 480, true});
    aEvents.push_back({(nStart + nLength) * 480 - 1, false});
  }
  std::sort(aEvents.begin(), aEvents.end(),
            [](const Ev &a, const Ev &b) { return a.nTick < b.nTick; });
  int nLast = 0;
  for (const Ev &e : aEvents) {
    uint32_t nDelta = static_cast<uint32_t>(e.nTick - nLast);
    nLast = e.nTick;
    if (e.bOn)
      t.NoteOn(nDelta, 0, 60, 100);
    else
      t.NoteOff(nDelta, 0, 60);
  }
  t.EndOfTrack(static_cast<uint32_t>(nEndBeat * 480 - nLast));
  return file.Build();
}

class CaptureSink : public MessageSink {
public:
  void Show(void *, const char *text, const char *caption, MsgIcon icon) override {
    sText = text;
    sCaption = caption;
    eIcon = icon;
    ++nShown;
  }
  std::string sText, sCaption;
  MsgIcon eIcon = MsgIcon::None;
  int nShown = 0;
};

class RecorderTest : public ::testing::Test {
protected:
  testsupport::TempDir tmp_{"torqa-recorder"};
  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty());
    dir_ = tmp_.path();
    UnbindAllUnits();
    std::memset(aUnitSlots, 0, sizeof aUnitSlots);
    std::snprintf(aUnitSlots[0].szPath, sizeof aUnitSlots[0].szPath, "%s", TONE_UNIT_PATH);
    BindUnit(0);
    ASSERT_NE(aUnitSlots[0].hModule, nullptr);
    pfnLog_ = reinterpret_cast<const char *(*)()>(LibSymbol(aUnitSlots[0].hModule, "ToneLog"));
    pfnClearLog_ = reinterpret_cast<void (*)()>(LibSymbol(aUnitSlots[0].hModule, "ToneClearLog"));
    pfnClearLog_();
    nStartMeasure = 0;
    nPCMRate = 22050;
  }
  void TearDown() override {
    UnbindAllUnits();
    FreeSong();
    nStartMeasure = 0;
  }
  void Load(const std::vector<uint8_t> &abSong) {
    ASSERT_EQ(LoadSmfBytes(abSong.data(), static_cast<int32_t>(abSong.size())), 1);
  }
  fs::path Path(const char *pszName) const { return dir_ / pszName; }

  fs::path dir_;
  const char *(*pfnLog_)() = nullptr;
  void (*pfnClearLog_)() = nullptr;
};

struct AbortAfter {
  int nBlocks;
  int nSeen = 0;
  std::vector<RecordProgress> aSeen;
};

void AbortingProgress(void *pUser, const RecordProgress &progress) {
  AbortAfter &a = *static_cast<AbortAfter *>(pUser);
  a.aSeen.push_back(progress);
  if (++a.nSeen == a.nBlocks)
    bRecording = 0;
}

} // namespace

TEST(WavHeader, FieldsAt44100And48000) {
  const uint8_t kExpected48000[44] = {'R',  'I',  'F',  'F', 0,   0,   0,   0,   'W', 'A', 'V', 'E',
                                      'f',  'm',  't',  ' ', 16,  0,   0,   0,   1,   0,   2,   0,
                                      0x80, 0xBB, 0,    0, // 48000
                                      0x00, 0xEE, 0x02, 0, // 192000 bytes per second
                                      4,    0,    16,   0,   'd', 'a', 't', 'a', 0,   0,   0,   0};
  uint8_t abHeader[44];
  int32_t nSaved = nPCMRate;
  nPCMRate = 48000;
  BuildWavHeader(abHeader);
  EXPECT_EQ(std::memcmp(abHeader, kExpected48000, 44), 0);
  nPCMRate = 44100;
  BuildWavHeader(abHeader);
  EXPECT_EQ(abHeader[24] | (abHeader[25] << 8) | (abHeader[26] << 16), 44100);
  EXPECT_EQ(abHeader[28] | (abHeader[29] << 8) | (abHeader[30] << 16), 176400);
  SetWavHeaderSizes(abHeader, 8192);
  EXPECT_EQ(abHeader[4] | (abHeader[5] << 8), 8192 + 36);
  EXPECT_EQ(abHeader[40] | (abHeader[41] << 8), 8192);
  nPCMRate = nSaved;
}

TEST(WavHeader, ProgressTexts) {
  char sz[64];
  FormatRecordTime(sz, sizeof sz, 100 * 8192, 44100); // 100 blocks: 4.644 s
  EXPECT_STREQ(sz, "    4.64[Sec]");
  FormatRecordTime(sz, sizeof sz, 0, 44100);
  EXPECT_STREQ(sz, "    0.00[Sec]");
  RecordProgress progress{0, 44100, 12, 3, 7};
  FormatRecordMeasure(sz, sizeof sz, progress);
  EXPECT_STREQ(sz, "12");
  FormatRecordBeat(sz, sizeof sz, progress);
  EXPECT_STREQ(sz, "3.0007");
}

// A song that ends at once still gives whole blocks and a correct header; the
// units get the recording rate and give their locks back, and nPCMRate is
// restored.
TEST_F(RecorderTest, SongThatEndsAtOnce) {
  Load(MakeSong({}, 0));
  RecordResult r = RecordWavFile(Path("empty.wav").c_str(), 44100, nullptr, nullptr, nullptr);
  EXPECT_EQ(r.nStatus, kRecordDone);
  EXPECT_GE(r.nDataBytes, 8192);
  EXPECT_EQ(r.nDataBytes % 8192, 0);
  EXPECT_EQ(static_cast<int64_t>(fs::file_size(Path("empty.wav"))), 44 + r.nDataBytes);
  ExpectValidWav(Path("empty.wav"), 44100);
  EXPECT_EQ(nPCMRate, 22050);
  EXPECT_EQ(bRecording, 0);
  EXPECT_EQ(bPlaying, 0);
  EXPECT_STREQ(pfnLog_(), "SetRate 44100;FreeLockCFG;");
}

TEST_F(RecorderTest, WholeSongWithItsTailAt48000) {
  Load(MakeSong({{0, 2}, {4, 2}}, 8)); // 4 s of song
  AbortAfter never{-1, 0, {}};
  RecordResult r =
      RecordWavFile(Path("song.wav").c_str(), 48000, AbortingProgress, &never, nullptr);
  EXPECT_EQ(r.nStatus, kRecordDone);
  ExpectValidWav(Path("song.wav"), 48000);
  // The song, then 16 silent blocks counted from the one in which it ends (the
  // tone stops with its note, before the end).
  const int64_t nSongDataBytes = 4 * 48000 * 4;
  EXPECT_EQ(r.nDataBytes, (nSongDataBytes + 8191) / 8192 * 8192 + 15 * 8192);
  ASSERT_EQ(never.aSeen.size(), static_cast<size_t>(r.nDataBytes / 8192));
  EXPECT_EQ(never.aSeen[0].nBytes, 8192);
  EXPECT_EQ(never.aSeen[0].nMeasure, 1);
  EXPECT_EQ(never.aSeen[0].nBeat, 1);
  EXPECT_EQ(never.aSeen.back().nMeasure, 3); // two 4/4 measures of song, then the tail
  // The tone sounds in beats 0-2 and 4-6 and nowhere else.
  std::vector<uint8_t> a = ReadBytes(Path("song.wav"));
  auto frameAt = [&](double dSeconds) {
    size_t o = 44 + static_cast<size_t>(dSeconds * 48000) * 4;
    return static_cast<int16_t>(a[o] | (a[o + 1] << 8));
  };
  EXPECT_NE(frameAt(0.5), 0);
  EXPECT_EQ(frameAt(1.5), 0);
  EXPECT_NE(frameAt(2.5), 0);
  EXPECT_EQ(frameAt(3.5), 0);
}

TEST_F(RecorderTest, AbortAfterThreeBlocksLeavesAValidFile) {
  Load(MakeSong({{0, 40}}, 40));
  AbortAfter abort{3, 0, {}};
  RecordResult r =
      RecordWavFile(Path("abort.wav").c_str(), 44100, AbortingProgress, &abort, nullptr);
  EXPECT_EQ(r.nStatus, kRecordAborted);
  EXPECT_EQ(r.nDataBytes, 24576);
  EXPECT_EQ(fs::file_size(Path("abort.wav")), 44u + 24576u);
  ExpectValidWav(Path("abort.wav"), 44100);
  EXPECT_STREQ(pfnLog_(), "SetRate 44100;FreeLockCFG;");
}

// The start measure chosen for playback does not move the recording's start.
TEST_F(RecorderTest, StartMeasureIsIgnored) {
  Load(MakeSong({{0, 1}, {12, 1}}, 16));
  nStartMeasure = 0;
  ASSERT_EQ(RecordWavFile(Path("a.wav").c_str(), 22050, nullptr, nullptr, nullptr).nStatus,
            kRecordDone);
  nStartMeasure = 3;
  AbortAfter watch{-1, 0, {}};
  ASSERT_EQ(RecordWavFile(Path("b.wav").c_str(), 22050, AbortingProgress, &watch, nullptr).nStatus,
            kRecordDone);
  EXPECT_EQ(watch.aSeen.at(0).nMeasure, 1);
  EXPECT_EQ(ReadBytes(Path("a.wav")), ReadBytes(Path("b.wav")));
  std::vector<uint8_t> a = ReadBytes(Path("b.wav"));
  EXPECT_NE(a[44 + 4 * 100] | a[45 + 4 * 100], 0); // the first note is there
}

TEST_F(RecorderTest, FileThatCannotBeCreated) {
  Load(MakeSong({{0, 1}}, 1));
  CaptureSink sink;
  MessageSink *pPrevious = SetMessageSink(&sink);
  RecordResult r = RecordWavFile(Path("missing/x.wav").c_str(), 22050, nullptr, nullptr, nullptr);
  SetMessageSink(pPrevious);
  EXPECT_EQ(r.nStatus, kRecordNotCreated);
  EXPECT_EQ(r.nErrno, ENOENT);
  EXPECT_EQ(sink.nShown, 0); // the file dialog's choice failing is not reported
  EXPECT_EQ(nPCMRate, 22050);
  EXPECT_EQ(bRecording, 0);
  EXPECT_STREQ(pfnLog_(), "SetRate 22050;FreeLockCFG;");
}

TEST_F(RecorderTest, NoSong) {
  FreeSong();
  RecordResult r = RecordWavFile(Path("x.wav").c_str(), 22050, nullptr, nullptr, nullptr);
  EXPECT_EQ(r.nStatus, kRecordNoSong);
  EXPECT_FALSE(fs::exists(Path("x.wav")));
}

// A recording would share the units and the ring with open output or the
// sound test, or run inside another recording: it is refused, nothing written.
TEST_F(RecorderTest, RefusedWhileOutputOrAnotherRecordingRuns) {
  Load(MakeSong({{0, 40}}, 40));
  int32_t nDialog = 0;
  for (int32_t nCase = 0; nCase < 3; nCase++) {
    bOutputOpen = nCase == 0;
    hwndTest = nCase == 1 ? &nDialog : nullptr;
    bRecording = nCase == 2;
    RecordResult r = RecordWavFile(Path("x.wav").c_str(), 22050, nullptr, nullptr, nullptr);
    EXPECT_EQ(r.nStatus, kRecordBusy) << nCase;
    EXPECT_FALSE(fs::exists(Path("x.wav"))) << nCase;
    EXPECT_EQ(bRecording, nCase == 2) << "the running recording goes on";
  }
  bOutputOpen = 0;
  hwndTest = nullptr;
  bRecording = 0;
  EXPECT_STREQ(pfnLog_(), "") << "the units were not touched";
}

// A write that fails (here: a file-size limit in the middle of the fourth
// block) stops the recording with a message naming the file and the reason,
// and leaves the three whole blocks before it with a header that states them.
TEST_F(RecorderTest, WriteFailureLeavesValidPartialFile) {
  Load(MakeSong({{0, 40}}, 40));
  const fs::path out = Path("limited.wav");
  int aFd[2];
  ASSERT_EQ(pipe(aFd), 0);
  pid_t nPid = fork();
  ASSERT_GE(nPid, 0);
  if (nPid == 0) {
    close(aFd[0]);
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{44 + 3 * 8192 + 1000, 44 + 3 * 8192 + 1000};
    setrlimit(RLIMIT_FSIZE, &limit);
    CaptureSink sink;
    SetMessageSink(&sink);
    RecordResult r = RecordWavFile(out.c_str(), 22050, nullptr, nullptr, nullptr);
    std::string sReport = std::to_string(r.nStatus) + "\n" + std::to_string(r.nErrno) + "\n" +
                          std::to_string(r.nDataBytes) + "\n" + std::to_string(sink.nShown) + "\n" +
                          sink.sCaption + "\n" + sink.sText;
    (void)!write(aFd[1], sReport.data(), sReport.size());
    _exit(0);
  }
  close(aFd[1]);
  std::string sReport;
  char sz[512];
  ssize_t n;
  while ((n = read(aFd[0], sz, sizeof sz)) > 0)
    sReport.append(sz, static_cast<size_t>(n));
  close(aFd[0]);
  int nStatus = 0;
  waitpid(nPid, &nStatus, 0);
  ASSERT_TRUE(WIFEXITED(nStatus));
  const std::string sExpectStart = std::to_string(kRecordWriteFailed) + "\n" +
                                   std::to_string(EFBIG) + "\n24576\n1\n軽度機能障害\n";
  EXPECT_EQ(sReport.substr(0, sExpectStart.size()), sExpectStart) << sReport;
  EXPECT_NE(sReport.find(out.string()), std::string::npos) << sReport;
  EXPECT_NE(sReport.find(std::strerror(EFBIG)), std::string::npos) << sReport;
  EXPECT_EQ(fs::file_size(out), 44u + 24576u);
  ExpectValidWav(out, 22050);
}

namespace {

// What the file's header said after each block, read from the disk as a
// killed recording would leave it.
struct HeaderWatch {
  std::string sPath;
  std::vector<std::pair<int64_t, uint32_t>> aSeen; // bytes written, header's data size
};

void WatchHeader(void *pUser, const RecordProgress &progress) {
  HeaderWatch &w = *static_cast<HeaderWatch *>(pUser);
  std::vector<uint8_t> a = ReadBytes(w.sPath);
  w.aSeen.push_back({progress.nBytes, a.size() >= 44 ? Le32(a, 40) : 0xFFFFFFFFu});
}

} // namespace

// The header states the data written so far at least every 64 blocks (3 s
// at 44100 Hz), never more than the file holds.
TEST_F(RecorderTest, HeaderKeepsUpWithTheDataWhileRecording) {
  Load(MakeSong({{0, 1}}, 24));
  HeaderWatch watch{Path("live.wav").string(), {}};
  ASSERT_EQ(RecordWavFile(watch.sPath.c_str(), 44100, WatchHeader, &watch, nullptr).nStatus,
            kRecordDone);
  ASSERT_GT(watch.aSeen.size(), 130u);
  for (const auto &[nBytes, nStated] : watch.aSeen) {
    EXPECT_LE(nStated, nBytes);
    EXPECT_GT(nStated + 64 * 8192, nBytes) << "at " << nBytes << " bytes";
  }
  ExpectValidWav(watch.sPath, 44100);
}

// A stream (here /dev/null) cannot be cut back or sought: the recording goes
// straight through and succeeds.
TEST_F(RecorderTest, StreamIsWrittenStraightThrough) {
  Load(MakeSong({{0, 1}}, 2));
  RecordResult r = RecordWavFile("/dev/null", 22050, nullptr, nullptr, nullptr);
  EXPECT_EQ(r.nStatus, kRecordDone);
  EXPECT_GT(r.nDataBytes, 0);
}
