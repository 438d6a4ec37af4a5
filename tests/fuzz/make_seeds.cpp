// Writes the fuzz targets' seed corpora into a directory (one folder per
// target) from the test data: openmsx songs and freepats patches on this
// machine, and small files built with the project's writers. Run by test.sh
// and tools/fuzz-campaign; the seeds are not committed.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/registry_text.h"
#include "support/sample_writers.h"
#include "tools/smf/smf_writer.h"

namespace fs = std::filesystem;
using testsupport::Bytes;

namespace {

constexpr char kOpenMsxDir[] = "/usr/share/games/openttd/baseset/openmsx";
constexpr char kFreepatsDir[] = "/usr/share/midi/freepats";
constexpr uintmax_t kMaxSongBytes = 16 * 1024;  // small songs keep the walk short
constexpr uintmax_t kMaxPatchBytes = 12 * 1024; // small patches keep resampling short
constexpr size_t kMaxPatches = 12;

fs::path gOut;
int gnWritten = 0;

void Put(const char *pszTarget, const std::string &sName, const Bytes &bytes) {
  const fs::path dir = gOut / pszTarget;
  fs::create_directories(dir);
  if (testsupport::WriteFileBytes((dir / sName).string(), bytes))
    ++gnWritten;
}

void PutText(const char *pszTarget, const std::string &sName, const std::string &sText) {
  Put(pszTarget, sName, Bytes(sText.begin(), sText.end()));
}

// The smallest regular files under dir with the given extension, at most nMax
// of them, none larger than nMaxBytes.
std::vector<fs::path> SmallFiles(const char *pszDir, const char *pszExt, uintmax_t nMaxBytes,
                                 size_t nMax) {
  std::vector<std::pair<uintmax_t, fs::path>> found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(pszDir, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file() && it->path().extension() == pszExt && it->file_size() <= nMaxBytes)
      found.emplace_back(it->file_size(), it->path());
  }
  std::sort(found.begin(), found.end());
  std::vector<fs::path> out;
  for (size_t i = 0; i < found.size() && i < nMax; ++i)
    out.push_back(found[i].second);
  return out;
}

void CopyFiles(const char *pszTarget, const std::vector<fs::path> &files) {
  for (const fs::path &file : files) {
    Bytes bytes;
    if (testsupport::ReadFileBytes(file.string(), bytes))
      Put(pszTarget, file.filename().string(), bytes);
  }
}

void SongSeeds() {
  CopyFiles("smf", SmallFiles(kOpenMsxDir, ".mid", kMaxSongBytes, 64));

  // Format 1: conductor with tempo, time signature and text; a note track
  // with running status, controllers, bend, pressure and system exclusive.
  smfw::File song(1, 96);
  song.AddTrack()
      .TrackName(0, "conductor")
      .Tempo(0, 400000)
      .TimeSignature(0, 3, 2)
      .Text(96, "verse")
      .TimeSignature(192, 6, 3)
      .Tempo(0, 600000)
      .EndOfTrack(96);
  song.AddTrack(true)
      .TrackName(0, "piano")
      .ProgramChange(0, 0, 5)
      .ControlChange(0, 0, 10, 20)
      .ControlChange(0, 0, 91, 100)
      .ControlChange(0, 0, 93, 50)
      .SysEx(0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x10, 0x15, 0x01, 0x1A, 0xF7})
      .NoteOn(0, 0, 60, 100)
      .NoteOn(24, 0, 64, 90)
      .PitchBend(12, 0, 12000)
      .ChannelPressure(6, 0, 40)
      .PolyPressure(6, 0, 60, 30)
      .NoteOff(24, 0, 60)
      .NoteOn(0, 0, 64, 0)
      .NoteOn(0, 9, 36, 120)
      .NoteOff(48, 9, 36)
      .SysExPacket(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
      .EndOfTrack(0);
  const Bytes abSong = song.Build();
  Put("smf", "format1.mid", abSong);
  Put("smf", "format1.rmi", smfw::WrapRmi(abSong));

  smfw::File single(0, 480);
  single.AddTrack()
      .Tempo(0, 500000)
      .NoteOn(0, 3, 72, 127)
      .MetaText(0, 0x05, "la")
      .NoteOff(480, 3, 72)
      .EndOfTrack(0);
  Put("smf", "format0.mid", single.Build());

  // Damaged forms: no End of Track, a track that starts with data bytes,
  // more tracks declared than present.
  smfw::File broken(1, 120);
  broken.AddTrack().RawBytes({0x00, 0x40, 0x40, 0x90, 0x3C, 0x40}).NoteOn(10, 1, 62, 80);
  broken.AddTrack().NoteOn(0, 2, 50, 70).Raw(0, {0xFF, 0x51, 0x03, 0x00, 0x00, 0x00});
  broken.SetDeclaredTracks(5);
  Put("smf", "broken.mid", broken.Build());
}

