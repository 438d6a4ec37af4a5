#include "tools/soundset/timidity_cfg.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tools/soundset/gm_names.h"

namespace fs = std::filesystem;

constexpr int32_t kMaxSourceDepth = 50; // `source` nesting before we assume a loop
constexpr int32_t kUnitGain = 64;       // option A that plays a sample as recorded
constexpr int32_t kMaxGain = 512;       // larger gains only overflow the unit's mixer
constexpr int32_t kFirstInstrument = 2; // a map entry naming instrument 1 reads as empty
constexpr int32_t kMaxInstrument = 768; // instrument numbers the unit accepts
constexpr int32_t kMaxNameLength = 200; // keeps every line well inside the unit's 259 characters
constexpr size_t kPatchHeaderBytes = 239;
constexpr size_t kWaveHeaderBytes = 96;

static std::vector<std::string> SplitWords(std::string_view sLine) {
  std::vector<std::string> aWords;
  size_t i = 0;
  while (i < sLine.size()) {
    while (i < sLine.size() && (sLine[i] == ' ' || sLine[i] == '\t'))
      ++i;
    if (i >= sLine.size() || sLine[i] == '#')
      break;
    size_t j = i;
    while (j < sLine.size() && sLine[j] != ' ' && sLine[j] != '\t')
      ++j;
    aWords.emplace_back(sLine.substr(i, j - i));
    i = j;
  }
  return aWords;
}

// Whole decimal number in 0..nMax (optionally signed); false otherwise.
static bool ParseNumber(const std::string &s, int32_t nMin, int32_t nMax, int32_t *pValue) {
  if (s.empty() || s.size() > 6)
    return false;
  char *pEnd = nullptr;
  long n = std::strtol(s.c_str(), &pEnd, 10);
  if (*pEnd != 0 || n < nMin || n > nMax)
    return false;
  *pValue = static_cast<int32_t>(n);
  return true;
}

void TimidityReader::AddLink(const std::string &sLinkName, const std::string &sTarget) {
  std::error_code ec;
  fs::path target = fs::weakly_canonical(sTarget, ec);
  aLinks_.emplace_back(sLinkName, ec ? sTarget : target.string());
}

