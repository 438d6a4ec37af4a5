// Message boxes the user must see. The window toolkit shows them as dialogs,
// a terminal tool prints them, tests capture them: each is a MessageSink.
#pragma once

#include <string>
#include <vector>

enum class MsgIcon {
  None,
  Information,
  Warning, // exclamation: conditions the program survives
  Error,   // stop: fatal conditions and refusals
};

class MessageSink {
public:
  virtual ~MessageSink() = default;
  // Shows text under caption; owner is an opaque window handle or null.
  virtual void Show(void *owner, const char *text, const char *caption, MsgIcon icon) = 0;
};

// Prints "caption: text" as one line on stderr.
class StderrMessageSink : public MessageSink {
public:
  void Show(void *owner, const char *text, const char *caption, MsgIcon icon) override;
};

// Keeps the boxes instead of showing them: the terminal tool reports them its
// own way, and tests check them.
class CaptureMessageSink : public MessageSink {
public:
  struct Shown {
    std::string sText;
    std::string sCaption;
    MsgIcon icon;
  };
  void Show(void *, const char *text, const char *caption, MsgIcon icon) override {
    aShown.push_back({text, caption, icon});
    sText = text;
    sCaption = caption;
  }
  std::vector<Shown> aShown; // every box, in order
  std::string sText;         // the last box
  std::string sCaption;
};

// Routes every later ShowMessageBox to sink (null restores the stderr sink).
// Returns the previous sink.
MessageSink *SetMessageSink(MessageSink *sink);
void ShowMessageBox(void *owner, const char *text, const char *caption, MsgIcon icon);
