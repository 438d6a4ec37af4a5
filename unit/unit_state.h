// Unit-wide values shared by the entry points, the voice engine and the
// sound-set loader. One instance per process.
#pragma once

#include <cstdint>

#include "common/unit_interface.h"

namespace vokra {

constexpr int32_t kCfgNameBytes = 260;        // szCfgName, NUL included
constexpr int32_t kUnitDirBytes = kPathBytes; // szUnitDir, NUL included

extern int32_t nRate;                 // output sample rate in Hz; SetRate (InitUNIT: 44100)
extern int32_t nFinalGain;            // 0..127, gain of every voice in Make; settings (127)
extern int32_t bOverSample;           // 0/1, interpolate voices started from now on; settings (0)
extern int32_t nLfoPhase;             // 0..511, vibrato phase of all voices; Make (0)
extern int32_t nLfoCount;             // output samples left until nLfoPhase steps; Make (0)
extern int32_t nVoiceTop;             // one past the highest active voice; voice engine (0)
extern char szUnitDir[kUnitDirBytes]; // directory given to InitUNIT, ends in "/" (empty)
extern int32_t bUnitDirTooLong;       // 0/1, InitUNIT's directory did not fit: no set loads (0)
extern void *hwndHost;                // host window from InitUNIT, owns the loading list (null)
extern char szCfgName[kCfgNameBytes]; // sound-set file name in VOKRA/; settings ("VOKRA.cfg")

} // namespace vokra
