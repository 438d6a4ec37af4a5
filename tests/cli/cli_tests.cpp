// torqa-cli render from the outside: WAV files checked with sox and against
// song lengths computed with midicsv (both independent of this code), parallel
// renders against sequential ones, bad input, a failing write, and the saved
// settings as defaults that the tool never changes. Also the demo song.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "player/app/settings_store.h"
#include "player/state/engine_state.h"
#include "support/midicsv.h"
#include "support/temp_dir.h"
#include "tools/smf/smf_writer.h"

namespace fs = std::filesystem;

namespace {

struct RunResult {
  int nExit = -1;
  std::string sOut, sErr;
};

std::string ReadAll(int nFd) {
  std::string s;
  char sz[4096];
  ssize_t n;
  while ((n = read(nFd, sz, sizeof sz)) > 0)
    s.append(sz, static_cast<size_t>(n));
  return s;
}

// Runs torqa-cli with args; env entries "NAME=value" ("NAME=" unsets). A file
// size limit applies to the child only when nFileLimit > 0.
RunResult RunCli(const std::vector<std::string> &aArgs, const std::vector<std::string> &aEnv,
                 long nFileLimit = 0) {
  int aOut[2], aErr[2];
  if (pipe(aOut) || pipe(aErr))
    return {};
  pid_t nPid = fork();
  if (nPid == 0) {
    dup2(aOut[1], 1);
    dup2(aErr[1], 2);
    close(aOut[0]);
    close(aErr[0]);
    for (const std::string &s : aEnv) {
      size_t nEq = s.find('=');
      if (nEq + 1 == s.size())
        unsetenv(s.substr(0, nEq).c_str());
      else
        setenv(s.substr(0, nEq).c_str(), s.substr(nEq + 1).c_str(), 1);
    }
    if (nFileLimit > 0) {
      rlimit limit{static_cast<rlim_t>(nFileLimit), static_cast<rlim_t>(nFileLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(TORQA_CLI_PATH));
    argv.push_back(const_cast<char *>("render"));
    for (const std::string &s : aArgs)
      argv.push_back(const_cast<char *>(s.c_str()));
    argv.push_back(nullptr);
    execv(TORQA_CLI_PATH, argv.data());
    _exit(127);
  }
  close(aOut[1]);
  close(aErr[1]);
  RunResult r;
  // stderr is small; stdout is read first, then stderr.
  r.sOut = ReadAll(aOut[0]);
  r.sErr = ReadAll(aErr[0]);
  close(aOut[0]);
  close(aErr[0]);
  int nStatus = 0;
  waitpid(nPid, &nStatus, 0);
  r.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
  return r;
}

std::string Capture(const std::string &sCmd) {
  std::FILE *p = popen(sCmd.c_str(), "r");
  if (!p)
    return "";
  std::string s;
  char sz[4096];
  size_t n;
  while ((n = std::fread(sz, 1, sizeof sz, p)) > 0)
    s.append(sz, n);
  pclose(p);
  return s;
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
    s.pop_back();
  return s;
}

std::string SoxInfo(const fs::path &p, const char *pszOption) {
  return Trim(Capture(std::string("sox --i ") + pszOption + " '" + p.string() + "' 2>/dev/null"));
}

std::vector<uint8_t> ReadBytes(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

size_t CountLines(const std::string &s) {
  size_t n = 0;
  for (char c : s)
    n += c == '\n';
  return n;
}

// What midicsv reads from a song: its events as CSV fields.
std::vector<testsupport::MidiCsvRecord> MidiCsv(const fs::path &p) {
  std::vector<testsupport::MidiCsvRecord> aRows;
  testsupport::MidiCsvRecords(p.string(), aRows);
  return aRows;
}

// The song's length in seconds from midicsv's tempo map: the last End_track.
double MidiCsvSeconds(const fs::path &p) {
  std::map<long, long> mTempo{{0, 500000}};
  long nDivision = 0, nEnd = 0;
  for (const auto &row : MidiCsv(p)) {
    if (row.size() < 3)
      continue;
    if (row[2] == "Header")
      nDivision = std::stol(row[5]);
    else if (row[2] == "Tempo")
      mTempo[std::stol(row[1])] = std::stol(row[3]);
    else if (row[2] == "End_track")
      nEnd = std::max(nEnd, std::stol(row[1]));
  }
  double dSeconds = 0;
  for (auto it = mTempo.begin(); it != mTempo.end() && it->first < nEnd; ++it) {
    auto next = std::next(it);
    long nTo = next == mTempo.end() || next->first > nEnd ? nEnd : next->first;
    dSeconds += static_cast<double>(nTo - it->first) * it->second / 1e6 / nDivision;
  }
  return dSeconds;
}

// Root mean square and peak of the 16-bit samples after the 44-byte header.
void Loudness(const std::vector<uint8_t> &a, double *pRms, int *pPeak) {
  double dSum = 0;
  int nPeak = 0;
  size_t n = 0;
  for (size_t o = 44; o + 1 < a.size(); o += 2, ++n) {
    int s = static_cast<int16_t>(a[o] | (a[o + 1] << 8));
    dSum += static_cast<double>(s) * s;
    nPeak = std::max(nPeak, std::abs(s));
  }
  *pRms = n ? std::sqrt(dSum / static_cast<double>(n)) : 0;
  *pPeak = nPeak;
}

class TempDir : public testsupport::TempDir {
public:
  TempDir() : testsupport::TempDir("torqa-cli") {}
  std::string Registry() const { return "TORQA_REGISTRY=" + (path() / "registry.reg").string(); }
};

// Three short openmsx songs (60-74 s), when the package is installed.
std::vector<fs::path> OpenMsxSongs() {
  std::vector<fs::path> a;
  for (const char *psz : {"train_filled_with_cash.mid", "coconut_run2.mid", "5432gone_redfarn.mid"})
    if (fs::exists(fs::path(OPENMSX_DIR) / psz))
      a.push_back(fs::path(OPENMSX_DIR) / psz);
  return a;
}

// Songs linked into dir, so the WAV files land beside them there.
std::vector<fs::path> LinkSongs(const TempDir &dir, const std::vector<fs::path> &aSongs) {
  std::vector<fs::path> a;
  for (const fs::path &p : aSongs) {
    fs::path link = dir / p.filename().string();
    fs::create_symlink(p, link);
    a.push_back(link);
  }
  return a;
}

std::vector<std::string> Args(const std::vector<fs::path> &aSongs, std::vector<std::string> aMore) {
  std::vector<std::string> a;
  for (const fs::path &p : aSongs)
    a.push_back(p.string());
  a.insert(a.end(), aMore.begin(), aMore.end());
  return a;
}

fs::path WavOf(const fs::path &song) {
  return fs::path(song).replace_extension(".wav");
}

std::vector<uint8_t> ShortSong() {
  smfw::File file(0, 480);
  smfw::Track &t = file.AddTrack();
  t.ControlChange(0, 0, 91, 127);
  t.ProgramChange(0, 0, 0);
  t.NoteOn(0, 0, 60, 110).NoteOn(0, 0, 64, 100).NoteOff(960, 0, 60).NoteOff(0, 0, 64);
  t.NoteOn(0, 9, 36, 120).NoteOff(240, 9, 36).EndOfTrack(240);
  return file.Build();
}

class RenderAtRate : public ::testing::TestWithParam<int> {};

} // namespace

// The demo and three openmsx songs: each WAV is read by sox as 16-bit stereo
// at the rate asked for, lasts the song plus its tail, and is not silent.
TEST_P(RenderAtRate, SongsGiveValidWavesOfTheirLength) {
  const int nRate = GetParam();
  TempDir dir;
  std::vector<fs::path> aSongs = OpenMsxSongs();
  aSongs.insert(aSongs.begin(), DEMO_SONG_PATH);
  aSongs = LinkSongs(dir, aSongs);
  RunResult r = RunCli(Args(aSongs, {"-r", std::to_string(nRate)}), {dir.Registry()});
  ASSERT_EQ(r.nExit, 0) << r.sErr;
  EXPECT_EQ(r.sErr, "");
  EXPECT_EQ(CountLines(r.sOut), aSongs.size()) << r.sOut; // one summary line per song
  for (const fs::path &song : aSongs) {
    SCOPED_TRACE(song.string());
    fs::path wav = WavOf(song);
    EXPECT_NE(r.sOut.find(song.string() + " -> " + wav.string() + ": "), std::string::npos);
    ASSERT_TRUE(fs::exists(wav));
    const uintmax_t nData = fs::file_size(wav) - 44;
    EXPECT_EQ(nData % 8192, 0u);
    EXPECT_EQ(SoxInfo(wav, "-r"), std::to_string(nRate));
    EXPECT_EQ(SoxInfo(wav, "-c"), "2");
    EXPECT_EQ(SoxInfo(wav, "-b"), "16");
    EXPECT_EQ(SoxInfo(wav, "-s"), std::to_string(nData / 4));
    const double dWav = static_cast<double>(nData) / 4 / nRate;
    const double dSong = MidiCsvSeconds(song);
    // The tail: 16 silent blocks counted from the one in which the song ends,
    // after the voices' releases. The player's tempo steps are allowed 0.5 %.
    const double dBlock = 8192.0 / 4 / nRate;
    EXPECT_GE(dWav, dSong * 0.995 + 15 * dBlock) << dSong;
    EXPECT_LE(dWav, dSong * 1.005 + 16 * dBlock + 5.0) << dSong; // at most 5 s of releases
    double dRms = 0;
    int nPeak = 0;
    Loudness(ReadBytes(wav), &dRms, &nPeak);
    EXPECT_GT(dRms, 300.0);
    EXPECT_GT(nPeak, 3000);
    EXPECT_LT(nPeak, 32767); // and not clipping all the way
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, RenderAtRate, ::testing::Values(22050, 44100));

// Separate processes per song: -j 2 writes the same bytes as one at a time.
TEST(Render, ParallelEqualsSequential) {
  TempDir a, b;
  std::vector<fs::path> aSongs = {DEMO_SONG_PATH};
  std::vector<fs::path> aMsx = OpenMsxSongs();
  if (!aMsx.empty())
    aSongs.push_back(aMsx.back());
  std::vector<fs::path> aSeq = LinkSongs(a, aSongs), aPar = LinkSongs(b, aSongs);
  RunResult r1 = RunCli(Args(aSeq, {"-r", "22050"}), {a.Registry()});
  RunResult r2 = RunCli(Args(aPar, {"-r", "22050", "-j", "2"}), {b.Registry()});
  ASSERT_EQ(r1.nExit, 0) << r1.sErr;
  ASSERT_EQ(r2.nExit, 0) << r2.sErr;
  for (size_t i = 0; i < aSongs.size(); ++i) {
    std::vector<uint8_t> x = ReadBytes(WavOf(aSeq[i])), y = ReadBytes(WavOf(aPar[i]));
    EXPECT_GT(x.size(), 44u);
    EXPECT_TRUE(x == y) << aSongs[i];
  }
}

// Bad input: one clear line on stderr, a non-zero exit, nothing on stdout and
// no WAV file.
TEST(Render, BadInputGivesOneLine) {
  TempDir dir;
  std::ofstream(dir / "text.mid") << "this is not a MIDI file\n";
  smfw::File smpte(0, 0xE728); // -25 frames per second, 40 ticks per frame
  smpte.AddTrack().NoteOn(0, 0, 60, 100).NoteOff(100, 0, 60).EndOfTrack();
  ASSERT_TRUE(smpte.Save((dir / "smpte.mid").string()));
  smfw::WriteFileBytes((dir / "ok.mid").string(), ShortSong());
  fs::create_directory(dir / "empty");
  const std::string sOk = (dir / "ok.mid").string();
  struct Case {
    std::vector<std::string> aArgs;
    std::vector<std::string> aEnv;
    const char *pszExpect;
  } const kCases[] = {
      {{(dir / "missing.mid").string()}, {}, "No such file or directory"},
      {{(dir / "text.mid").string()}, {}, "not a MIDI file"},
      {{(dir / "smpte.mid").string()}, {}, "SMPTE"},
      {{sOk, "-r", "5199"}, {}, "5200..96000"},
      {{sOk, "-r", "96001"}, {}, "5200..96000"},
      {{sOk, "-r", "fast"}, {}, "5200..96000"},
      {{sOk}, {"TORQA_PLUGIN_DIR=" + (dir / "empty").string()}, "no sound unit found"},
      {{sOk, "-o", (dir / "nodir/out.wav").string()}, {}, "output not writable"},
      {{sOk, "--reverb", "maybe"}, {}, "on or off"},
      {{sOk, "--3d", "1601"}, {}, "0..1600"},
      {{sOk, "--3d-engine", "huge"}, {}, "light, medium or heavy"},
      {{sOk, "-j", "0"}, {}, "1..64"},
      {{sOk, "--frobnicate"}, {}, "unknown option"},
      {{sOk, "-o", sOk}, {}, "would overwrite the song"},
  };
  for (const Case &c : kCases) {
    std::vector<std::string> aEnv = c.aEnv;
    aEnv.push_back(dir.Registry());
    RunResult r = RunCli(c.aArgs, aEnv);
    SCOPED_TRACE(c.aArgs[0] + " " + (c.aArgs.size() > 1 ? c.aArgs[1] : ""));
    EXPECT_NE(r.nExit, 0);
    EXPECT_EQ(r.sOut, "");
    EXPECT_NE(r.sErr.find(c.pszExpect), std::string::npos) << r.sErr;
    if (std::string(c.pszExpect) != "unknown option") {
      EXPECT_EQ(CountLines(r.sErr), 1u) << r.sErr;
    }
  }
  EXPECT_FALSE(fs::exists(dir / "ok.wav"));
}

// A directory with the real unit and its sound-set folder, for a set of the
// test's own.
fs::path UnitDirWithSet(const TempDir &dir) {
  fs::create_directories(dir / "plugin" / "VOKRA");
  fs::create_symlink(fs::path(TORQA_CLI_PATH).parent_path() / "PLUGIN" / "vokraunit.so",
                     dir / "plugin" / "vokraunit.so");
  return dir / "plugin";
}

// A sound set that gives no sound names its file and why, and nothing is
// rendered.
TEST(Render, SilentSoundSetIsNamedAndRefused) {
  struct Case {
    const char *pszName;
    void (*pfnMake)(const fs::path &cfg);
    const char *pszWhy;
  } const kCases[] = {
      {"missing", [](const fs::path &) {}, "No such file or directory"},
      {"directory", [](const fs::path &cfg) { fs::create_directory(cfg); }, "a directory"},
      {"garbage",
       [](const fs::path &cfg) { std::ofstream(cfg) << "\x89PNG\r\n\x1a\n\x01\x02 not a set\n"; },
       "no instrument line"},
      {"no sample loads",
       [](const fs::path &cfg) { std::ofstream(cfg) << "1: gone.pat T1\n2: gone.epc P36\n"; },
       "none of its 2 samples loaded"},
  };
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.pszName);
    TempDir dir;
    const fs::path plugin = UnitDirWithSet(dir);
    const fs::path cfg = plugin / "VOKRA" / "VOKRA.cfg";
    c.pfnMake(cfg);
    smfw::WriteFileBytes((dir / "a.mid").string(), ShortSong());
    RunResult r =
        RunCli({(dir / "a.mid").string()}, {dir.Registry(), "TORQA_PLUGIN_DIR=" + plugin.string()});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_EQ(r.sOut, "");
    EXPECT_NE(r.sErr.find("sound set " + cfg.string() + ": " + c.pszWhy), std::string::npos)
        << r.sErr;
    EXPECT_FALSE(fs::exists(dir / "a.wav"));
  }
}

// A set that loads but plays nothing for the song (its one instrument is on
// no program) renders; the silent file is pointed out.
TEST(Render, SilenceIsPointedOut) {
  TempDir dir;
  const fs::path plugin = UnitDirWithSet(dir);
  fs::create_symlink("/usr/share/midi/freepats/Tone_000/000_Acoustic_Grand_Piano.pat",
                     plugin / "VOKRA" / "piano.pat");
  std::ofstream(plugin / "VOKRA" / "VOKRA.cfg") << "2: piano.pat\n";
  smfw::WriteFileBytes((dir / "a.mid").string(), ShortSong());
  RunResult r =
      RunCli({(dir / "a.mid").string()}, {dir.Registry(), "TORQA_PLUGIN_DIR=" + plugin.string()});
  EXPECT_EQ(r.nExit, 0) << r.sErr;
  EXPECT_EQ(CountLines(r.sOut), 1u);
  EXPECT_NE(r.sErr.find("a.wav is silent"), std::string::npos) << r.sErr;
  EXPECT_TRUE(fs::exists(dir / "a.wav"));
}

// A render maps neither the window toolkit nor the unit's window library:
// the unit loads that only for a host with a window.
TEST(Render, LoadsNoWindowLibrary) {
  TempDir dir;
  smfw::WriteFileBytes((dir / "a.mid").string(), ShortSong());
  RunResult r = RunCli({(dir / "a.mid").string()}, {dir.Registry(), "LD_DEBUG=files"});
  EXPECT_EQ(r.nExit, 0) << r.sErr;
  EXPECT_NE(r.sErr.find("vokraunit.so"), std::string::npos); // the loader reports its loads
  EXPECT_EQ(r.sErr.find("libfltk"), std::string::npos);
  EXPECT_EQ(r.sErr.find("vokraui"), std::string::npos);
}

// On a terminal (here a pseudo-terminal from script(1)) a progress bar with
// seconds, measure, beat.tick and speed is drawn and replaced by the summary.
TEST(Render, ProgressBarOnATerminal) {
  TempDir dir;
  fs::create_symlink(DEMO_SONG_PATH, dir / "demo.mid");
  const std::string sCmd = "cd '" + dir.path().string() + "' && " + dir.Registry() +
                           " script -q -e -c '" + TORQA_CLI_PATH +
                           " render demo.mid -r 22050' /dev/null";
  const std::string sOut = Capture(sCmd);
  EXPECT_NE(sOut.find("demo.mid -> demo.wav: "), std::string::npos) << sOut;
  const size_t nBar = sOut.find("\x1b[2Kdemo.mid");
  ASSERT_NE(nBar, std::string::npos) << sOut;
  const std::string sBar = sOut.substr(nBar, sOut.find('\n', nBar) - nBar);
  EXPECT_NE(sBar.find(" s / 47."), std::string::npos) << sBar;
  EXPECT_NE(sBar.find("measure "), std::string::npos) << sBar;
  EXPECT_NE(sBar.find("beat "), std::string::npos) << sBar;
  EXPECT_NE(sBar.find("×"), std::string::npos) << sBar;
}

// A write that fails (a file-size limit) is reported with the file and the
// system's reason and a non-zero exit; the file keeps the whole blocks before.
TEST(Render, WriteFailureIsReported) {
  TempDir dir;
  fs::create_symlink(DEMO_SONG_PATH, dir / "demo.mid");
  RunResult r =
      RunCli({(dir / "demo.mid").string(), "-r", "22050"}, {dir.Registry()}, 44 + 10 * 8192 + 500);
  EXPECT_EQ(r.nExit, 1);
  EXPECT_EQ(r.sOut, "");
  EXPECT_NE(r.sErr.find((dir / "demo.wav").string() + ": write failed: File too large"),
            std::string::npos)
      << r.sErr;
  EXPECT_EQ(fs::file_size(dir / "demo.wav"), 44u + 10 * 8192);
  EXPECT_EQ(SoxInfo(dir / "demo.wav", "-s"), std::to_string(10 * 8192 / 4));
}

// Rate and effects default to the saved settings; options override them for
// the run, and the registry file is the same afterwards.
TEST(Render, SavedSettingsAreDefaultsAndStayUnchanged) {
  TempDir dir;
  setenv("TORQA_REGISTRY", (dir / "registry.reg").c_str(), 1);
  LoadSettings(); // first run: creates the key
  nPCMRate = 11025;
  bUseEff1 = 1;
  SaveSettings();
  unsetenv("TORQA_REGISTRY");
  smfw::WriteFileBytes((dir / "a.mid").string(), ShortSong());

  RunResult r = RunCli({(dir / "a.mid").string()}, {dir.Registry()});
  ASSERT_EQ(r.nExit, 0) << r.sErr;
  EXPECT_EQ(SoxInfo(dir / "a.wav", "-r"), "11025");
  std::vector<uint8_t> abSaved = ReadBytes(dir / "a.wav");
  // The unit has added its own key with its first-run values by now.
  const std::vector<uint8_t> abRegistry = ReadBytes(dir / "registry.reg");
  const std::string sRegistry(abRegistry.begin(), abRegistry.end());
  EXPECT_NE(sRegistry.find("\"nPCMRate\"=dword:00002b11"), std::string::npos) << sRegistry;

  r = RunCli({(dir / "a.mid").string(), "-o", (dir / "dry.wav").string(), "--reverb", "off"},
             {dir.Registry()});
  ASSERT_EQ(r.nExit, 0) << r.sErr;
  EXPECT_EQ(SoxInfo(dir / "dry.wav", "-r"), "11025");
  EXPECT_NE(ReadBytes(dir / "dry.wav"), abSaved); // the reverb was on before

  r = RunCli({(dir / "a.mid").string(), "-o", (dir / "fast.wav").string(), "-r", "32000", "--3d",
              "800", "--3d-engine", "heavy", "--lpf", "on", "--chorus", "off"},
             {dir.Registry()});
  ASSERT_EQ(r.nExit, 0) << r.sErr;
  EXPECT_EQ(SoxInfo(dir / "fast.wav", "-r"), "32000");
  EXPECT_EQ(ReadBytes(dir / "registry.reg"), abRegistry);
}

// demo.mid is what the generator writes, and it holds what the brief for it
// asks, as midicsv reads it.
TEST(Demo, GeneratorWritesTheCommittedSong) {
  TempDir dir;
  ASSERT_EQ(std::system((std::string(MAKE_DEMO_PATH) + " " + (dir / "demo.mid").string()).c_str()),
            0);
  EXPECT_EQ(ReadBytes(dir / "demo.mid"), ReadBytes(DEMO_SONG_PATH));

  std::set<int> setChannels, setPrograms, setPans;
  std::set<std::string> setTimeSigs;
  int nTempos = 0, nBends = 0, nSustain = 0, nReverb = 0, nChorus = 0, nDrumNotes = 0;
  bool bGsRhythm = false;
  std::string sFormat;
  for (const auto &row : MidiCsv(DEMO_SONG_PATH)) {
    if (row.size() < 3)
      continue;
    const std::string &sType = row[2];
    if (sType == "Header")
      sFormat = row[3];
    else if (sType == "Tempo")
      ++nTempos;
    else if (sType == "Time_signature")
      setTimeSigs.insert(row[3] + "/" + row[4]);
    else if (sType == "Pitch_bend_c")
      ++nBends;
    else if (sType == "Program_c")
      setPrograms.insert(std::stoi(row[4]));
    else if (sType == "Note_on_c") {
      setChannels.insert(std::stoi(row[3]));
      nDrumNotes += row[3] == "9";
    } else if (sType == "Control_c") {
      int nCtrl = std::stoi(row[4]);
      nSustain += nCtrl == 64;
      nReverb += nCtrl == 91;
      nChorus += nCtrl == 93;
      if (nCtrl == 10)
        setPans.insert(std::stoi(row[5]));
    } else if (sType == "System_exclusive") {
      // 65 16 66 18 64 16 21: Roland, GS, set the part of block 0 (channel 10) to rhythm.
      bGsRhythm |= row.size() >= 11 && row[4] == "65" && row[7] == "18" && row[8] == "64" &&
                   row[9] == "16" && row[10] == "21";
    }
  }
  EXPECT_EQ(sFormat, "1");
  EXPECT_GE(setChannels.size(), 5u);
  EXPECT_TRUE(setChannels.count(9));
  EXPECT_GE(nDrumNotes, 100);
  EXPECT_GE(setPrograms.size(), 5u);
  EXPECT_GE(setPans.size(), 4u);
  EXPECT_GE(nTempos, 2);
  EXPECT_EQ(setTimeSigs, (std::set<std::string>{"4/2", "3/2"})); // 4/4 and 3/4
  EXPECT_GT(nBends, 0);
  EXPECT_GT(nSustain, 0);
  EXPECT_GT(nReverb, 0);
  EXPECT_GT(nChorus, 0);
  EXPECT_TRUE(bGsRhythm);
  const double dSeconds = MidiCsvSeconds(DEMO_SONG_PATH);
  EXPECT_GE(dSeconds, 30.0);
  EXPECT_LE(dSeconds, 60.0);
}
