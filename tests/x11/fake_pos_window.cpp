// A stand-in for the POS program's window, run as a separate process by the X11 tests: maps one
// top-level window with the given titles and protocols, prints "ready <window id>", then prints
// "close-request" for every WM_DELETE_WINDOW it receives and exits, unless told to ignore it.
//
//   fake_pos_window [--title T] [--wm-name T] [--wm-name-only] [--no-delete-protocol]
//                   [--framed] [--ignore-close]
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  std::string title = "ZelPos";
  std::string wmName;
  bool netWmName = true;
  bool deleteProtocol = true;
  bool framed = false;
  bool ignoreClose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--title" && i + 1 < argc)
      title = argv[++i];
    else if (arg == "--wm-name" && i + 1 < argc)
      wmName = argv[++i];
    else if (arg == "--wm-name-only")
      netWmName = false;
    else if (arg == "--no-delete-protocol")
      deleteProtocol = false;
    else if (arg == "--framed")
      framed = true;
    else if (arg == "--ignore-close")
      ignoreClose = true;
    else {
      std::fprintf(stderr, "fake_pos_window: unknown argument %s\n", arg.c_str());
      return 2;
    }
  }
  if (wmName.empty()) wmName = title;

  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "fake_pos_window: cannot open display\n");
    return 3;
  }
  const Window root = DefaultRootWindow(display);
  const Window window = XCreateSimpleWindow(display, root, 10, 10, 200, 100, 0, 0, 0);
  XStoreName(display, window, wmName.c_str());
  if (netWmName) {
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                    XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
  }
  Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  Atom takeFocus = XInternAtom(display, "WM_TAKE_FOCUS", False);
  if (deleteProtocol) {
    Atom protocols[] = {takeFocus, deleteWindow};
    XSetWMProtocols(display, window, protocols, 2);
  } else {
    XSetWMProtocols(display, window, &takeFocus, 1);
  }

  if (framed) {
    // What a reparenting window manager does: an untitled frame at the top level holding the
    // client, which carries WM_STATE.
    const Window frame = XCreateSimpleWindow(display, root, 5, 5, 220, 130, 0, 0, 0);
    const Window inner = XCreateSimpleWindow(display, frame, 0, 20, 210, 110, 0, 0, 0);
    XReparentWindow(display, window, inner, 0, 0);
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    long state[2] = {NormalState, None};
    XChangeProperty(display, window, wmState, wmState, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(state), 2);
    XMapWindow(display, inner);
    XMapWindow(display, frame);
  }
  XMapWindow(display, window);
  XSync(display, False);
  std::printf("ready %lu\n", static_cast<unsigned long>(window));
  std::fflush(stdout);

  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == ClientMessage && event.xclient.format == 32 &&
        static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) {
      std::printf("close-request\n");
      std::fflush(stdout);
      if (!ignoreClose) break;
    }
  }
  XDestroyWindow(display, window);
  XCloseDisplay(display);
  return 0;
}
