// Reads TiMidity-style sound-set configurations (dir, bank, drumset, source
// and patch lines) and writes the unit's own .cfg form, filling every General
// MIDI program and drum note the set lacks from its nearest relative.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct SoundSetPatch {
  int32_t bDrum;     // 1: drumset section (rhythm), 0: bank section (melodic)
  int32_t nBank;     // bank or drum kit number 0..127
  int32_t nKey;      // program 0..127, or drum note 0..127
  std::string sName; // sample file name relative to the sound-set directory
  int32_t nGain;     // option A, 64 = the sample as recorded
  int32_t nPan;      // option S 1..128, 0 = not given
  int32_t nKeyShift; // option K, semitones (drums: the note the sample sounds at, minus 60)
  // amp= as written, -1 when the line gives none
  int32_t nAmpPercent = -1;
};

class TimidityReader {
public:
  // Sample files are reachable from the sound-set directory only through links
  // placed there: sName = link name + "/" + path below the linked directory.
  void AddLink(const std::string &sLinkName, const std::string &sTarget);
  // Reads a configuration file and the files it sources. Returns 1 when the
  // file itself could be read.
  int32_t ReadFile(const std::string &sPath);
  // The file a sample name stands for (the link replaced by its target).
  std::string ResolveName(const std::string &sName) const;
  // Parses configuration text; sWhere names it in warnings, sBaseDir resolves
  // relative `source` names.
  void ParseText(std::string_view sText, const std::string &sWhere, const std::string &sBaseDir);

  std::vector<SoundSetPatch> aPatches; // one per (section, key); a later line replaces an earlier
  std::vector<std::string> aWarnings;  // what could not be expressed, "file:line: reason"

private:
  void ParsePatchLine(const std::vector<std::string> &aWords, const std::string &sWhere);
  std::string FindSample(const std::string &sFile) const;
  std::string LinkedName(const std::string &sFile) const;

  std::vector<std::pair<std::string, std::string>> aLinks_; // link name, canonical target
  std::vector<std::string> aDirs_;                          // search directories, latest first
  int32_t bDrum_ = 0;
  int32_t nBank_ = 0;
  int32_t nDepth_ = 0; // nesting of `source`
};

// Pitch of a GUS patch's middle waveform (the one the unit plays) as a MIDI
// note number with fraction; -1 when the bytes are not a readable patch.
double PatchRootNote(const uint8_t *pData, size_t nSize);
// Scale factor of that waveform (1024: the pitch follows the key, 0: every
// key plays the recorded pitch); -1 when the bytes are not a readable patch.
int32_t PatchScaleFactor(const uint8_t *pData, size_t nSize);

// Writes the unit's .cfg text for aPatches. Every program 0..127 and every
// drum note 35..81 reaches an instrument: gaps in bank 0 take the nearest
// program of the same family of eight, gaps in drum kit 0 the nearest drum
// note. One line per fill goes to *pFilled. Returns 0 (and no text) when bank 0
// or kit 0 holds nothing to fill from.
int32_t WriteVokraCfg(const std::vector<SoundSetPatch> &aPatches, const std::string &sSource,
                      std::string *pText, std::vector<std::string> *pFilled);
