// torqa-mkcfg: turns a TiMidity-style configuration into a vokraunit .cfg.
//
//   torqa-mkcfg [-q] [-o OUT.cfg] [--link NAME=DIR]... [--samples NAME=DIR] INPUT.cfg
//   torqa-mkcfg [-q] -o OUT.cfg [--samples NAME=DIR] --sf2 FONT.sf2
//
// With --sf2 the set comes from a SoundFont: every General MIDI program and
// drum note is converted into an EPC file in DIR (default: OUT's name with
// "-epc" beside OUT.cfg).
// With --samples every patch is converted into an EPC file in DIR (which the
// sound-set directory reaches as NAME) and the .cfg names those files.
// Sample files must lie below a DIR that the sound-set directory reaches
// through a link called NAME. Whatever the .cfg cannot express is skipped with
// a warning on stderr; every filled program and drum note is named there too
// (with -q only counted).
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/soundset/patch_convert.h"
#include "tools/soundset/sf2_convert.h"
#include "tools/soundset/sf2_reader.h"
#include "tools/soundset/timidity_cfg.h"

static int Usage() {
  std::fprintf(stderr, "usage: torqa-mkcfg [-q] [-o OUT.cfg] [--link NAME=DIR]... "
                       "[--samples NAME=DIR] INPUT.cfg\n"
                       "       torqa-mkcfg [-q] -o OUT.cfg [--samples NAME=DIR] --sf2 FONT.sf2\n");
  return 2;
}

static int WriteOutput(const std::string &sOutput, const std::string &sText) {
  if (!ReplaceFile(sOutput, sText.data(), sText.size())) {
    std::fprintf(stderr, "torqa-mkcfg: cannot write %s: %s\n", sOutput.c_str(),
                 std::strerror(errno));
    return 1;
  }
  return 0;
}

static int FromSoundFont(const std::string &sSf2, const std::string &sOutput, std::string sName,
                         std::string sDir, bool bQuiet) {
  if (sDir.empty()) {
    std::filesystem::path out(sOutput);
    sName = out.stem().string() + "-epc";
    sDir = (out.parent_path() / sName).string();
  }
  Sf2File sf2;
  std::string sError;
  if (!sf2.ReadFile(sSf2, &sError)) {
    std::fprintf(stderr, "torqa-mkcfg: %s\n", sError.c_str());
    return 1;
  }
  std::vector<SoundSetPatch> aPatches;
  std::vector<std::string> aWarnings;
  int32_t nDone = ConvertSoundFont(sf2, sName, sDir, &aPatches, &aWarnings);
  for (const std::string &s : aWarnings)
    std::fprintf(stderr, "torqa-mkcfg: %s\n", s.c_str());
  std::string sText;
  std::vector<std::string> aFilled;
  if (!WriteVokraCfg(aPatches, std::filesystem::path(sSf2).filename().string(), &sText, &aFilled)) {
    std::fprintf(stderr, "torqa-mkcfg: %s: no program or drum could be converted\n", sSf2.c_str());
    return 1;
  }
  for (const std::string &s : aFilled)
    std::fprintf(stderr, "torqa-mkcfg: %s\n", s.c_str());
  if (!bQuiet) {
    uintmax_t nBytes = 0;
    for (const SoundSetPatch &p : aPatches) {
      std::error_code ec;
      uintmax_t n = std::filesystem::file_size(
          std::filesystem::path(sDir) / std::filesystem::path(p.sName).filename(), ec);
      nBytes += ec ? 0 : n;
    }
    std::fprintf(stderr, "torqa-mkcfg: %d samples converted into %s (%.1f MB)\n", nDone,
                 sDir.c_str(), nBytes / 1048576.0);
  }
  return WriteOutput(sOutput, sText);
}

int main(int argc, char **argv) {
  TimidityReader reader;
  std::string sInput, sOutput, sSamplesName, sSamplesDir, sSf2;
  bool bQuiet = false;
  for (int i = 1; i < argc; ++i) {
    std::string sArg = argv[i];
    if (sArg == "-q") {
      bQuiet = true;
    } else if (sArg == "-o" && i + 1 < argc) {
      sOutput = argv[++i];
    } else if (sArg == "--link" && i + 1 < argc) {
      std::string sLink = argv[++i];
      size_t nEq = sLink.find('=');
      if (nEq == std::string::npos || nEq == 0)
        return Usage();
      reader.AddLink(sLink.substr(0, nEq), sLink.substr(nEq + 1));
    } else if (sArg == "--samples" && i + 1 < argc) {
      std::string sLink = argv[++i];
      size_t nEq = sLink.find('=');
      if (nEq == std::string::npos || nEq == 0)
        return Usage();
      sSamplesName = sLink.substr(0, nEq);
      sSamplesDir = sLink.substr(nEq + 1);
    } else if (sArg == "--sf2" && i + 1 < argc) {
      sSf2 = argv[++i];
    } else if (sArg[0] == '-' || !sInput.empty()) {
      return Usage();
    } else {
      sInput = sArg;
    }
  }
  if (!sSf2.empty())
    return sInput.empty() && !sOutput.empty()
               ? FromSoundFont(sSf2, sOutput, sSamplesName, sSamplesDir, bQuiet)
               : Usage();
  if (sInput.empty())
    return Usage();

  int32_t bRead = reader.ReadFile(sInput);
  for (const std::string &s : reader.aWarnings)
    std::fprintf(stderr, "torqa-mkcfg: %s\n", s.c_str());
  if (!bRead)
    return 1;
  if (!sSamplesDir.empty()) {
    std::vector<std::string> aWarnings;
    int32_t nDone =
        ConvertSoundSet(reader, sSamplesName, sSamplesDir, &reader.aPatches, &aWarnings);
    for (const std::string &s : aWarnings)
      std::fprintf(stderr, "torqa-mkcfg: %s\n", s.c_str());
    if (!bQuiet)
      std::fprintf(stderr, "torqa-mkcfg: %d patches converted into %s\n", nDone,
                   sSamplesDir.c_str());
  }
  std::string sText;
  std::vector<std::string> aFilled;
  if (!WriteVokraCfg(reader.aPatches, sInput, &sText, &aFilled)) {
    std::fprintf(stderr, "torqa-mkcfg: %s: bank 0 or drum kit 0 is empty, nothing to write\n",
                 sInput.c_str());
    return 1;
  }
  if (bQuiet && !aFilled.empty())
    std::fprintf(stderr, "torqa-mkcfg: %zu programs and drum notes filled from their neighbours\n",
                 aFilled.size());
  else
    for (const std::string &s : aFilled)
      std::fprintf(stderr, "torqa-mkcfg: %s\n", s.c_str());

  if (sOutput.empty()) {
    std::fwrite(sText.data(), 1, sText.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  return WriteOutput(sOutput, sText);
}