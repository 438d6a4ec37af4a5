// File choosers through Fl_Native_File_Chooser, in FLTK's own form.
#pragma once

#include "platform/file_dialog.h"

#include <string>

class FltkFileDialog : public FileDialog {
public:
  int32_t Choose(void *owner, const FileDialogRequest &req, std::string &sPath) override;
};

// The chooser's filter text for a request: "name\tpattern\n" per filter, each
// pattern matching its letters in either case ("*.mid" gives
// "*.[Mm][Ii][Dd]"), as the file systems these patterns were made for do;
// "*.*" gives "*", every file.
std::string FltkFilterText(const FileDialogRequest &req);
