// midicsv (the Debian package) as a reader of MIDI files nobody here wrote:
// its records, one per event, as text fields.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

using MidiCsvRecord = std::vector<std::string>;

// One record: fields split at commas, spaces around them dropped, quoted
// strings unescaped ("" is a quote, \\ a backslash, \ooo an octal byte).
MidiCsvRecord SplitMidiCsvRecord(const std::string &sLine);

// The midicsv program on PATH, or "" when it is not installed.
std::string FindMidiCsv();

// midicsv's records for a song; false when it cannot be run or fails.
bool MidiCsvRecords(const std::string &sSong, std::vector<MidiCsvRecord> &aRecords,
                    const std::string &sMidiCsv = "midicsv");

} // namespace testsupport
