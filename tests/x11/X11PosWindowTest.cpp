// Finding and closing the POS window on a real X server, with the window in another process.
#include <QProcess>
#include <QtTest>
#include <memory>

// After Qt: Xlib defines macros (Bool, None, Status) that Qt headers use as names.
#include <X11/Xlib.h>

#include "platform/linux/X11PosWindow.h"

using zel::platform::WindowHandle;
using zel::platform::X11PosWindow;

namespace {

// One fake_pos_window process; killed when the test lets go of it.
class PosProcess {
 public:
  explicit PosProcess(const QStringList& args) {
    process_.setProgram(QStringLiteral(ZEL_FAKE_POS_WINDOW));
    process_.setArguments(args);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start();
  }
  ~PosProcess() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }
  // The window id it announced, or 0 when it did not start.
  WindowHandle WaitReady() {
    const QByteArray line = WaitLine();
    if (!line.startsWith("ready ")) return 0;
    return line.mid(6).trimmed().toULongLong();
  }
  QByteArray WaitLine() {
    while (!process_.canReadLine())
      if (!process_.waitForReadyRead(5000)) return {};
    return process_.readLine();
  }
  QProcess& process() { return process_; }

 private:
  QProcess process_;
};

class ScopedDisplay {
 public:
  explicit ScopedDisplay(const QByteArray& value) : saved_(qgetenv("DISPLAY")) {
    if (value.isNull())
      qunsetenv("DISPLAY");
    else
      qputenv("DISPLAY", value);
  }
  ~ScopedDisplay() { qputenv("DISPLAY", saved_); }

 private:
  QByteArray saved_;
};

int g_foreignErrors = 0;
int CountingHandler(Display*, XErrorEvent*) {
  ++g_foreignErrors;
  return 0;
}

}  // namespace

class X11PosWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY2(!qgetenv("DISPLAY").isEmpty(), "run under xvfb-run");
    // The X server resets whenever its last client leaves, and refuses connections meanwhile;
    // holding one connection for the whole test keeps every look on a stable server.
    keepAlive_ = XOpenDisplay(nullptr);
    QVERIFY(keepAlive_ != nullptr);
  }
  void cleanupTestCase() {
    if (keepAlive_ != nullptr) XCloseDisplay(keepAlive_);
  }

  void findsOnlyMatchingWindows_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("search");
    QTest::addColumn<bool>("found");
    QTest::newRow("exact title") << QStringList{} << "ZelPos" << true;
    QTest::newRow("searched in other case") << QStringList{} << "ZELPOS" << true;
    QTest::newRow("titled in other case") << QStringList{"--title", "zelpos"} << "ZelPos" << true;
    QTest::newRow("WM_NAME only") << QStringList{"--wm-name-only"} << "ZelPos" << true;
    QTest::newRow("_NET_WM_NAME preferred")
        << QStringList{"--title", "ZelPos", "--wm-name", "Other"} << "ZelPos" << true;
    QTest::newRow("stale WM_NAME ignored")
        << QStringList{"--title", "Other", "--wm-name", "ZelPos"} << "ZelPos" << false;
    QTest::newRow("inside a window manager frame") << QStringList{"--framed"} << "ZelPos" << true;
    QTest::newRow("longer title") << QStringList{"--title", "ZelPos - Till 1"} << "ZelPos" << false;
    QTest::newRow("shorter title") << QStringList{"--title", "ZelPo"} << "ZelPos" << false;
    QTest::newRow("no WM_DELETE_WINDOW")
        << QStringList{"--no-delete-protocol"} << "ZelPos" << false;
  }
  void findsOnlyMatchingWindows() {
    QFETCH(QStringList, args);
    QFETCH(QString, search);
    QFETCH(bool, found);
    PosProcess pos(args);
    const WindowHandle id = pos.WaitReady();
    QVERIFY(id != 0);

    X11PosWindow finder;
    const auto window = finder.FindTopLevelWindow(search.toStdString());
    QCOMPARE(window.has_value(), found);
    if (found) QCOMPARE(*window, id);
  }

  void windowClosesOnRequest() {
    PosProcess pos({});
    const WindowHandle id = pos.WaitReady();
    QVERIFY(id != 0);
    X11PosWindow finder;
    const auto window = finder.FindTopLevelWindow("ZelPos");
    QVERIFY(window.has_value());

    finder.PostCloseRequest(*window);  // returns without waiting for the program
    QCOMPARE(pos.WaitLine(), QByteArray("close-request\n"));
    QVERIFY(pos.process().waitForFinished(5000));
    QCOMPARE(pos.process().exitCode(), 0);
    QTRY_VERIFY(!finder.FindTopLevelWindow("ZelPos").has_value());
  }

  void windowIgnoringRequestIsStillFound() {
    PosProcess pos({"--ignore-close"});
    const WindowHandle id = pos.WaitReady();
    QVERIFY(id != 0);
    X11PosWindow finder;

    finder.PostCloseRequest(id);
    // The look right after the request, as Step 1 makes it, and again once it surely arrived.
    QCOMPARE(finder.FindTopLevelWindow("ZelPos"), std::optional<WindowHandle>(id));
    QCOMPARE(pos.WaitLine(), QByteArray("close-request\n"));
    QCOMPARE(finder.FindTopLevelWindow("ZelPos"), std::optional<WindowHandle>(id));
    QCOMPARE(pos.process().state(), QProcess::Running);
  }

  void topmostOfTwoMatchingWindows() {
    PosProcess lower({});
    QVERIFY(lower.WaitReady() != 0);
    PosProcess upper({});
    const WindowHandle upperId = upper.WaitReady();
    QVERIFY(upperId != 0);
    QCOMPARE(X11PosWindow().FindTopLevelWindow("ZelPos"), std::optional<WindowHandle>(upperId));
  }

  void vanishedWindowIsNoError() {
    // A window id that no longer exists makes the server answer BadWindow; that must neither end
    // the process (Xlib's default) nor reach the handler another part of the program installed.
    Display* own = XOpenDisplay(nullptr);
    QVERIFY(own != nullptr);
    const Window gone = XCreateSimpleWindow(own, DefaultRootWindow(own), 0, 0, 10, 10, 0, 0, 0);
    XDestroyWindow(own, gone);
    XSync(own, False);
    XCloseDisplay(own);

    g_foreignErrors = 0;
    XErrorHandler before = XSetErrorHandler(CountingHandler);
    X11PosWindow finder;
    finder.PostCloseRequest(gone);
    QVERIFY(!finder.FindTopLevelWindow("ZelPos").has_value());
    QVERIFY(XSetErrorHandler(before) == &CountingHandler);  // restored afterwards
    QCOMPARE(g_foreignErrors, 0);
  }

  void noDisplayMeansNoWindow_data() {
    QTest::addColumn<QByteArray>("display");
    QTest::newRow("DISPLAY unset") << QByteArray();
    QTest::newRow("no server there") << QByteArray(":4242");
  }
  void noDisplayMeansNoWindow() {
    QFETCH(QByteArray, display);
    PosProcess pos({});  // a matching window on the real display must not be found
    QVERIFY(pos.WaitReady() != 0);
    ScopedDisplay scoped(display);
    X11PosWindow finder;
    QVERIFY(!finder.FindTopLevelWindow("ZelPos").has_value());
    finder.PostCloseRequest(1);  // nothing to send it to; must simply return
  }

 private:
  Display* keepAlive_ = nullptr;
};

QTEST_GUILESS_MAIN(X11PosWindowTest)
#include "X11PosWindowTest.moc"
