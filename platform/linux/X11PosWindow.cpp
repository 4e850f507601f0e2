#include "platform/linux/X11PosWindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace zel::platform {

namespace {

// Xlib's error handler is process-wide. While one of our searches runs, errors on our own
// connection (typically BadWindow for a window destroyed between XQueryTree and the property
// read) are ignored; errors on any other connection go to the handler that was installed before.
Display* g_ourDisplay = nullptr;
XErrorHandler g_previousHandler = nullptr;

int IgnoreOurErrors(Display* display, XErrorEvent* event) {
  if (display == g_ourDisplay) return 0;
  return g_previousHandler ? g_previousHandler(display, event) : 0;
}

// One connection for the length of one call, with the error handler in place.
class Connection {
 public:
  Connection() {
    display_ = XOpenDisplay(nullptr);  // $DISPLAY; null when unset or unreachable
    if (display_ == nullptr) return;
    g_ourDisplay = display_;
    g_previousHandler = XSetErrorHandler(IgnoreOurErrors);
  }
  ~Connection() {
    if (display_ == nullptr) return;
    XSync(display_, False);  // collect pending errors while our handler is still installed
    XSetErrorHandler(g_previousHandler);
    g_ourDisplay = nullptr;
    g_previousHandler = nullptr;
    XCloseDisplay(display_);
  }
  Display* get() const { return display_; }

  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

 private:
  Display* display_ = nullptr;
};

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
           return lower(x) == lower(y);
         });
}

bool HasProperty(Display* display, Window window, Atom property) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  const int status = XGetWindowProperty(display, window, property, 0, 0, False, AnyPropertyType,
                                        &type, &format, &count, &after, &data);
  if (data != nullptr) XFree(data);
  return status == Success && type != None;
}

// _NET_WM_NAME (UTF-8) when set, else WM_NAME in whatever encoding it carries.
std::optional<std::string> WindowTitle(Display* display, Window window) {
  const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8String = XInternAtom(display, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, netWmName, 0, 1024, False, utf8String, &type, &format,
                         &count, &after, &data) == Success &&
      data != nullptr) {
    std::optional<std::string> title;
    if (type == utf8String && format == 8) title.emplace(reinterpret_cast<char*>(data), count);
    XFree(data);
    if (title) return title;
  }

  XTextProperty text{};
  if (XGetWMName(display, window, &text) == 0 || text.value == nullptr) return std::nullopt;
  std::optional<std::string> title;
  char** list = nullptr;
  int items = 0;
  if (Xutf8TextPropertyToTextList(display, &text, &list, &items) >= Success && list != nullptr) {
    if (items > 0 && list[0] != nullptr) title.emplace(list[0]);
    XFreeStringList(list);
  } else if (text.format == 8) {
    title.emplace(reinterpret_cast<char*>(text.value), text.nitems);
  }
  XFree(text.value);
  return title;
}

bool AcceptsDelete(Display* display, Window window) {
  const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  Atom* protocols = nullptr;
  int count = 0;
  if (XGetWMProtocols(display, window, &protocols, &count) == 0) return false;
  const bool accepts = std::find(protocols, protocols + count, deleteWindow) != protocols + count;
  XFree(protocols);
  return accepts;
}

bool Matches(Display* display, Window window, std::string_view title) {
  const auto windowTitle = WindowTitle(display, window);
  return windowTitle && EqualIgnoringAsciiCase(*windowTitle, title) &&
         AcceptsDelete(display, window);
}

std::vector<Window> Children(Display* display, Window window) {
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  std::vector<Window> result;
  if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) return result;
  if (children != nullptr) {
    result.assign(children, children + count);
    XFree(children);
  }
  return result;
}

// The client windows (those with WM_STATE) inside a window manager's frame, nearest first.
// Frames nest only a few levels deep; the limit keeps a hostile tree from costing much.
void ClientsInFrame(Display* display, Window frame, Atom wmState, int depth,
                    std::vector<Window>& clients) {
  if (depth == 0) return;
  const auto children = Children(display, frame);
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    if (HasProperty(display, *it, wmState))
      clients.push_back(*it);
    else
      ClientsInFrame(display, *it, wmState, depth - 1, clients);
  }
}

}  // namespace

std::optional<WindowHandle> X11PosWindow::FindTopLevelWindow(const std::string& title) {
  Connection connection;
  Display* display = connection.get();
  if (display == nullptr) return std::nullopt;

  const Atom wmState = XInternAtom(display, "WM_STATE", False);
  const auto topLevel = Children(display, DefaultRootWindow(display));
  // XQueryTree lists bottom to top; FindWindow answers the topmost match.
  for (auto it = topLevel.rbegin(); it != topLevel.rend(); ++it) {
    if (Matches(display, *it, title)) return static_cast<WindowHandle>(*it);
    if (HasProperty(display, *it, wmState)) continue;  // a client itself, not a frame
    std::vector<Window> clients;
    ClientsInFrame(display, *it, wmState, 4, clients);
    for (Window client : clients)
      if (Matches(display, client, title)) return static_cast<WindowHandle>(client);
  }
  return std::nullopt;
}

void X11PosWindow::PostCloseRequest(WindowHandle window) {
  Connection connection;
  Display* display = connection.get();
  if (display == nullptr) return;

  XEvent event;
  std::memset(&event, 0, sizeof event);
  event.xclient.type = ClientMessage;
  event.xclient.window = static_cast<Window>(window);
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, static_cast<Window>(window), False, NoEventMask, &event);
  XFlush(display);
}

}  // namespace zel::platform
