#include "song_run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/unit_interface.h"
#include "player/render/effects.h"
#include "player/render/render_loop.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kFreepats = "/usr/share/midi/freepats";

struct Patch {
  const char *pszLink; // name in VOKRA/
  const char *pszFile; // under the freepats directory
};

const Patch kPatches[] = {
    {"piano.pat", "Tone_000/000_Acoustic_Grand_Piano.pat"},
    {"nylon.pat", "Tone_000/024_Nylon_Guitar.pat"},
    {"bass.pat", "Tone_000/032_Acoustic_Bass.pat"},
    {"strings.pat", "Tone_000/048_String_Ensemble_1_Marcato.pat"},
    {"kick.pat", "Drum_000/036_Kick_2.pat"},
    {"snare.pat", "Drum_000/038_Snare_1.pat"},
    {"hihat.pat", "Drum_000/042_Hi-Hat_Closed.pat"},
};

// Instrument N, sample file, options: program N - 1 unless a P option makes
// it a drum note.
const char kCfg[] = "# Test sound set: a few freepats patches\n"
                    "1: piano.pat\n"
                    "25: nylon.pat\n"
                    "33: bass.pat\n"
                    "49: strings.pat, A72\n"
                    "129: kick.pat, P36\n"
                    "130: snare.pat, P38\n"
                    "131: hihat.pat, P42\n";

} // namespace

std::string MakeVokraPlugin(const std::string &sDir, const std::string &sUnitPath) {
  if (!fs::exists(fs::path(kFreepats) / kPatches[0].pszFile)) {
    return "";
  }
  const fs::path plugin = fs::path(sDir) / "PLUGIN";
  fs::remove_all(plugin);
  fs::create_directories(plugin / "VOKRA");
  fs::create_symlink(sUnitPath, plugin / "vokraunit.so");
  for (const Patch &p : kPatches) {
    fs::create_symlink(fs::path(kFreepats) / p.pszFile, plugin / "VOKRA" / p.pszLink);
  }
  std::ofstream(plugin / "VOKRA" / "VOKRA.cfg") << kCfg;
  return plugin.string();
}

int32_t BindVokraSlot(const std::string &sPluginDir) {
  UnbindAllUnits();
  SetPluginDirectory(sPluginDir.c_str());
  std::snprintf(aUnitSlots[0].szPath, sizeof aUnitSlots[0].szPath, "%s/vokraunit.so",
                sPluginDir.c_str());
  BindUnit(0);
  return aUnitSlots[0].hModule != nullptr;
}

int32_t StartSongRun(const std::vector<uint8_t> &abSong, int32_t nRate) {
  UnlockSong();
  if (!LoadSmfBytes(abSong.data(), static_cast<int32_t>(abSong.size()))) {
    return 0;
  }
  LockSong();
  AllocReverbLine();
  AllocChorusLine();
  if (!AllocOutRing()) {
    return 0;
  }
  nPCMRate = nRate;
  ResetRenderStats();
  for (UnitSlot &s : aUnitSlots) {
    if (s.hModule) {
      s.pfnSetRate(nRate);
    }
  }
  ResetEffects();
  ResetSequencer();
  SendResetSequence();
  std::memset(anChannelAcc, 0, sizeof anChannelAcc);
  PrepareSong();
  SetTempoBpm(nTempoBpm);
  nBeatsPerMeasure = 4;
  nBeatUnit = 4;
  nTicksPerBeat = nDivision;
  nTailBlocks = 16;
  bPlaying = 1;
  nTickStep = 256;
  nLpfL = nLpfR = 0;
  return 1;
}

SongPcm RenderSongRun(int32_t nRunBlockBytes, int64_t nMaxFrames) {
  SongPcm pcm;
  int64_t nFrames = 0;
  while (bPlaying && nFrames < nMaxFrames) {
    RenderRecordBlock(nRunBlockBytes);
    const uint8_t *p = apOutBuf[0];
    for (int32_t i = 0; i < nRunBlockBytes / 2; ++i) {
      pcm.anFrames.push_back(static_cast<int16_t>(p[2 * i] | p[2 * i + 1] << 8));
    }
    nFrames += nRunBlockBytes / 4;
    if (pcm.nLastEventFrame < 0) {
      int32_t nActive = 0;
      for (int32_t t = 0; t < nTracks && t < kMaxTracks; ++t) {
        nActive += abTrackActive[t] != 0;
      }
      if (nActive == 0) {
        pcm.nLastEventFrame = nFrames;
      }
    }
  }
  for (UnitSlot &s : aUnitSlots) {
    if (s.hModule) {
      s.pfnFreeLockCFG();
    }
  }
  return pcm;
}

std::vector<uint8_t> ReadFileBytes(const std::string &sPath) {
  std::ifstream in(sPath, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool WriteWav(const std::string &sPath, const std::vector<int16_t> &anFrames, int32_t nRate) {
  const uint32_t nData = static_cast<uint32_t>(anFrames.size() * 2);
  std::vector<uint8_t> h;
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      h.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
  };
  auto put16 = [&](uint32_t v) {
    h.push_back(static_cast<uint8_t>(v));
    h.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto tag = [&](const char *psz) { h.insert(h.end(), psz, psz + 4); };
  tag("RIFF");
  put32(nData + 36);
  tag("WAVE");
  tag("fmt ");
  put32(16);
  put16(1);
  put16(2);
  put32(static_cast<uint32_t>(nRate));
  put32(static_cast<uint32_t>(nRate) * 4);
  put16(4);
  put16(16);
  tag("data");
  put32(nData);
  std::ofstream out(sPath, std::ios::binary);
  out.write(reinterpret_cast<const char *>(h.data()), static_cast<std::streamsize>(h.size()));
  for (int16_t v : anFrames) {
    const uint16_t u = static_cast<uint16_t>(v);
    const char b[2] = {static_cast<char>(u & 0xff), static_cast<char>(u >> 8)};
    out.write(b, 2);
  }
  return static_cast<bool>(out);
}
