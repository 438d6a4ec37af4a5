// Files dropped on an FLTK widget: its handle() passes each event to Handle
// first and returns 1 when Handle does. The drop's text/uri-list arrives as
// FL_PASTE after FL_DND_RELEASE; the first file is handed on.
#pragma once

#include <cstdint>

class FileDropTarget {
public:
  typedef void (*PfnFileDropped)(const char *szPath, void *pData);
  FileDropTarget(PfnFileDropped pfnDropped, void *pData) : pfn(pfnDropped), pUser(pData) {}
  // Whether drops are taken (refused while a recording runs). Starts refusing.
  void Accept(int32_t bAcceptDrops) { bAccept = bAcceptDrops ? 1 : 0; }
  // Returns 1 when the event belongs to a drop this target takes.
  int Handle(int nEvent);

private:
  PfnFileDropped pfn;
  void *pUser;
  int32_t bAccept = 0;
  int32_t bDropping = 0; // a release was taken: the next paste is the drop's list
};
