// Songs for the terminal commands: each file is read once (a FIFO or a
// process substitution cannot be read twice) and loaded from the bytes, and
// its length is computed from the tempo map rather than walked tick by tick.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The largest song the loader's reader takes: it grows its buffer by doubling
// up to 1 GiB.
constexpr int64_t kMaxSongFileBytes = int64_t{1} << 30;

// Reads a whole song file. On failure returns false and says why in *psWhy
// ("is a directory", "too large: ...", the system's reason).
bool ReadSongFile(const std::string &sPath, std::vector<uint8_t> *paBytes, std::string *psWhy);

// Loads bytes into the song image; on failure prints why, naming sPath, to
// stderr and returns false.
bool LoadSongBytes(const std::string &sPath, const std::vector<uint8_t> &aBytes);

// The length in samples of the prepared song at the present nPCMRate and
// nTickStep, exactly as WalkToSongEnd(nLimit) counts it and leaving the same
// sequencer state when the song ends within nLimit: runs of ticks that serve
// no event are counted in closed form. Every event is still dispatched (the
// sequencer observer hears them all), so bind no unit first.
int64_t SongLengthSamples(int64_t nLimit);
