// Track names in MIDI files are raw bytes, usually Shift-JIS (code page 932)
// in Japanese songs. The track information dialog and `torqa-cli info` show
// them the same way, through this one conversion.
#pragma once

#include <string>

// 1 when s is well-formed UTF-8 (no overlong two-byte forms, no cut sequence).
bool IsValidUtf8(const std::string &s);
// The name as UTF-8 text: kept when it already is UTF-8, else converted from
// CP932; control bytes, and bytes that neither reading explains, become "\xNN".
std::string TrackNameToUtf8(const std::string &sRaw);
