// The window hints reach the X server before the window is mapped, where a window manager reads
// them, and nothing later undoes them. The test's own connection stands in for the window
// manager: it takes the map requests, so each window stays unmapped while the hints written
// before and after the map request are told apart by the order of the server's events. The
// same program on the offscreen platform checks that nothing is attempted there.
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>
#include <functional>
#include <map>

#include "platform/linux/X11WindowHints.h"
#include "platform/qt/QtMessageDialogs.h"
#include "tests/x11/X11Session.h"

namespace zp = zel::platform;
using zel::test::X11Session;

namespace {

const char* const kHintProperties[] = {"_MOTIF_WM_HINTS", "WM_NORMAL_HINTS", "_NET_WM_WINDOW_TYPE",
                                       "WM_TRANSIENT_FOR"};

// Takes the map requests of the screen and records, per window, the hint properties changed
// before and after its map request.
class MapRequestWatch {
 public:
  explicit MapRequestWatch(X11Session& x11) : x11_(x11) {
    XSelectInput(x11_.display(), x11_.root(), SubstructureRedirectMask);
    XSync(x11_.display(), False);
  }
  ~MapRequestWatch() {
    XSelectInput(x11_.display(), x11_.root(), NoEventMask);
    XSync(x11_.display(), False);
  }
  void watch(Window window) {
    XSelectInput(x11_.display(), window, PropertyChangeMask);
    XSync(x11_.display(), False);
  }
  void drain() {
    while (XPending(x11_.display())) {
      XEvent e;
      XNextEvent(x11_.display(), &e);
      if (e.type == MapRequest) {
        mapRequested[e.xmaprequest.window] = true;
      } else if (e.type == PropertyNotify) {
        const std::string name = x11_.atomName(e.xproperty.atom);
        for (const char* hint : kHintProperties)
          if (name == hint) {
            auto& list = mapRequested[e.xproperty.window] ? changedAfter : changedBefore;
            list[e.xproperty.window].push_back(name);
          }
      }
    }
  }
  std::map<Window, bool> mapRequested;
  std::map<Window, std::vector<std::string>> changedBefore, changedAfter;

 private:
  X11Session& x11_;
};

std::vector<unsigned long> Motif(const zp::X11WindowHints& hints) {
  return {zp::motif::kHasFunctions | zp::motif::kHasDecorations, hints.motifFunctions,
          hints.motifDecorations, 0, 0};
}

QString Join(const std::vector<std::string>& names) {
  QStringList list;
  for (const auto& n : names) list << QString::fromStdString(n);
  return list.join(", ");
}

}  // namespace

class X11WindowHintsTest : public QObject {
  Q_OBJECT

  bool onX11() const { return QGuiApplication::platformName() == "xcb"; }

 private slots:
  void valuesAsLaidOut() {
    const zp::X11WindowHints main = zp::MainWindowHints();
    QCOMPARE(main.motifFunctions, zp::motif::kFunctionMove);
    QCOMPARE(main.motifDecorations, zp::motif::kDecorationBorder | zp::motif::kDecorationTitle);
    QVERIFY(main.fixedSize);
    QVERIFY(!main.dialogOfParent);
    QCOMPARE(zp::MessageFormHints(true).motifFunctions,
             zp::motif::kFunctionMove | zp::motif::kFunctionClose);
    QCOMPARE(zp::MessageFormHints(false).motifFunctions, zp::motif::kFunctionMove);
    QCOMPARE(zp::MessageFormHints(true).motifDecorations,
             zp::motif::kDecorationBorder | zp::motif::kDecorationTitle);
    QVERIFY(zp::MessageFormHints(true).dialogOfParent);
  }

  // On a platform without X11 nothing is written and showing the window works as before.
  void nothingWithoutX11() {
    if (onX11()) QSKIP("runs on the offscreen platform (the second run of this program)");
    QWidget window;
    window.setFixedSize(300, 200);
    zp::KeepX11WindowHints(&window, zp::MainWindowHints());
    QVERIFY(window.findChildren<QObject*>().isEmpty());  // no keeper left behind
    window.show();
    QVERIFY(window.isVisible());
    QVERIFY(!zp::WriteX11WindowHints(&window, zp::MainWindowHints()));
    QVERIFY(!zp::WriteX11WindowHints(nullptr, zp::MainWindowHints()));
  }