void SoundSetSeeds() {
  PutText("cfg", "options.cfg",
          "# instruments\n"
          "1: piano.epc, A64 K0 T1 S65\n"
          "2: Tone_000\\002_Electric_Grand_Piano.pat, T3 B2\n"
          "3:strings.fpv,,t49 b0 s1\r\n"
          "129: drum.epc, P36 B1\n"
          "130: drum2.pat, p38 a80 k-12\n"
          "768: last.fpv, T128 B128 P127 S128\n"
          "4 : spaced.epc , A+10 K+2\n"
          "5: noopts.epc\n");
  std::string sLong = "6: ";
  sLong.append(300, 'x');
  sLong += ".pat, T7\n";
  PutText("cfg", "long_line.cfg", sLong);
  PutText("cfg", "ranges.cfg",
          "7: a.epc, T0 B129 P128 S0\n"
          "8: b.epc, T-1 P-1 K2147483647 A-2147483648\n"
          "0: zero.epc\n"
          "769: past.epc, T1\n"
          "9: c.epc, T\n");
}

void SampleSeeds() {
  std::vector<int16_t> ramp;
  for (int i = 0; i < 400; ++i)
    ramp.push_back(int16_t((i % 50) * 1200 - 30000));

  testsupport::EpcFields epc;
  epc.nEnd = 798;
  epc.nLoopStart = 200;
  epc.bLoop = 1;
  epc.nAttackStep = 20;
  epc.nDecayPeriod = 3;
  epc.nDecay2Period = 9;
  epc.nReleaseStep = 4;
  epc.nDecayLevel = 100;
  epc.nFloorLevel = 40;
  Put("epc", "loop.epc", testsupport::MakeEpc(epc, ramp));
  epc.bLoop = 0;
  epc.nTranspose = -12;
  epc.nStart = 100;
  Put("epc", "oneshot.epc", testsupport::MakeEpc(epc, ramp));
  epc.nLoopStart = 900; // loop points past the data
  epc.nEnd = 2000;
  epc.bLoop = 1;
  Put("epc", "wild_loop.epc", testsupport::MakeEpc(epc, ramp));

  Bytes abData16 = testsupport::Le16Bytes(ramp);
  testsupport::FpvFields fpv;
  fpv.nEnd = 399;
  fpv.nLoopStart = 100;
  fpv.nAttackRate = 60;
  fpv.nDecay1Rate = 20;
  fpv.nDecay1Depth = -20;
  fpv.nDecay2Rate = 10;
  fpv.nDecay2Depth = 30;
  fpv.nDecay3Rate = 5;
  fpv.nReleaseRate = 40;
  fpv.nPeakLevel = 200;
  fpv.nRateDivider = 2;
  Put("fpv", "loop16.fpv", testsupport::MakeFpv(fpv, abData16));
  fpv.b8Bit = true;
  Bytes abData8;
  for (int16_t n : ramp)
    abData8.push_back(uint8_t(n >> 8));
  Put("fpv", "loop8.fpv", testsupport::MakeFpv(fpv, abData8));
  fpv.nLoopStart = 395; // within 10 bytes of the end: no loop
  fpv.nEnd = 600;       // more than the file holds
  Put("fpv", "short8.fpv", testsupport::MakeFpv(fpv, abData8));

  CopyFiles("pat", SmallFiles(kFreepatsDir, ".pat", kMaxPatchBytes, kMaxPatches));
  std::vector<testsupport::PatWave> waves(3);
  for (size_t i = 0; i < waves.size(); ++i) {
    waves[i].data = abData16;
    waves[i].nMode = uint8_t(1 | (i == 1 ? 4 : 0));
    waves[i].nLoopStart = 200;
    waves[i].nLoopEnd = 600;
    waves[i].nSampleRate = uint16_t(22050 + i * 1000);
    waves[i].abRate[0] = 0x3F;
    waves[i].abRate[1] = 0x80;
    waves[i].abOffset[1] = 200;
  }
  Put("pat", "three_waves.pat", testsupport::MakePat(waves));
  waves.resize(1);
  waves[0].data = abData8;
  waves[0].nMode = 2 | 4; // 8-bit unsigned, looping
  waves[0].nLoopStart = 10;
  waves[0].nLoopEnd = 390;
  Put("pat", "one_wave8.pat", testsupport::MakePat(waves));
}

