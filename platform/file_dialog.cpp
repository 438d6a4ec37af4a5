#include "platform/file_dialog.h"

#include <cstring>

static const FileFilter kMidiFilters[] = {
    {"MIDI files {*.mid}", "*.mid"},
    {"MIDI files {*.RMI}", "*.rmi"},
    {"All files {*.*}", "*.*"},
};
static const FileFilter kWavFilters[] = {
    {"Sound Object files {*.wav}", "*.wav"},
    {"All files {*.*}", "*.*"},
};

const FileDialogRequest kOpenMidiRequest = {0, kMidiFilters, 3, "mid", 1, 1, 0};
const FileDialogRequest kSaveWavRequest = {1, kWavFilters, 2, "wav", 0, 1, 1};

int32_t PresetFileDialog::Choose(void *, const FileDialogRequest &req, std::string &sPath) {
  nShown++;
  pLastRequest = &req;
  if (sAnswer.empty())
    return 0;
  sPath = WithDefaultExtension(sAnswer, req.szDefExt);
  return 1;
}

static FileDialog *gDialog = nullptr;

FileDialog *SetFileDialog(FileDialog *pDialog) {
  FileDialog *pPrevious = gDialog;
  gDialog = pDialog;
  return pPrevious;
}

int32_t ChooseFile(void *owner, const FileDialogRequest &req, char *szPath, size_t nBytes) {
  if (nBytes == 0)
    return 0;
  szPath[0] = '\0';
  std::string sPath;
  if (!gDialog || !gDialog->Choose(owner, req, sPath) || sPath.empty())
    return 0;
  if (sPath.size() >= nBytes)
    return 0;
  std::memcpy(szPath, sPath.c_str(), sPath.size() + 1);
  return 1;
}

std::string WithDefaultExtension(const std::string &sPath, const char *szDefExt) {
  if (!szDefExt || !*szDefExt || sPath.empty())
    return sPath;
  size_t nName = sPath.rfind('/');
  nName = nName == std::string::npos ? 0 : nName + 1;
  size_t nDot = sPath.rfind('.');
  if (nDot != std::string::npos && nDot >= nName && nDot + 1 < sPath.size())
    return sPath;
  std::string sOut = sPath;
  if (sOut.back() != '.')
    sOut += '.';
  return sOut + szDefExt;
}
