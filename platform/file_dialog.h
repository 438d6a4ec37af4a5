// File choosers: the window program shows the toolkit's, tests preset the
// answer, a program without a window gets none (every request cancelled).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct FileFilter {
  const char *szName;    // shown to the user
  const char *szPattern; // "*.mid"; letters match either case, "*.*" every file
};

struct FileDialogRequest {
  int32_t bSave; // 1: a name to write; 0: a file to read
  const FileFilter *aFilters;
  int32_t nFilters;
  const char *szDefExt;     // added (after a dot) to a name without an extension
  int32_t bMustExist;       // the file must exist
  int32_t bPathMustExist;   // the folder must exist
  int32_t bOverwritePrompt; // ask before an existing file is replaced
};

extern const FileDialogRequest kOpenMidiRequest; // the open command's dialog
extern const FileDialogRequest kSaveWavRequest;  // the recorder's dialog

class FileDialog {
public:
  virtual ~FileDialog() = default;
  // Asks for a file name; returns 1 with the name (default extension added)
  // in sPath, 0 when the user cancelled. owner is the owning Fl_Window or null.
  virtual int32_t Choose(void *owner, const FileDialogRequest &req, std::string &sPath) = 0;
};

// For tests: answers every request with sAnswer (an empty answer cancels)
// and keeps the last request.
class PresetFileDialog : public FileDialog {
public:
  int32_t Choose(void *owner, const FileDialogRequest &req, std::string &sPath) override;
  std::string sAnswer;
  const FileDialogRequest *pLastRequest = nullptr;
  int32_t nShown = 0;
};

// Routes every later ChooseFile to pDialog (null: none, every request is
// cancelled); returns the previous one.
FileDialog *SetFileDialog(FileDialog *pDialog);
// Fills szPath (nBytes with the NUL) with the chosen name; returns 1, or 0
// when cancelled or when the name does not fit (szPath is then empty).
int32_t ChooseFile(void *owner, const FileDialogRequest &req, char *szPath, size_t nBytes);

// sPath with "." and szDefExt added when its last component has no extension.
std::string WithDefaultExtension(const std::string &sPath, const char *szDefExt);
