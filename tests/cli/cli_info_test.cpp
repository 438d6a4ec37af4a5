// torqa-cli info as a user meets it: what it prints for a song built here, and
// one clear line and a failure status for files it cannot use.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "tools/smf/smf_writer.h"

namespace {

struct RunResult {
  int nStatus;
  std::string sOut;
};

// Runs torqa-cli with args; stdout and stderr together.
RunResult RunCli(const std::string &sArgs) {
  const std::string sCommand = std::string("'") + TORQA_CLI_PATH + "' " + sArgs + " 2>&1";
  RunResult result{-1, ""};
  std::FILE *pPipe = popen(sCommand.c_str(), "r");
  if (!pPipe)
    return result;
  char ab[4096];
  size_t n;
  while ((n = std::fread(ab, 1, sizeof ab, pPipe)) > 0)
    result.sOut.append(ab, n);
  const int nWait = pclose(pPipe);
  result.nStatus = WIFEXITED(nWait) ? WEXITSTATUS(nWait) : -1;
  return result;
}

std::string TempPath(const char *pszSuffix) {
  return std::string("/tmp/torqa_cli_") + std::to_string(getpid()) + pszSuffix;
}

TEST(CliInfo, DescribesASong) {
  smfw::File file(1, 480);
  file.AddTrack()
      .TrackName(0, "conductor")
      .Tempo(0, 500000)
      .TimeSignature(0, 4, 2)
      .EndOfTrack(3840);
  // "ピアノ" in Shift-JIS: shown as UTF-8.
  file.AddTrack()
      .MetaText(0, 0x03, "\x83\x73\x83\x41\x83\x6D")
      .ProgramChange(0, 0, 1)
      .NoteOn(0, 0, 60, 100)
      .NoteOn(480, 0, 60, 0)
      .NoteOn(0, 0, 62, 100)
      .NoteOff(480, 0, 62)
      .ControlChange(0, 0, 7, 100)
      .PitchBend(0, 0, 8192)
      .SysEx(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
      .Text(0, "hello")
      .EndOfTrack();
  const std::string sPath = TempPath(".mid");
  ASSERT_TRUE(file.Save(sPath));
  const RunResult result = RunCli("info " + sPath);
  std::remove(sPath.c_str());
  EXPECT_EQ(result.nStatus, 0) << result.sOut;
  const std::string &s = result.sOut;
  EXPECT_NE(s.find("format: 1\n"), std::string::npos) << s;
  EXPECT_NE(s.find("tracks: 2\n"), std::string::npos) << s;
  EXPECT_NE(s.find("division: 480 ticks per quarter note\n"), std::string::npos) << s;
  EXPECT_NE(s.find("track 000: conductor\n"), std::string::npos) << s;
  EXPECT_NE(s.find("track 001: ピアノ\n"), std::string::npos) << s;
  // 3840 ticks at 120 bpm: tick 3840 elapses at sample ceil(3839 * 11760 / 256) - 1 = 176354.
  EXPECT_NE(s.find("length: 2 measures 0 beats 0 ticks (3840 ticks), 3.999 s (176355 samples "
                   "at 44100 Hz)\n"),
            std::string::npos)
      << s;
  for (const char *psz :
       {"  note on              2\n", "  note on, velocity 0  1\n", "  note off             1\n",
        "  control change       1\n", "  program change       1\n", "  pitch bend           1\n",
        "  system exclusive     1\n", "  tempo                1\n", "  time signature       1\n",
        "  text                 1\n", "  track name           2\n", "  end of track         2\n"})
    EXPECT_NE(s.find(psz), std::string::npos) << psz << s;
}

TEST(CliInfo, BadInputIsOneLineAndAFailure) {
  const RunResult missing = RunCli("info /nonexistent/song.mid");
  EXPECT_NE(missing.nStatus, 0);
  EXPECT_EQ(missing.sOut, "torqa-cli: /nonexistent/song.mid: cannot open: No such file or "
                          "directory\n");

  const std::string sPath = TempPath(".bin");
  ASSERT_TRUE(smfw::WriteFileBytes(sPath, {'n', 'o', 't', ' ', 'm', 'i', 'd', 'i'}));
  const RunResult notMidi = RunCli("info " + sPath);
  EXPECT_NE(notMidi.nStatus, 0);
  EXPECT_EQ(notMidi.sOut,
            "torqa-cli: " + sPath + ": not a MIDI file (no MThd header of format 0 or 1)\n");

  smfw::File smpte(0, 0xE728);
  smpte.AddTrack().EndOfTrack();
  ASSERT_TRUE(smpte.Save(sPath));
  const RunResult timeCode = RunCli("info " + sPath);
  std::remove(sPath.c_str());
  EXPECT_NE(timeCode.nStatus, 0);
  EXPECT_EQ(timeCode.sOut, "torqa-cli: " + sPath +
                               ": 形式の問題: タイムコードは扱えません (time-code (SMPTE) "
                               "division is not supported)\n");

  EXPECT_NE(RunCli("").nStatus, 0);
  EXPECT_NE(RunCli("nosuchcommand").nStatus, 0);
  EXPECT_NE(RunCli("info").nStatus, 0);
}

} // namespace