  // A window with the main window's hints: they are on the window at its map request and
  // nothing rewrites them after. Without the hints, Qt's own Motif hints are there instead
  // (which shows the check can fail).
  void mainWindowHintsBeforeMapping_data() {
    QTest::addColumn<bool>("keep");
    QTest::newRow("kept") << true;
    QTest::newRow("Qt's own") << false;
  }
  void mainWindowHintsBeforeMapping() {
    if (!onX11()) QSKIP("needs X11");
    QFETCH(bool, keep);
    X11Session x11;
    QVERIFY(x11.ok());
    QWidget window(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    window.setFixedSize(320, 210);
    if (keep) zp::KeepX11WindowHints(&window, zp::MainWindowHints());
    MapRequestWatch watch(x11);
    const Window id = window.winId();
    watch.watch(id);
    window.show();
    QVERIFY(x11.waitFor(
        [&] {
          QCoreApplication::processEvents();
          watch.drain();
          return watch.mapRequested[id];
        },
        5000));
    QTest::qWait(300);  // anything Qt would still write
    watch.drain();
    const auto motif = x11.values(id, "_MOTIF_WM_HINTS");
    if (!keep) {
      QVERIFY(motif != Motif(zp::MainWindowHints()));
      return;
    }
    QCOMPARE(motif, Motif(zp::MainWindowHints()));
    const auto size = x11.values(id, "WM_NORMAL_HINTS");
    QVERIFY(size.size() >= 9);
    QVERIFY((size[0] & (PMinSize | PMaxSize)) == (PMinSize | PMaxSize));
    QCOMPARE(std::vector<unsigned long>(size.begin() + 5, size.begin() + 9),
             (std::vector<unsigned long>{320, 210, 320, 210}));
    QVERIFY2(watch.changedAfter[id].empty(),
             qPrintable("written after the map request: " + Join(watch.changedAfter[id])));
    QVERIFY2(!watch.changedBefore[id].empty(), "no hint written once the window existed");
  }

  // The program's message form: the dialog type, its owner, a border, a title and a close box,
  // all there at the map request.
  void messageFormHintsBeforeMapping() {
    if (!onX11()) QSKIP("needs X11");
    X11Session x11;
    QVERIFY(x11.ok());
    QWidget owner;
    owner.setFixedSize(400, 300);
    const Window ownerId = owner.winId();
    zp::QtMessageDialogs dialogs;
    dialogs.SetWindow(&owner);

    MapRequestWatch watch(x11);
    Window boxId = 0;
    bool answered = false;
    // Before the form's own show handling (application filters come first): watch its window.
    struct ShowWatch : QObject {
      std::function<void(QWidget*)> onShow;
      bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Show && qobject_cast<QMessageBox*>(o))
          onShow(static_cast<QWidget*>(o));
        return false;
      }
    } showWatch;
    showWatch.onShow = [&](QWidget* box) {
      boxId = box->winId();
      watch.watch(boxId);
    };
    qApp->installEventFilter(&showWatch);
    QTimer answer;
    answer.setInterval(20);
    QElapsedTimer sinceMapRequest;
    connect(&answer, &QTimer::timeout, [&] {
      watch.drain();
      if (!boxId || !watch.mapRequested[boxId]) return;
      if (!sinceMapRequest.isValid()) sinceMapRequest.start();
      if (sinceMapRequest.elapsed() < 300) return;  // anything Qt would still write
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      answered = true;
      box->buttons().first()->click();
    });
    answer.start();
    QTimer::singleShot(10000, [] {
      if (auto* box = QApplication::activeModalWidget()) box->close();
    });
    dialogs.MessageDlg("Replace file", zp::DialogKind::Information, zp::DialogButtons::Ok);
    qApp->removeEventFilter(&showWatch);
    QVERIFY2(answered, "the message form never asked to be mapped");
    QCOMPARE(x11.values(boxId, "_MOTIF_WM_HINTS"), Motif(zp::MessageFormHints(true)));
    QCOMPARE(x11.atomNames(boxId, "_NET_WM_WINDOW_TYPE"),
             std::vector<std::string>{"_NET_WM_WINDOW_TYPE_DIALOG"});
    QCOMPARE(x11.values(boxId, "WM_TRANSIENT_FOR"), std::vector<unsigned long>{ownerId});
    QVERIFY2(watch.changedAfter[boxId].empty(),
             qPrintable("written after the map request: " + Join(watch.changedAfter[boxId])));
  }
};

QTEST_MAIN(X11WindowHintsTest)
#include "X11WindowHintsTest.moc"
