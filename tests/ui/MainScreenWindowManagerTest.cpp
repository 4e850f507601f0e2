// The window and its message forms under real window managers (openbox, icewm) on Xvfb: the
// hints they read, and a run that stays safe whatever boxes they still draw: a close request in
// the middle of the run is ignored, a minimise and restore loses nothing and stops nothing, and
// the closing question and the Close button work as before once the run is over.
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>
#include <functional>
#include <sstream>

#include "platform/linux/X11WindowHints.h"
#include "platform/qt/QtMessageDialogs.h"
#include "tests/support/FakePlatform.h"
#include "tests/x11/X11Session.h"
#include "tests/support/DemoStations.h"
#include "ui/qt/MainScreenWindow.h"

namespace zp = zel::platform;
using zel::test::WindowManager;
using zel::test::X11Session;
using zp::DialogResult;

Q_DECLARE_METATYPE(DialogResult)

namespace {

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

QStringList Lines(const QListWidget* list) {
  QStringList lines;
  for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
  return lines;
}

// Pixels of `area` darker than mid-grey: drawn text.
int CountInk(const QImage& image, const QRect& area) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (qGray(image.pixel(x, y)) < 128) ++n;
  return n;
}

std::vector<unsigned long> Motif(const zp::X11WindowHints& hints) {
  return {zp::motif::kHasFunctions | zp::motif::kHasDecorations, hints.motifFunctions,
          hints.motifDecorations, 0, 0};
}

// The program's window and real message forms on a temporary prefix, with the other services
// faked (nothing powers off).
struct Station {
  zel::test::FakePlatform fake;
  zp::QtMessageDialogs dialogs;
  zp::Platform platform{fake.files,    zp::HostIni(), dialogs,     fake.posWindow,
                        fake.powerOff, fake.system,   fake.runLock};
  MainScreenWindow form{platform};
  Station() { dialogs.SetWindow(&form); }

  // A demo station (a few records per table) with the given damage; empty on success.
  QString build(const QStringList& damages) {
    return zel::test::BuildDemoStation(fake.prefix.path(), damages);
  }
};

// Answers the message forms as they come up, from inside their own event loop.
class FormAnswerer : public QObject {
 public:
  // Called once per form; acts on it (clicks a button) and may wait meanwhile.
  std::function<void(QMessageBox*)> onForm;
  QStringList seen;  // "title: text" of each form, in order

  FormAnswerer() {
    timer_.setInterval(20);
    connect(&timer_, &QTimer::timeout, this, [this] {
      if (busy_) return;
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || box == handled_) return;
      handled_ = box;
      busy_ = true;
      seen << box->windowTitle() + ": " + box->text();
      onForm(box);
      busy_ = false;
    });
    timer_.start();
  }

 private:
  QTimer timer_;
  QPointer<QMessageBox> handled_;
  bool busy_ = false;
};

QAbstractButton* Button(QMessageBox* box, const QString& text) {
  for (QAbstractButton* b : box->buttons())
    if (b->text() == text) return b;
  return nullptr;
}

// Records the lines the run adds, per list, since each was last emptied.
class LineRecorder : public RunObserver {
 public:
  QStringList lines[4];
  std::function<void(List, const std::string&)> onLine;
  void LineAdded(List list, const std::string& text) override {
    lines[int(list)] << QString::fromStdString(text);
    if (onLine) onLine(list, text);
  }
  void ListCleared(List list) override { lines[int(list)].clear(); }
  void LabelTextChanged(const std::string&) override {}
  void ProgressChanged(int, int) override {}
};

}  // namespace

class MainScreenWindowManagerTest : public QObject {
  Q_OBJECT

  X11Session x11_;
  WindowManager manager_;

  // Starts the window manager of the row; false (the test skipped or failed) when it cannot.
  bool startWindowManager(const QString& name) {
    const QString binary = WindowManager::find(name);
    if (binary.isEmpty()) {
      QTest::qSkip(qPrintable(name + " is not installed; install it (scripts/packages.txt)"),
                   __FILE__, __LINE__);
      return false;
    }
    const QString error = manager_.start(binary, x11_);
    if (!error.isEmpty()) {
      QTest::qFail(qPrintable(error), __FILE__, __LINE__);
      return false;
    }
    return true;
  }