int32_t TimidityReader::ReadFile(const std::string &sPath) {
  std::ifstream in(sPath, std::ios::binary);
  if (!in) {
    aWarnings.push_back(sPath + ": cannot be read");
    return 0;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  fs::path base = fs::path(sPath).parent_path();
  ParseText(buffer.str(), sPath, base.empty() ? "." : base.string());
  return 1;
}

void TimidityReader::ParseText(std::string_view sText, const std::string &sWhere,
                               const std::string &sBaseDir) {
  int32_t nLine = 0;
  size_t nPos = 0;
  while (nPos <= sText.size()) {
    size_t nEnd = sText.find_first_of("\r\n", nPos);
    if (nEnd == std::string_view::npos)
      nEnd = sText.size();
    std::string_view sLine = sText.substr(nPos, nEnd - nPos);
    if (nEnd < sText.size() && sText[nEnd] == '\r' && nEnd + 1 < sText.size() &&
        sText[nEnd + 1] == '\n')
      ++nEnd;
    nPos = nEnd + 1;
    ++nLine;
    std::vector<std::string> aWords = SplitWords(sLine);
    if (aWords.empty())
      continue;
    std::string sAt = sWhere + ":" + std::to_string(nLine);
    const std::string &sCmd = aWords[0];
    if (sCmd == "dir" && aWords.size() >= 2) {
      fs::path dir(aWords[1]);
      if (dir.is_relative())
        dir = fs::path(sBaseDir) / dir;
      aDirs_.insert(aDirs_.begin(), dir.string());
    } else if (sCmd == "source" && aWords.size() >= 2) {
      if (nDepth_ >= kMaxSourceDepth) {
        aWarnings.push_back(sAt + ": sources nest too deeply, skipped");
        continue;
      }
      fs::path file(aWords[1]);
      if (file.is_relative()) {
        fs::path found = fs::path(sBaseDir) / file;
        for (const std::string &dir : aDirs_)
          if (fs::exists(fs::path(dir) / file)) {
            found = fs::path(dir) / file;
            break;
          }
        file = found;
      }
      ++nDepth_;
      int32_t bSaveDrum = bDrum_, nSaveBank = nBank_;
      if (!ReadFile(file.string()))
        aWarnings.back() = sAt + ": source " + file.string() + " cannot be read";
      bDrum_ = bSaveDrum;
      nBank_ = nSaveBank;
      --nDepth_;
    } else if ((sCmd == "bank" || sCmd == "drumset") && aWords.size() >= 2) {
      int32_t n = 0;
      bDrum_ = sCmd == "drumset";
      if (ParseNumber(aWords[1], 0, 127, &n)) {
        nBank_ = n;
      } else {
        nBank_ = -1;
        aWarnings.push_back(sAt + ": " + sCmd + " " + aWords[1] +
                            " is outside 0..127, its patches are skipped");
      }
    } else if (sCmd[0] >= '0' && sCmd[0] <= '9') {
      if (nBank_ >= 0)
        ParsePatchLine(aWords, sAt);
    } else {
      aWarnings.push_back(sAt + ": \"" + sCmd + "\" is not supported, line skipped");
    }
  }
}

std::string TimidityReader::FindSample(const std::string &sFile) const {
  std::vector<fs::path> aTry;
  fs::path file(sFile);
  if (file.is_absolute()) {
    aTry.push_back(file);
  } else {
    for (const std::string &dir : aDirs_)
      aTry.push_back(fs::path(dir) / file);
  }
  for (const fs::path &p : aTry) {
    for (const char *pszExt : {"", ".pat"}) {
      fs::path candidate = p.string() + pszExt;
      std::error_code ec;
      if (fs::is_regular_file(candidate, ec))
        return fs::canonical(candidate, ec).string();
    }
  }
  return "";
}

std::string TimidityReader::LinkedName(const std::string &sFile) const {
  for (const auto &[sName, sTarget] : aLinks_) {
    if (sFile.size() > sTarget.size() && sFile.compare(0, sTarget.size(), sTarget) == 0 &&
        sFile[sTarget.size()] == '/')
      return sName + sFile.substr(sTarget.size());
  }
  return "";
}

// The unit's file name ends at a blank or a comma and takes only plain ASCII.
static bool NameFitsCfg(const std::string &sName) {
  if (sName.empty() || sName.size() > kMaxNameLength)
    return false;
  for (unsigned char c : sName)
    if (c <= 0x20 || c >= 0x80 || c == ',')
      return false;
  return true;
}

static bool HasPatExtension(const std::string &sName) {
  if (sName.size() < 4)
    return false;
  std::string ext = sName.substr(sName.size() - 4);
  for (char &c : ext)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".pat";
}

void TimidityReader::ParsePatchLine(const std::vector<std::string> &aWords,
                                    const std::string &sWhere) {
  int32_t nKey = 0;
  if (!ParseNumber(aWords[0], 0, 127, &nKey)) {
    aWarnings.push_back(sWhere + ": number " + aWords[0] + " is outside 0..127, line skipped");
    return;
  }
  if (aWords.size() < 2) {
    aWarnings.push_back(sWhere + ": no file name, line skipped");
    return;
  }
  if (bDrum_ && nKey == 0) {
    aWarnings.push_back(sWhere + ": drum note 0 cannot be expressed, line skipped");
    return;
  }
  std::string sFile = FindSample(aWords[1]);
  if (sFile.empty()) {
    aWarnings.push_back(sWhere + ": " + aWords[1] + " not found, line skipped");
    return;
  }
  if (!HasPatExtension(sFile)) {
    aWarnings.push_back(sWhere + ": " + sFile + " is not a .pat patch, line skipped");
    return;
  }
  SoundSetPatch patch{bDrum_, nBank_, nKey, LinkedName(sFile), kUnitGain, 0, 0};
  int32_t nPitchNote = -1; // note=: the one pitch a drum sounds at
  if (patch.sName.empty()) {
    aWarnings.push_back(sWhere + ": " + sFile +
                        " lies outside the linked directories, line skipped");
    return;
  }
  if (!NameFitsCfg(patch.sName)) {
    aWarnings.push_back(sWhere + ": " + patch.sName +
                        " contains blanks, commas or non-ASCII bytes or is too long, line skipped");
    return;
  }
  for (size_t i = 2; i < aWords.size(); ++i) {
    const std::string &sOpt = aWords[i];
    size_t nEq = sOpt.find('=');
    std::string sName = sOpt.substr(0, nEq);
    std::string sValue = nEq == std::string::npos ? "" : sOpt.substr(nEq + 1);
    int32_t n = 0;
    if (sName == "amp" && ParseNumber(sValue, 0, 100000, &n)) {
      int32_t nGain = (n * kUnitGain + 50) / 100;
      if (nGain > kMaxGain) {
        aWarnings.push_back(sWhere + ": amp=" + sValue + " limited to " +
                            std::to_string(kMaxGain * 100 / kUnitGain));
        nGain = kMaxGain;
      }
      patch.nGain = nGain;
      patch.nAmpPercent = n;
    } else if (sName == "pan") {
      // Pan -100 (left) .. 100 (right) becomes the unit's 1..128.
      int32_t nPan = 0;
      if (sValue == "center")
        nPan = 0;
      else if (sValue == "left")
        nPan = -100;
      else if (sValue == "right")
        nPan = 100;
      else if (!ParseNumber(sValue, -100, 100, &nPan)) {
        aWarnings.push_back(sWhere + ": pan=" + sValue + " not understood, ignored");
        continue;
      }
      patch.nPan = 1 + ((nPan + 100) * 127 + 100) / 200;
    } else if (sName == "note" && ParseNumber(sValue, 0, 127, &n)) {
      if (!bDrum_) {
        aWarnings.push_back(sWhere + ": note=" + sValue +
                            " (one pitch for every key) cannot be expressed, ignored");
        continue;
      }
      nPitchNote = n;
    } else {
      aWarnings.push_back(sWhere + ": option " + sOpt + " cannot be expressed, ignored");
    }
  }
  if (bDrum_ && nPitchNote < 0) {
    // A rhythm voice plays the sample's root (held at middle C) at note 60 +
    // K: a drum sounds at its key's pitch, one whose patch has scale factor
    // 0 at its recorded pitch.
    nPitchNote = nKey;
    std::ifstream in(sFile, std::ios::binary);
    std::vector<uint8_t> aHead(1 << 20);
    in.read(reinterpret_cast<char *>(aHead.data()), static_cast<std::streamsize>(aHead.size()));
    size_t nRead = static_cast<size_t>(in.gcount());
    if (PatchScaleFactor(aHead.data(), nRead) == 0)
      nPitchNote = static_cast<int32_t>(std::lround(PatchRootNote(aHead.data(), nRead)));
  }
  if (bDrum_)
    patch.nKeyShift = nPitchNote - 60;
  for (SoundSetPatch &old : aPatches) {
    if (old.bDrum == patch.bDrum && old.nBank == patch.nBank && old.nKey == patch.nKey) {
      old = patch;
      return;
    }
  }
  aPatches.push_back(patch);
}

static uint32_t ReadLe32(const uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

double PatchRootNote(const uint8_t *pData, size_t nSize) {
  if (nSize < kPatchHeaderBytes + kWaveHeaderBytes)
    return -1;
  int32_t nWaves = pData[85];
  size_t nOffset = kPatchHeaderBytes;
  for (int32_t w = 0; w < nWaves / 2; ++w) {
    if (nOffset + kWaveHeaderBytes > nSize)
      return -1;
    nOffset += kWaveHeaderBytes + ReadLe32(pData + nOffset + 8);
  }
  if (nOffset + kWaveHeaderBytes > nSize)
    return -1;
  double dRootHz = ReadLe32(pData + nOffset + 30) * 0.001;
  if (dRootHz <= 0)
    return -1;
  return 69.0 + 12.0 * std::log2(dRootHz / 440.0);
}

int32_t PatchScaleFactor(const uint8_t *pData, size_t nSize) {
  if (PatchRootNote(pData, nSize) < 0)
    return -1;
  size_t nOffset = kPatchHeaderBytes;
  for (int32_t w = 0; w < pData[85] / 2; ++w)
    nOffset += kWaveHeaderBytes + ReadLe32(pData + nOffset + 8);
  return pData[nOffset + 58] | (pData[nOffset + 59] << 8);
}

std::string TimidityReader::ResolveName(const std::string &sName) const {
  for (const auto &[sLink, sTarget] : aLinks_)
    if (sName.size() > sLink.size() && sName.compare(0, sLink.size(), sLink) == 0 &&
        sName[sLink.size()] == '/')
      return sTarget + sName.substr(sLink.size());
  return "";
}

namespace {
struct CfgWriter {
  std::map<std::string, int32_t> mInstruments; // sample + options -> instrument number
  int32_t nNext = kFirstInstrument;
  std::string sText;

  // Instrument number for a sample with its options; 0 when the set is full.
  int32_t Instrument(const SoundSetPatch &p) {
    std::string sKey = p.sName + "|" + std::to_string(p.nGain) + "|" + std::to_string(p.nPan) +
                       "|" + std::to_string(p.nKeyShift);
    auto it = mInstruments.find(sKey);
    if (it != mInstruments.end())
      return it->second;
    if (nNext > kMaxInstrument)
      return 0;
    mInstruments[sKey] = nNext;
    return nNext++;
  }

  // One configuration line mapping patch p's sample to (drum, bank, key).
  void Line(const SoundSetPatch &p, int32_t bDrum, int32_t nBank, int32_t nKey) {
    int32_t n = Instrument(p);
    if (n == 0)
      return;
    char szOptions[96];
    int32_t nLen = bDrum ? std::snprintf(szOptions, sizeof szOptions, "P%d", nKey)
                         : std::snprintf(szOptions, sizeof szOptions, "T%d", nKey + 1);
    if (nBank > 0)
      nLen += std::snprintf(szOptions + nLen, sizeof szOptions - nLen, " B%d", nBank + 1);
    if (p.nGain != kUnitGain)
      nLen += std::snprintf(szOptions + nLen, sizeof szOptions - nLen, " A%d", p.nGain);
    if (p.nPan != 0)
      nLen += std::snprintf(szOptions + nLen, sizeof szOptions - nLen, " S%d", p.nPan);
    if (p.nKeyShift != 0)
      std::snprintf(szOptions + nLen, sizeof szOptions - nLen, " K%d", p.nKeyShift);
    sText += std::to_string(n) + ": " + p.sName + ", " + szOptions + "\n";
  }
};
} // namespace

// Key in aHave nearest to nWant within [nLo, nHi], the lower on a tie; -1 if none.
static int32_t Nearest(const std::vector<const SoundSetPatch *> &aHave, int32_t nWant, int32_t nLo,
                       int32_t nHi) {
  for (int32_t d = 1; d <= nHi - nLo; ++d) {
    if (nWant - d >= nLo && aHave[nWant - d])
      return nWant - d;
    if (nWant + d <= nHi && aHave[nWant + d])
      return nWant + d;
  }
  return -1;
}

int32_t WriteVokraCfg(const std::vector<SoundSetPatch> &aPatches, const std::string &sSource,
                      std::string *pText, std::vector<std::string> *pFilled) {
  std::vector<const SoundSetPatch *> aProgram(128, nullptr), aDrum(128, nullptr);
  int32_t nPrograms = 0, nDrums = 0;
  for (const SoundSetPatch &p : aPatches) {
    if (p.nBank != 0)
      continue;
    if (p.bDrum) {
      aDrum[p.nKey] = &p;
      ++nDrums;
    } else {
      aProgram[p.nKey] = &p;
      ++nPrograms;
    }
  }
  if (nPrograms == 0 || nDrums == 0)
    return 0;

  CfgWriter w;
  w.sText = "# Sound set for vokraunit, written by torqa-mkcfg from " + sSource +
            ".\n"
            "# Lines: instrument: sample, T program | P drum note, B bank or kit, A gain (64 =\n"
            "# as recorded), S pan, K key shift. Bank 0 and kit 0 fill every bank and kit.\n"
            "\n# Melodic instruments, bank 0\n";
  char szLine[256];
  for (int32_t nProg = 0; nProg < 128; ++nProg) {
    if (aProgram[nProg]) {
      std::snprintf(szLine, sizeof szLine, "# %d %s\n", nProg, GmProgramName(nProg));
      w.sText += szLine;
      w.Line(*aProgram[nProg], 0, 0, nProg);
      continue;
    }
    int32_t nFamily = nProg / kGmFamilySize * kGmFamilySize;
    int32_t nFrom = Nearest(aProgram, nProg, nFamily, nFamily + kGmFamilySize - 1);
    if (nFrom < 0)
      nFrom = Nearest(aProgram, nProg, 0, 127);
    std::snprintf(szLine, sizeof szLine, "program %d (%s) filled with program %d (%s)", nProg,
                  GmProgramName(nProg), nFrom, GmProgramName(nFrom));
    pFilled->push_back(szLine);
    w.sText += std::string("# ") + szLine + "\n";
    w.Line(*aProgram[nFrom], 0, 0, nProg);
  }
  w.sText += "\n# Rhythm instruments, kit 0\n";
  for (int32_t nNote = 1; nNote < 128; ++nNote) {
    if (aDrum[nNote]) {
      std::snprintf(szLine, sizeof szLine, "# note %d%s%s\n", nNote, *GmDrumName(nNote) ? " " : "",
                    GmDrumName(nNote));
      w.sText += szLine;
      w.Line(*aDrum[nNote], 1, 0, nNote);
      continue;
    }
    if (nNote < kGmFirstDrum || nNote > kGmLastDrum)
      continue;
    int32_t nFrom = Nearest(aDrum, nNote, 1, 127);
    std::snprintf(szLine, sizeof szLine, "drum note %d (%s) filled with note %d (%s)", nNote,
                  GmDrumName(nNote), nFrom, GmDrumName(nFrom));
    pFilled->push_back(szLine);
    w.sText += std::string("# ") + szLine + "\n";
    w.Line(*aDrum[nFrom], 1, 0, nNote);
  }
  bool bOther = false;
  for (const SoundSetPatch &p : aPatches) {
    if (p.nBank == 0)
      continue;
    if (!bOther)
      w.sText += "\n# Other banks and kits\n";
    bOther = true;
    w.Line(p, p.bDrum, p.nBank, p.nKey);
  }
  if (w.nNext > kMaxInstrument + 1)
    pFilled->push_back("more than " + std::to_string(kMaxInstrument - kFirstInstrument + 1) +
                       " samples: the rest were left out");
  *pText = std::move(w.sText);
  return 1;
}
