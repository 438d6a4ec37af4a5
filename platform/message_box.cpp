#include "platform/message_box.h"

#include <cstdio>

void StderrMessageSink::Show(void *, const char *text, const char *caption, MsgIcon) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
}

static StderrMessageSink gStderrSink;
static MessageSink *gSink = &gStderrSink;

MessageSink *SetMessageSink(MessageSink *sink) {
  MessageSink *previous = gSink;
  gSink = sink ? sink : &gStderrSink;
  return previous;
}

void ShowMessageBox(void *owner, const char *text, const char *caption, MsgIcon icon) {
  gSink->Show(owner, text, caption, icon);
}
