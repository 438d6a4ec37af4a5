#include "unit/dialog_model.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "unit/channels.h"
#include "unit/unit_entry.h"
#include "unit/unit_state.h"

namespace vokra {

namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

int32_t SameIgnoringAsciiCase(const char *a, const char *b) {
  for (; *a != '\0' && LowerAscii(*a) == LowerAscii(*b); ++a, ++b) {
  }
  return LowerAscii(*a) == LowerAscii(*b);
}

int32_t IsCfgName(const char *pszName) {
  const size_t n = std::strlen(pszName);
  return n > 4 && SameIgnoringAsciiCase(pszName + n - 4, ".cfg");
}

} // namespace

uint32_t ReceiveMask() {
  uint32_t nMask = 0;
  for (int32_t c = 0; c < kChannelCount; c++)
    if (aUnitChannel[c].bReceive)
      nMask |= 1u << c;
  return nMask;
}

void SetReceiveMask(uint32_t nMask) {
  for (int32_t c = 0; c < kChannelCount; c++)
    aUnitChannel[c].bReceive = static_cast<int32_t>((nMask >> c) & 1);
}

std::vector<std::string> ListCfgFiles(const char *pszSetDir) {
  std::vector<std::string> asFiles;
  DIR *pDir = opendir(pszSetDir);
  if (pDir == nullptr)
    return asFiles;
  while (const dirent *pEnt = readdir(pDir))
    if (IsCfgName(pEnt->d_name))
      asFiles.push_back(pEnt->d_name);
  closedir(pDir);
  std::sort(asFiles.begin(), asFiles.end(), [](const std::string &a, const std::string &b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return LowerAscii(x) < LowerAscii(y);
    });
  });
  return asFiles;
}

int32_t FindCfgEntry(const std::vector<std::string> &asFiles, const char *pszName) {
  if (asFiles.empty())
    return -1;
  for (size_t i = 0; i < asFiles.size(); i++)
    if (SameIgnoringAsciiCase(asFiles[i].c_str(), pszName))
      return static_cast<int32_t>(i);
  return 0;
}

uint32_t UnitDialogModel::ReceiveMask() {
  return vokra::ReceiveMask();
}

int32_t UnitDialogModel::FinalGain() {
  return nFinalGain;
}

void UnitDialogModel::MoveFinalGain(int32_t nGain) {
  SetFinalGain(nGain);
}

void UnitDialogModel::ConfirmMidi(uint32_t nMask, int32_t nGain) {
  SetReceiveMask(nMask);
  SetFinalGain(nGain);
}

SetupChoice UnitDialogModel::OpenSetup() {
  SetupChoice choice;
  const std::string sSetDir = std::string(szUnitDir) + "VOKRA/";
  choice.asFiles = ListCfgFiles(sSetDir.c_str());
  choice.nSel = FindCfgEntry(choice.asFiles, szCfgName);
  choice.bOverSample = bOverSample;
  return choice;
}

void UnitDialogModel::ConfirmSetup(const char *pszName, int32_t bNewOverSample) {
  if (pszName != nullptr && std::strlen(pszName) < sizeof szCfgName)
    std::strcpy(szCfgName, pszName);
  bOverSample = bNewOverSample ? 1 : 0;
}

void *UnitDialogModel::HostWindow() {
  return hwndHost;
}

void UnitDialogModel::EntryClosed() {
  ForgetEntryWindow();
}

std::string UnitDialogModel::CopyrightText() {
  char szName[32] = {};
  GetName(szName);
  const int32_t nVer = GetVer();
  char szText[256];
  std::snprintf(szText, sizeof szText,
                "%s  Version %d.%02d\r\n"
                "Torqa のサウンドユニット\r\n"
                "Copyright (C) Torqa の開発者",
                szName, nVer / 100, nVer % 100);
  return szText;
}

} // namespace vokra