  // Both close requests a window manager may pass on: its own (as from its close box, a pager
  // or a task bar) and WM_DELETE_WINDOW straight to the window.
  void requestClose(const MainScreenWindow& form) {
    x11_.askWindowManagerToClose(form.winId());
    x11_.sendDeleteWindow(form.winId());
  }

 private slots:
  void initTestCase() {
    QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
    QVERIFY2(x11_.ok(), "no X server");
    QVERIFY2(!x11_.windowManagerRunning(), "a window manager is already running");
  }
  void cleanup() { manager_.stop(); }

  // The hints as the window manager finds them once both windows are up, and what it made of
  // them: neither resize nor maximise on the main window, a close box on the message form. icewm
  // also keeps to the Motif functions (no close or minimise on the main window); openbox draws
  // its boxes whatever the hints say.
  void hintsAsTheWindowManagerReadsThem_data() {
    QTest::addColumn<QString>("wm");
    QTest::addColumn<bool>("honoursFunctions");
    QTest::newRow("openbox") << "openbox" << false;
    QTest::newRow("icewm") << "icewm" << true;
  }
  void hintsAsTheWindowManagerReadsThem() {
    QFETCH(QString, wm);
    QFETCH(bool, honoursFunctions);
    if (!startWindowManager(wm)) return;
    Station station;  // no ZelPos folder: the run ends at once with the error box
    MainScreenWindow& form = station.form;
    const Window main = form.winId();
    Window box = 0;
    bool bothUp = false;
    FormAnswerer answerer;
    struct Read {
      std::vector<unsigned long> motif, size, transient;
      std::vector<std::string> type, allowed, protocols;
    } mainRead, boxRead;
    const auto read = [&](Window w, Read& r) {
      r.motif = x11_.values(w, "_MOTIF_WM_HINTS");
      r.size = x11_.values(w, "WM_NORMAL_HINTS");
      r.transient = x11_.values(w, "WM_TRANSIENT_FOR");
      r.type = x11_.atomNames(w, "_NET_WM_WINDOW_TYPE");
      r.allowed = x11_.atomNames(w, "_NET_WM_ALLOWED_ACTIONS");
      r.protocols = x11_.atomNames(w, "WM_PROTOCOLS");
    };
    answerer.onForm = [&](QMessageBox* b) {
      box = b->winId();
      bothUp = x11_.waitFor([&] { return x11_.wmState(box) == 1 && x11_.wmState(main) == 1; });
      QTest::qWait(200);
      read(main, mainRead);
      read(box, boxRead);
      b->buttons().first()->click();
    };
    QSignalSpy finished(&form, &MainScreenWindow::RunFinished);
    form.show();
    QVERIFY(finished.wait(30000));
    QVERIFY(form.form.Summary.errorEnded);
    QCOMPARE(answerer.seen.size(), 1);
    QVERIFY2(bothUp, "the window manager did not map both windows");

    QCOMPARE(mainRead.motif, Motif(zp::MainWindowHints()));
    QVERIFY(mainRead.size.size() >= 9);
    QCOMPARE(mainRead.size[0] & (PMinSize | PMaxSize), (unsigned long)(PMinSize | PMaxSize));
    QCOMPARE(std::vector<unsigned long>(mainRead.size.begin() + 5, mainRead.size.begin() + 9),
             (std::vector<unsigned long>{802, 525, 802, 525}));
    // A close request reaches the program (which ignores it during the run) rather than the
    // window manager killing it.
    QVERIFY(Contains(mainRead.protocols, "WM_DELETE_WINDOW"));
    QVERIFY(!Contains(mainRead.allowed, "_NET_WM_ACTION_RESIZE"));
    QVERIFY(!Contains(mainRead.allowed, "_NET_WM_ACTION_MAXIMIZE_HORZ"));
    QVERIFY(!Contains(mainRead.allowed, "_NET_WM_ACTION_MAXIMIZE_VERT"));
    QVERIFY(Contains(mainRead.allowed, "_NET_WM_ACTION_MOVE"));
    if (honoursFunctions) {
      QVERIFY(!Contains(mainRead.allowed, "_NET_WM_ACTION_CLOSE"));
      QVERIFY(!Contains(mainRead.allowed, "_NET_WM_ACTION_MINIMIZE"));
    }

    QCOMPARE(boxRead.motif, Motif(zp::MessageFormHints(true)));
    QCOMPARE(boxRead.type, std::vector<std::string>{"_NET_WM_WINDOW_TYPE_DIALOG"});
    QCOMPARE(boxRead.transient, std::vector<unsigned long>{main});
    QVERIFY(Contains(boxRead.allowed, "_NET_WM_ACTION_CLOSE"));
  }

