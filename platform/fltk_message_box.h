// Message boxes as FLTK dialogs: modal, over the owning window, the caption
// as the title, an icon per kind and an OK button. The text is set in an IPA
// font so that Japanese renders.
#pragma once

#include "platform/message_box.h"

#include <string>

class FltkMessageSink : public MessageSink {
public:
  // owner: the owning Fl_Window (the box is centred over it) or null.
  void Show(void *owner, const char *text, const char *caption, MsgIcon icon) override;
};

// The text as the box shows it: CRLF (and a lone CR) become line breaks.
std::string MessageBoxLines(const char *szText);
