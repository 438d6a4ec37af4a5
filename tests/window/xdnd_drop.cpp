// Drops one file on a window the way a file manager does (XDND, version 5,
// text/uri-list), so the window test needs no file manager.
// Usage: xdnd_drop WINDOW X Y PATH; exits 0 when the target took the drop.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <sys/select.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

Display *pDisplay = nullptr;

void Send(Window target, Atom type, long l0, long l1, long l2, long l3, long l4) {
  XEvent ev;
  std::memset(&ev, 0, sizeof ev);
  ev.xclient.type = ClientMessage;
  ev.xclient.window = target;
  ev.xclient.message_type = type;
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = l0;
  ev.xclient.data.l[1] = l1;
  ev.xclient.data.l[2] = l2;
  ev.xclient.data.l[3] = l3;
  ev.xclient.data.l[4] = l4;
  XSendEvent(pDisplay, target, False, NoEventMask, &ev);
  XFlush(pDisplay);
}

// Waits up to 5 s for the next event.
bool NextEvent(XEvent *pEv) {
  for (int i = 0; i < 50; ++i) {
    if (XPending(pDisplay)) {
      XNextEvent(pDisplay, pEv);
      return true;
    }
    const int fd = ConnectionNumber(pDisplay);
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(fd, &fds);
    timeval tv = {0, 100000};
    select(fd + 1, &fds, nullptr, nullptr, &tv);
  }
  return false;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 5)
    return 2;
  pDisplay = XOpenDisplay(nullptr);
  if (!pDisplay)
    return 2;
  const Window target = std::strtoul(argv[1], nullptr, 0);
  const long x = std::strtol(argv[2], nullptr, 10), y = std::strtol(argv[3], nullptr, 10);
  const std::string sList = std::string("file://") + argv[4] + "\r\n";

  const Atom aEnter = XInternAtom(pDisplay, "XdndEnter", False);
  const Atom aPosition = XInternAtom(pDisplay, "XdndPosition", False);
  const Atom aStatus = XInternAtom(pDisplay, "XdndStatus", False);
  const Atom aDrop = XInternAtom(pDisplay, "XdndDrop", False);
  const Atom aFinished = XInternAtom(pDisplay, "XdndFinished", False);
  const Atom aSelection = XInternAtom(pDisplay, "XdndSelection", False);
  const Atom aCopy = XInternAtom(pDisplay, "XdndActionCopy", False);
  const Atom aUriList = XInternAtom(pDisplay, "text/uri-list", False);

  const Window source =
      XCreateSimpleWindow(pDisplay, DefaultRootWindow(pDisplay), 0, 0, 1, 1, 0, 0, 0);
  XSetSelectionOwner(pDisplay, aSelection, source, CurrentTime);
  const long nSource = static_cast<long>(source);
  Send(target, aEnter, nSource, 5L << 24, static_cast<long>(aUriList), 0, 0);
  Send(target, aPosition, nSource, 0, (x << 16) | y, CurrentTime, static_cast<long>(aCopy));

  XEvent ev;
  bool bDropped = false;
  while (NextEvent(&ev)) {
    if (ev.type == ClientMessage && ev.xclient.message_type == aStatus && !bDropped) {
      if (!(ev.xclient.data.l[1] & 1)) {
        std::fprintf(stderr, "xdnd_drop: the window refuses the drop\n");
        return 1;
      }
      Send(target, aDrop, nSource, 0, CurrentTime, 0, 0);
      bDropped = true;
    } else if (ev.type == SelectionRequest) {
      XSelectionRequestEvent &req = ev.xselectionrequest;
      XEvent reply;
      std::memset(&reply, 0, sizeof reply);
      reply.xselection.type = SelectionNotify;
      reply.xselection.requestor = req.requestor;
      reply.xselection.selection = req.selection;
      reply.xselection.target = req.target;
      reply.xselection.time = req.time;
      reply.xselection.property = req.property;
      XChangeProperty(pDisplay, req.requestor, req.property, req.target, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char *>(sList.data()),
                      static_cast<int>(sList.size()));
      XSendEvent(pDisplay, req.requestor, False, NoEventMask, &reply);
      XFlush(pDisplay);
    } else if (ev.type == ClientMessage && ev.xclient.message_type == aFinished) {
      XCloseDisplay(pDisplay);
      return 0;
    }
  }
  std::fprintf(stderr, "xdnd_drop: no answer from the window\n");
  return 1;
}
