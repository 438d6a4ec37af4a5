// Shared by the song tests and the benchmark: a PLUGIN directory holding the
// real sound unit and a small freepats sound set, and a run of the render
// loop started the way a recording starts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes dir/PLUGIN with a link to vokraunit.so and VOKRA/VOKRA.cfg mapping a
// few programs and drum notes to freepats patches (everything else falls to
// instrument 1, the piano). Returns the PLUGIN path ("" when freepats is missing).
std::string MakeVokraPlugin(const std::string &sDir, const std::string &sUnitPath);

// Binds the unit in pszPluginDir into slot 0 (the registry is kept in the
// build tree, never the user's). Returns 1 when the slot is bound.
int32_t BindVokraSlot(const std::string &sPluginDir);

// Loads the song bytes and starts a run at nRate as the recorder does.
int32_t StartSongRun(const std::vector<uint8_t> &abSong, int32_t nRate);

struct SongPcm {
  std::vector<int16_t> anFrames; // interleaved left, right
  int64_t nLastEventFrame = -1;  // frames rendered when no track was active any more
};

// Renders blocks of nRunBlockBytes with RenderRecordBlock until the end of song
// stops the run or nMaxFrames frames exist.
SongPcm RenderSongRun(int32_t nRunBlockBytes, int64_t nMaxFrames);

// Reads a whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string &sPath);
// Writes 16-bit stereo PCM as a 44-byte-header WAV file.
bool WriteWav(const std::string &sPath, const std::vector<int16_t> &anFrames, int32_t nRate);
