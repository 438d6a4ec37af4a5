#include "platform/fltk_file_dialog.h"

#include <FL/Fl.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/fl_ask.H>
#include <sys/stat.h>
#include <unistd.h>

static std::string CaseFreePattern(const char *szPattern) {
  std::string sPattern = szPattern ? szPattern : "";
  if (sPattern == "*.*")
    return "*";
  std::string sOut;
  for (char c : sPattern) {
    char cLower = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    if (cLower >= 'a' && cLower <= 'z') {
      sOut += '[';
      sOut += static_cast<char>(cLower - 32);
      sOut += cLower;
      sOut += ']';
    } else {
      sOut += c;
    }
  }
  return sOut;
}

std::string FltkFilterText(const FileDialogRequest &req) {
  std::string sText;
  for (int32_t i = 0; i < req.nFilters; i++) {
    sText += req.aFilters[i].szName;
    sText += '\t';
    sText += CaseFreePattern(req.aFilters[i].szPattern);
    sText += '\n';
  }
  return sText;
}

static bool IsFile(const std::string &sPath) {
  struct stat st;
  return stat(sPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

static bool FolderExists(const std::string &sPath) {
  size_t nSlash = sPath.rfind('/');
  std::string sDir = nSlash == std::string::npos ? "." : sPath.substr(0, nSlash ? nSlash : 1);
  struct stat st;
  return stat(sDir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// FLTK's own chooser, not GTK's: GTK runs its own loop while it is open,
// where FLTK's waits keep dispatching the loop's messages, so a song goes on
// playing while the user browses.
class NoGtkChooser {
public:
  NoGtkChooser() : bUsedGtk(Fl::option(Fl::OPTION_FNFC_USES_GTK)) {
    Fl::option(Fl::OPTION_FNFC_USES_GTK, false);
  }
  ~NoGtkChooser() { Fl::option(Fl::OPTION_FNFC_USES_GTK, bUsedGtk); }

private:
  bool bUsedGtk;
};

int32_t FltkFileDialog::Choose(void *, const FileDialogRequest &req, std::string &sPath) {
  NoGtkChooser noGtk;
  std::string sFilter = FltkFilterText(req);
  std::string sPreset;
  // A name the request refuses opens the chooser again on that name.
  for (;;) {
    Fl_Native_File_Chooser chooser(req.bSave ? Fl_Native_File_Chooser::BROWSE_SAVE_FILE
                                             : Fl_Native_File_Chooser::BROWSE_FILE);
    chooser.filter(sFilter.c_str());
    if (!sPreset.empty()) {
      chooser.preset_file(sPreset.c_str());
    } else {
      char szDir[4096]; // the chooser opens where the program was started
      if (getcwd(szDir, sizeof szDir))
        chooser.directory(szDir);
    }
    if (chooser.show() != 0 || !chooser.filename() || !*chooser.filename())
      return 0;
    std::string sChosen = WithDefaultExtension(chooser.filename(), req.szDefExt);
    sPreset = chooser.filename();
    if (req.bMustExist && !IsFile(sChosen)) {
      fl_alert("%s\nThe file was not found.", sChosen.c_str());
      continue;
    }
    if (req.bPathMustExist && !FolderExists(sChosen)) {
      fl_alert("%s\nThe folder was not found.", sChosen.c_str());
      continue;
    }
    if (req.bOverwritePrompt && IsFile(sChosen) &&
        fl_choice("%s already exists.\nDo you want to replace it?", "No", "Yes", nullptr,
                  sChosen.c_str()) != 1)
      continue;
    sPath = sChosen;
    return 1;
  }
}