  // Close requests at Step 1 (queued while the run keeps the event loop busy), at a replacement
  // warning and at the closing question are all ignored; the run reaches the question. Once the
  // run is over: "No" closes the window; after "Yes" the window stays until the Close button or a
  // close request (which shows the requests do reach the program).
  void closeRequestsDuringTheRunAreIgnored_data() {
    QTest::addColumn<QString>("wm");
    QTest::addColumn<DialogResult>("answer");
    QTest::addColumn<QString>("afterRun");
    for (const char* wm : {"openbox", "icewm"}) {
      QTest::addRow("%s, yes, close request", wm) << wm << DialogResult::Yes << "close request";
      QTest::addRow("%s, yes, Close button", wm) << wm << DialogResult::Yes << "Close button";
      QTest::addRow("%s, no", wm) << wm << DialogResult::No << "";
    }
  }
  void closeRequestsDuringTheRunAreIgnored() {
    QFETCH(QString, wm);
    QFETCH(DialogResult, answer);
    QFETCH(QString, afterRun);
    if (!startWindowManager(wm)) return;
    Station station;
    const QString built = station.build({"db-header:TEMPDATA/PUMPSALE"});  // a warning mid-run
    QVERIFY2(built.isEmpty(), qPrintable(built));
    MainScreenWindow& form = station.form;

    LineRecorder recorder;
    int requestsAtStep1 = 0;
    recorder.onLine = [&](RunObserver::List list, const std::string&) {
      if (list == RunObserver::List::Lst1 && requestsAtStep1 == 0 && !form.form.StepOk) {
        requestClose(form);
        ++requestsAtStep1;
      }
    };
    form.form.SetObserver(&recorder);
    QStringList visibleAfterRequest;
    FormAnswerer answerer;
    answerer.onForm = [&](QMessageBox* box) {
      requestClose(form);
      QTest::qWait(400);  // the requests are served by this form's event loop
      visibleAfterRequest << (form.isVisible() ? "visible" : "closed");
      QAbstractButton* button = box->windowTitle() == "Confirm"
                                    ? Button(box, answer == DialogResult::Yes ? "&Yes" : "&No")
                                    : Button(box, "OK");
      QVERIFY(button);
      button->click();
    };
    QSignalSpy finished(&form, &MainScreenWindow::RunFinished);
    form.show();
    QVERIFY(finished.wait(120000));
    form.form.SetObserver(nullptr);

    QCOMPARE(requestsAtStep1, 1);
    QVERIFY(form.form.StepOk);
    QVERIFY(!form.form.Summary.errorEnded);
    QCOMPARE(answerer.seen.size(), 2);
    QVERIFY2(answerer.seen[0].startsWith("Information: Replace file : TEMPDATA PUMPSALE"),
             qPrintable(answerer.seen[0]));
    QCOMPARE(answerer.seen[1], QString("Confirm: ShutDown PC"));
    QCOMPARE(visibleAfterRequest, (QStringList{"visible", "visible"}));
    QCOMPARE(Lines(form.lst1), recorder.lines[1]);
    QVERIFY(Lines(form.lst2).contains("Testing PermData Files.......Done"));

    QTest::qWait(300);  // nothing left over closes the window now
    if (answer == DialogResult::No) {
      QVERIFY(!form.isVisible());
      QVERIFY(station.fake.powerOff.requests.empty());
      return;
    }
    QVERIFY(form.isVisible());
    QCOMPARE(station.fake.powerOff.requests, std::vector<unsigned>{12});
    if (afterRun == "Close button")
      form.btn1->click();
    else
      requestClose(form);
    QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 5000);
  }

  // The window is minimised in the middle of Step 2 and restored a few tables later, while the
  // run keeps the event loop busy: every line is still there, the run goes on to the closing
  // question, and by then the window shows its lines again. (icewm refuses the minimise, as the
  // hints ask; the run is the same.)
  void minimiseAndRestoreDuringTheRun_data() {
    QTest::addColumn<QString>("wm");
    QTest::addColumn<bool>("minimises");  // icewm keeps to the hints: no minimise at all
    QTest::newRow("openbox") << "openbox" << true;
    QTest::newRow("icewm") << "icewm" << false;
  }
  void minimiseAndRestoreDuringTheRun() {
    QFETCH(QString, wm);
    QFETCH(bool, minimises);
    if (!startWindowManager(wm)) return;
    Station station;
    const QString built = station.build({});
    QVERIFY2(built.isEmpty(), qPrintable(built));
    MainScreenWindow& form = station.form;
    const Window main = form.winId();

    LineRecorder recorder;
    int tableLines = 0;
    bool minimised = false, restored = false;
    recorder.onLine = [&](RunObserver::List list, const std::string& text) {
      if (list != RunObserver::List::Lst1 || text.rfind("Testing ", 0) != 0 || !form.form.StepOk)
        return;
      ++tableLines;
      if (tableLines == 4) {
        x11_.askWindowManagerToIconify(main);
        minimised = x11_.waitFor([&] { return x11_.wmState(main) == 3; });
      } else if (tableLines == 20) {
        x11_.askWindowManagerToActivate(main);
        restored = x11_.waitFor([&] { return x11_.wmState(main) == 1; });
      }
    };
    form.form.SetObserver(&recorder);
    QImage atQuestion;
    FormAnswerer answerer;
    answerer.onForm = [&](QMessageBox* box) {
      QTest::qWait(500);  // the window has been drawn again
      atQuestion = form.screen()->grabWindow(form.winId()).toImage();
      Button(box, "&No")->click();
    };
    QSignalSpy finished(&form, &MainScreenWindow::RunFinished);
    form.show();
    QVERIFY(finished.wait(120000));
    form.form.SetObserver(nullptr);

    QVERIFY2(minimised == minimises, minimises ? "the window manager did not minimise the window"
                                               : "the window manager minimised the window");
    QVERIFY2(restored, "the window manager did not restore the window");
    QVERIFY(tableLines > 20);
    QVERIFY(form.form.StepOk);
    QCOMPARE(answerer.seen, QStringList{"Confirm: ShutDown PC"});
    for (int list : {1, 2, 3}) {
      const QListWidget* widget = list == 1 ? form.lst1 : list == 2 ? form.lst2 : form.lst3;
      QStringList expected = recorder.lines[list];
      if (list == 3) expected.prepend("");  // its empty first line
      QCOMPARE(Lines(widget), expected);
    }
    QVERIFY(Lines(form.lst2).contains("Testing PermData Files.......Done"));
    QVERIFY(!atQuestion.isNull());
    QCOMPARE(atQuestion.size(), QSize(802, 525));
    QVERIFY2(CountInk(atQuestion, form.lst1->geometry().adjusted(2, 2, -2, -2)) > 200,
             "lst1 is not drawn again");
    QVERIFY2(CountInk(atQuestion, form.lst2->geometry().adjusted(2, 2, -2, -2)) > 50,
             "lst2 is not drawn again");
    QVERIFY(!form.isVisible());  // "No" closed it
  }
};

QTEST_MAIN(MainScreenWindowManagerTest)
#include "MainScreenWindowManagerTest.moc"
