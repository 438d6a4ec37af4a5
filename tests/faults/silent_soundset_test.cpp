// A sound set whose every sample file is missing still loads (each failure
// reported), and a song recorded through the real PLUGIN/vokraunit.so and the
// whole render loop (effects, 3D, band filter) comes out complete and silent.
// The same song over a set with one sample present is not silent, so the
// silence is the missing samples' doing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "player/render/effects.h"
#include "player/render/wav_recorder.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"
#include "support/sample_writers.h"
#include "support/temp_dir.h"
#include "tools/smf/smf_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kRate = 22050;

// Two seconds of melody, chords, bend and drums on several channels and programs.
std::vector<uint8_t> MakeSong() {
  smfw::File file(1, 96);
  file.AddTrack().Tempo(0, 500000).TimeSignature(0, 4, 2).EndOfTrack(384);
  smfw::Track &melody = file.AddTrack();
  melody.ProgramChange(0, 0, 0).ProgramChange(0, 1, 48).ControlChange(0, 1, 10, 100);
  for (int i = 0; i < 8; ++i)
    melody.NoteOn(i ? 0 : 0, 0, 60 + i, 100)
        .NoteOn(0, 1, 48 + i, 90)
        .PitchBend(24, 1, 4096 + i * 1000)
        .NoteOff(24, 0, 60 + i)
        .NoteOff(0, 1, 48 + i);
  melody.EndOfTrack(0);
  smfw::Track &drums = file.AddTrack();
  for (int i = 0; i < 8; ++i)
    drums.NoteOn(0, 9, i % 2 ? 38 : 36, 120).NoteOff(48, 9, i % 2 ? 38 : 36);
  drums.EndOfTrack(0);
  return file.Build();
}

std::vector<uint8_t> ReadBytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class SilentSoundSet : public ::testing::Test {
protected:
  testsupport::TempDir tmp_{"torqa-silent"};
  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty());
    dir_ = tmp_.path();
    fs::create_directories(dir_ / "PLUGIN" / "VOKRA");
    // The unit's own settings start fresh: configuration "VOKRA.cfg", all channels, full gain.
    setenv("TORQA_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
    SetPluginDirectory((dir_ / "PLUGIN").c_str());
    std::memset(aUnitSlots, 0, sizeof aUnitSlots);
    std::snprintf(aUnitSlots[0].szPath, sizeof aUnitSlots[0].szPath, "%s", VOKRAUNIT_PATH);
    // Every stage of the render loop on.
    bUseEff1 = 1;
    bUseEff3 = 1;
    bLPF = 1;
    n3DLength = 800;
    n3DENGIN = 2;
    Apply3DEngineSetting();
    AllocReverbLine();
    AllocChorusLine();
    const std::vector<uint8_t> song = MakeSong();
    ASSERT_EQ(LoadSmfBytes(song.data(), int32_t(song.size())), 1);
  }
  void TearDown() override {
    UnbindAllUnits();
    FreeSong();
    FreeReverbLine();
    FreeChorusLine();
    SetPluginDirectory(nullptr);
    unsetenv("TORQA_REGISTRY");
  }
  void WriteCfg(const std::string &sText) {
    std::ofstream(dir_ / "PLUGIN" / "VOKRA" / "VOKRA.cfg", std::ios::binary) << sText;
  }
  // Binds the unit (which loads the set), records the song, and returns the
  // largest sample magnitude of the file's data.
  int32_t RecordPeak(std::string *psLoadReport) {
    ::testing::internal::CaptureStderr();
    BindUnit(0);
    *psLoadReport = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(aUnitSlots[0].hModule, nullptr);
    const fs::path out = dir_ / "song.wav";
    const RecordResult r = RecordWavFile(out.c_str(), kRate, nullptr, nullptr, nullptr);
    EXPECT_EQ(r.nStatus, kRecordDone);
    const std::vector<uint8_t> wav = ReadBytes(out);
    EXPECT_EQ(wav.size(), size_t(kWavHeaderBytes) + size_t(r.nDataBytes));
    // Two seconds of song and its tail, in whole blocks.
    EXPECT_GE(r.nDataBytes, int64_t{2} * kRate * 4);
    int32_t nPeak = 0;
    for (size_t i = kWavHeaderBytes; i + 1 < wav.size(); i += 2) {
      const int32_t n = int16_t(wav[i] | wav[i + 1] << 8);
      nPeak = std::max(nPeak, n < 0 ? -n : n);
    }
    return nPeak;
  }
  fs::path dir_;
};

TEST_F(SilentSoundSet, EveryMissingSampleIsReportedAndTheSongPlaysSilently) {
  WriteCfg("1: piano.epc, T1\n"
           "2: Tone_000\\049_Strings.pat, T49\n"
           "3: bass.fpv, T34 B1\n"
           "4: voice.wav, T53\n"
           "129: kick.epc, P36\n"
           "130: snare.pat, P38\n");
  std::string sReport;
  EXPECT_EQ(RecordPeak(&sReport), 0);
  for (const char *pszName :
       {"piano.epc", "Tone_000/049_Strings.pat", "bass.fpv", "voice.wav", "kick.epc", "snare.pat"})
    EXPECT_NE(sReport.find(std::string("VOKRA/") + pszName), std::string::npos)
        << pszName << " not reported in:\n"
        << sReport;
}

TEST_F(SilentSoundSet, OneSamplePresentMakesTheSameSongSound) {
  testsupport::EpcFields epc;
  std::vector<int16_t> square;
  for (int i = 0; i < 512; ++i)
    square.push_back(int16_t(i % 32 < 16 ? 12000 : -12000));
  epc.nEnd = 1022;
  epc.nLoopStart = 0;
  epc.bLoop = 1;
  epc.nAttackStep = 127;
  epc.nDecayLevel = 127;
  epc.nFloorLevel = 127;
  epc.nReleaseStep = 8;
  ASSERT_TRUE(testsupport::WriteFileBytes((dir_ / "PLUGIN" / "VOKRA" / "tone.epc").string(),
                                          testsupport::MakeEpc(epc, square)));
  // Instrument 1 is what every unassigned program and drum note plays.
  WriteCfg("1: tone.epc\n"
           "2: missing.pat, T49\n");
  std::string sReport;
  EXPECT_GT(RecordPeak(&sReport), 1000);
  EXPECT_NE(sReport.find("missing.pat"), std::string::npos) << sReport;
  EXPECT_EQ(sReport.find("tone.epc"), std::string::npos) << sReport;
}

} // namespace
