#pragma once
// The test's own connection to the X server (Xvfb): reads back what windows carry and sends
// what a window manager, a pager or a user's click would send. And a real window manager,
// started on that server for the length of a test.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <string>
#include <vector>

namespace zel::test {

class X11Session {
 public:
  X11Session() : display_(XOpenDisplay(nullptr)) {
    // A window gone meanwhile (a closed dialog, a window manager's old check window) only
    // makes a read come back empty.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  }
  ~X11Session() {
    if (display_) XCloseDisplay(display_);
  }
  X11Session(const X11Session&) = delete;
  X11Session& operator=(const X11Session&) = delete;

  Display* display() const { return display_; }
  bool ok() const { return display_ != nullptr; }
  Window root() const { return DefaultRootWindow(display_); }
  Atom atom(const char* name) const { return XInternAtom(display_, name, False); }
  std::string atomName(Atom a) const {
    char* name = XGetAtomName(display_, a);
    std::string result = name ? name : "";
    if (name) XFree(name);
    return result;
  }

  // The 32-bit values of a property of any type; empty when the window does not carry it.
  std::vector<unsigned long> values(Window window, const char* property) const {
    std::vector<unsigned long> result;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display_, window, atom(property), 0, 64, False, AnyPropertyType, &type,
                           &format, &count, &after, &data) == Success &&
        data && format == 32) {
      const auto* longs = reinterpret_cast<const unsigned long*>(data);  // Xlib gives longs
      result.assign(longs, longs + count);
    }
    if (data) XFree(data);
    return result;
  }
  std::vector<std::string> atomNames(Window window, const char* property) const {
    std::vector<std::string> names;
    for (unsigned long a : values(window, property)) names.push_back(atomName(a));
    return names;
  }

  // ICCCM WM_STATE as the window manager keeps it: 1 normal, 3 iconic, 0 withdrawn or none.
  long wmState(Window window) const {
    const auto state = values(window, "WM_STATE");
    return state.empty() ? 0 : long(state[0]);
  }

  // The window manager's check window, once a window manager has taken the screen.
  bool windowManagerRunning() const {
    const auto check = values(root(), "_NET_SUPPORTING_WM_CHECK");
    if (check.empty()) return false;
    const auto self = values(Window(check[0]), "_NET_SUPPORTING_WM_CHECK");
    return !self.empty() && self[0] == check[0];
  }

  // Polls `done` (with this connection in step with the server) until it holds or `ms` pass.
  template <typename F>
  bool waitFor(F done, int ms = 5000) const {
    QDeadlineTimer deadline(ms);
    while (true) {
      XSync(display_, False);
      if (done()) return true;
      if (deadline.hasExpired()) return false;
      QThread::msleep(20);
    }
  }

  // What the window manager sends for a click on the close box: WM_DELETE_WINDOW to the window.
  void sendDeleteWindow(Window window) const {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = atom("WM_PROTOCOLS");
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(atom("WM_DELETE_WINDOW"));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &e);
    XSync(display_, False);
  }
  // Asks the window manager to close, iconify or activate a window, as a pager or task bar does.
  void askWindowManagerToClose(Window window) const {
    sendToRoot(window, "_NET_CLOSE_WINDOW", {CurrentTime, 2});
  }
  void askWindowManagerToIconify(Window window) const {
    sendToRoot(window, "WM_CHANGE_STATE", {IconicState});
  }
  void askWindowManagerToActivate(Window window) const {
    sendToRoot(window, "_NET_ACTIVE_WINDOW", {2, CurrentTime, 0});
  }

 private:
  void sendToRoot(Window window, const char* type, std::vector<long> data) const {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = atom(type);
    e.xclient.format = 32;
    for (std::size_t i = 0; i < data.size() && i < 5; ++i) e.xclient.data.l[i] = data[i];
    XSendEvent(display_, root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    XSync(display_, False);
  }

  Display* display_;
};

// A window manager on the test's X server, with a home of its own, stopped with the test.
class WindowManager {
 public:
  // The binary's path, or empty when it is not installed.
  static QString find(const QString& name) {
    return QStandardPaths::findExecutable(name, {"/usr/bin", "/usr/local/bin"});
  }

  ~WindowManager() { stop(); }

  // Starts `binary` and waits until it has taken the screen. An empty string when it has, else
  // what went wrong.
  QString start(const QString& binary, const X11Session& x11) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home_.path());
    env.insert("XDG_CONFIG_HOME", home_.path() + "/.config");
    env.insert("XDG_CACHE_HOME", home_.path() + "/.cache");
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(binary, {});
    if (!process_.waitForStarted(5000)) return binary + " did not start: " + process_.errorString();
    if (!x11.waitFor([&] { return x11.windowManagerRunning(); }, 10000))
      return binary + " did not take the screen within 10 s: " + process_.readAll();
    return {};
  }
  void stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }

 private:
  QTemporaryDir home_;
  QProcess process_;
};

}  // namespace zel::test
