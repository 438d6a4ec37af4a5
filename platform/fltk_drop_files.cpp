#include "platform/fltk_drop_files.h"

#include "platform/drop_files.h"

#include <FL/Fl.H>
#include <string>

int FileDropTarget::Handle(int nEvent) {
  switch (nEvent) {
  case FL_DND_ENTER:
  case FL_DND_DRAG:
  case FL_DND_RELEASE:
    bDropping = bAccept && nEvent == FL_DND_RELEASE;
    return bAccept;
  case FL_DND_LEAVE:
    bDropping = 0;
    return bAccept;
  case FL_PASTE: {
    if (!bDropping)
      return 0; // a clipboard paste, not a drop
    bDropping = 0;
    const char *pText = Fl::event_text();
    int nLength = Fl::event_length();
    std::string sPath = FirstDroppedFile(
        pText && nLength > 0 ? std::string_view(pText, static_cast<size_t>(nLength)) : "");
    if (!sPath.empty() && pfn)
      pfn(sPath.c_str(), pUser);
    return 1;
  }
  default:
    return 0;
  }
}