void RegistrySeeds() {
  RegTextFile file;
  file.aKeys.push_back({"HKEY_LOCAL_MACHINE\\Software\\Brenlow\\TORQA", {}});
  SetRegValue(file.aKeys.back(), "", kRegSz, {'P', 'o', 'w', 'e', 'r', 'e', 'd'});
  file.aKeys.push_back({"HKEY_LOCAL_MACHINE\\Software\\Brenlow\\TORQA\\Statics", {}});
  RegTextKey &statics = file.aKeys.back();
  SetRegValue(statics, "", kRegSz, {0x90, 0xc3, 0x93, 0x49, 0x95, 0xdb, 0x91, 0xb6});
  SetRegValue(statics, "nPCMRate", kRegDword, {0x22, 0x56, 0, 0});
  SetRegValue(statics, "DevMid", kRegBinary, {0, 0});
  SetRegValue(statics, "P0", kRegSz, {});
  SetRegValue(statics, "P1", kRegSz, {'/', 'o', 'p', 't', '/', 'u', '.', 's', 'o'});
  SetRegValue(statics, "odd", 7, Bytes(40, 0x5A));
  const std::string sText = FormatRegText(file);
  PutText("registry", "settings.reg", sText);

  PutText("registry", "regedit.reg",
          "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
          "; a comment\r\n"
          "[HKEY_LOCAL_MACHINE\\Software\\QUIRN-PLUGIN\\VOKRAUNIT\\Statics]\r\n"
          "\"nUseCh\"=dword:0000ffff\r\n"
          "\"CFG\"=\"VOKRA.cfg\"\r\n"
          "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\\\r\n"
          "  15,16,17\r\n"
          "\"Gone\"=-\r\n\r\n"
          "[-HKEY_LOCAL_MACHINE\\Software\\Old]\r\n");
  PutText("registry", "regedit4.reg",
          "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\A]\n@=\"quoted \\\"text\\\" and \\\\\"\n");
}

// Message streams for the unit's decoder: status bytes 0x80-0xEF start a
// channel message, 0xF0 a system exclusive with a length byte, 0x00-0x7F
// render (n + 1) x 8 samples, 0xFC-0xFF set a rate, others the interpolation.
void UnitMidiSeeds() {
  Put("unit_midi", "notes.bin",
      {0xC0, 0x00, 0x90, 60,   100, 0x91, 64, 90, 0xC2, 0x02, 0x92, 67,   80, 40, 0xB0, 1,
       127,  0xE1, 0x7F, 0x7F, 40,  0x80, 60, 0,  0x81, 64,   0,    0x82, 67, 0,  60});
  Put("unit_midi", "rpn_and_hold.bin",
      {0xB0, 101,  0,    0xB0, 100,  0,    0xB0, 6,    24,   0xB0, 101,  0,    0xB0, 100,
       1,    0xB0, 6,    127,  0xB0, 38,   127,  0xB0, 101,  0,    0xB0, 100,  2,    0xB0,
       6,    0,    0xB0, 64,   127,  0x90, 30,   127,  0xE0, 0,    0,    20,   0x80, 30,
       0,    10,   0xB0, 64,   0,    0xB0, 7,    0,    0xB0, 11,   127,  0xB0, 10,   0,
       0xD0, 127,  0xA0, 30,   99,   0xB0, 72,   127,  0xB0, 73,   0,    0xB0, 99,   1,
       0xB0, 98,   0x20, 0xB0, 6,    50,   0xB0, 121,  0,    0xB0, 120,  0,    0xB0, 123,
       0,    0xFD, 0xF9, 0x90, 127,  1,    100,  0xFC, 0x90, 0,    127,  100});
  Put("unit_midi", "rhythm_parts.bin",
      {0xF0, 10,  0x41, 0x10, 0x42, 0x12, 0x40, 0x12, 0x15, 0x01, 0x19, 0xF7, 0xC1, 1,    0x91,
       38,   120, 30,   0xF0, 8,    0x43, 0x10, 0x4C, 0x08, 0x03, 0x07, 0x01, 0xF7, 0x93, 38,
       100,  30,  0xF0, 7,    0x41, 0x10, 0x42, 0x12, 0x40, 0x10, 0x15, 0x99, 36,   100,  30});
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  gOut = argv[1];
  SongSeeds();
  SoundSetSeeds();
  SampleSeeds();
  RegistrySeeds();
  UnitMidiSeeds();
  std::printf("%d seed files written to %s\n", gnWritten, gOut.c_str());
  return gnWritten > 0 ? 0 : 1;
}
