// The main window: its layout, what the run does with it, and the run sequence on temporary
// Wine prefixes (empty ones and demo stations).
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>
#include <memory>
#include <sstream>

#include "platform/posix/FolderRunLock.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/TreeSnapshot.h"
#include "tests/support/DemoStations.h"
#include "ui/qt/CustomLabel1.h"
#include "ui/qt/MainScreenWindow.h"

using zel::platform::DialogKind;
using zel::platform::DialogResult;

namespace {

class RecordingObserver : public RunObserver {
 public:
  QStringList events;
  void LineAdded(List list, const std::string& text) override {
    events << QString("lst%1: %2").arg(int(list)).arg(QString::fromStdString(text));
  }
  void ListCleared(List list) override { events << QString("lst%1: <cleared>").arg(int(list)); }
  void LabelTextChanged(const std::string& text) override {
    events << "lbl1: " + QString::fromStdString(text);
  }
  void ProgressChanged(int position, int maximum) override {
    events << QString("pb1: %1/%2").arg(position).arg(maximum);
  }
};

QStringList Lines(const QListWidget* list) {
  QStringList lines;
  for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
  return lines;
}

QByteArray ReadLog(const zel::test::FakePlatform& fake) {
  QFile f(fake.driveC() + "/ZelPos/ZelUtil.Log");
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Shows the window and waits for its run to end.
bool RunToEnd(MainScreenWindow& form) {
  QSignalSpy finished(&form, &MainScreenWindow::RunFinished);
  form.show();
  return finished.wait(120000);
}

}  // namespace

class MainScreenTest : public QObject {
  Q_OBJECT

  std::unique_ptr<zel::test::FakePlatform> fake_;
  std::unique_ptr<MainScreenWindow> form_;

 private slots:
  void init() {
    fake_ = std::make_unique<zel::test::FakePlatform>();
    form_ = std::make_unique<MainScreenWindow>(fake_->platform);
  }
  void cleanup() {
    form_.reset();
    fake_.reset();
  }

  // --- Layout

  void window() {
    QCOMPARE(form_->windowTitle(), QString("ZelUtil 2009-05-25"));
    QCOMPARE(form_->size(), QSize(802, 525));
    QCOMPARE(form_->minimumSize(), QSize(802, 525));
    QCOMPARE(form_->maximumSize(), QSize(802, 525));
    const Qt::WindowFlags flags = form_->windowFlags();
    QVERIFY(flags.testFlag(Qt::Dialog));
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    for (Qt::WindowType absent : {Qt::WindowSystemMenuHint, Qt::WindowMinimizeButtonHint,
                                  Qt::WindowMaximizeButtonHint, Qt::WindowCloseButtonHint})
      QVERIFY(!flags.testFlag(absent));
    QCOMPARE(form_->pnl1->geometry(), QRect(0, 0, 802, 525));  // covers the client area
  }

  void components_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("pb1") << "pb1" << QRect(8, 8, 777, 29);
    QTest::newRow("lst1") << "lst1" << QRect(9, 39, 362, 436);
    QTest::newRow("lst2") << "lst2" << QRect(373, 39, 412, 276);
    QTest::newRow("lst3") << "lst3" << QRect(373, 318, 412, 157);
    QTest::newRow("btn1") << "btn1" << QRect(694, 477, 96, 36);
  }
  void components() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    auto* widget = form_->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget(), form_->pnl1);
    QCOMPARE(widget->geometry(), geometry);
  }

  void labelGeometryFollowsItsText() {
    QCOMPARE(form_->lbl1->parentWidget(), form_->pnl1);
    QCOMPARE(form_->lbl1->pos(), QPoint(11, 480));
    QCOMPARE(form_->lbl1->height(), 24);
    form_->form.SetLabelText("File check complete....Please ShutDown this PC !!!!");
    QCOMPARE(form_->lbl1->pos(), QPoint(11, 480));
    QCOMPARE(form_->lbl1->height(), 24);
    QCOMPARE(form_->lbl1->width(), form_->lbl1->sizeHint().width());
  }

  void colours() {
    QCOMPARE(form_->palette().color(QPalette::Window), QColor(128, 128, 128));
    QCOMPARE(form_->pnl1->palette().color(QPalette::Window), QColor(128, 0, 0));
    QVERIFY(form_->pnl1->autoFillBackground());
    QCOMPARE(form_->lbl1->palette().color(QPalette::Window), QColor(0, 255, 0));
    QVERIFY(form_->lbl1->autoFillBackground());  // opaque
    const QImage panel = form_->pnl1->grab().toImage();
    QCOMPARE(QColor(panel.pixel(400, 520 - 40)), QColor(128, 0, 0));  // between the lists
  }

  // The sizes stand whatever font is found: each font fits the line height it is drawn on.
  void fonts_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("pixels");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<int>("lineHeight");
    QTest::newRow("form") << "" << 11 << false << 13;
    QTest::newRow("lst1") << "lst1" << 11 << false << 13;
    QTest::newRow("lst2") << "lst2" << 13 << false << 16;
    QTest::newRow("lst3") << "lst3" << 13 << false << 16;
    QTest::newRow("lbl1") << "lbl1" << 19 << true << 24;
  }
  void fonts() {
    QFETCH(QString, name);
    QFETCH(int, pixels);
    QFETCH(bool, bold);
    QFETCH(int, lineHeight);
    QWidget* widget = name.isEmpty() ? form_.get() : form_->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->font().pixelSize(), pixels);
    const QFontInfo info(widget->font());
    QCOMPARE(info.bold(), bold);
    QVERIFY2(QStringList({"MS Sans Serif", "Tahoma", "Liberation Sans", "DejaVu Sans"})
                 .contains(info.family()),
             qPrintable(info.family()));
    // Every character drawn as itself: no ligature turns a table name's "TM" into a sign.
    const QFontMetrics metrics(widget->font());
    int sum = 0;
    for (const QChar c : QString("DEBTMAST")) sum += metrics.horizontalAdvance(c);
    QVERIFY2(
        std::abs(metrics.horizontalAdvance("DEBTMAST") - sum) <= 2,  // rounding only
        qPrintable(QString("%1 against %2").arg(metrics.horizontalAdvance("DEBTMAST")).arg(sum)));
    const int height = metrics.height();
    QVERIFY2(height <= lineHeight && height >= lineHeight - 5,
             qPrintable(QString("%1: %2 px").arg(info.family()).arg(height)));
  }

  void lists() {
    QCOMPARE(form_->lst1->count(), 0);
    QCOMPARE(form_->lst2->count(), 0);
    QCOMPARE(Lines(form_->lst3), QStringList{""});
    QCOMPARE(form_->lst1->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(form_->lst2->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(form_->lst3->selectionMode(), QAbstractItemView::SingleSelection);
    form_->form.AddLine(FormList::Lst1, "Closing ZelPos Program.......");
    form_->form.AddLine(FormList::Lst2, "Step 1");
    QCOMPARE(form_->lst1->sizeHintForRow(0), 13);
    QCOMPARE(form_->lst2->sizeHintForRow(0), 16);
    QCOMPARE(form_->lst3->sizeHintForRow(0), 16);
  }

  void otherControlsAtStart() {
    QCOMPARE(form_->pb1->minimum(), 0);
    QCOMPARE(form_->pb1->maximum(), 100);
    QCOMPARE(form_->pb1->value(), 0);
    QVERIFY(!form_->pb1->isTextVisible());
    QCOMPARE(form_->lbl1->text(), QString());
    QVERIFY(!form_->lbl1->FlashEnabled());
    QCOMPARE(form_->lbl1->FlashRate(), 1000);
    QVERIFY(!form_->lbl1->FlashTimer->isActive());
    QCOMPARE(form_->btn1->text(), QString("&Close"));
    QVERIFY(!form_->btn1->icon().isNull());
    form_->lbl1->Click();  // beeps through the platform's system services
    QCOMPARE(fake_->system.beeps, 1);
    QVERIFY(!form_->form.RunStarted());
    QVERIFY(!form_->form.StepOk);
    QVERIFY(!form_->form.TablesOk);
  }

  void tabOrder() {
    const QList<QWidget*> named{form_->btn1, form_->lst1, form_->lst2, form_->lst3, form_->pb1};
    QList<QWidget*> chain;
    QWidget* w = form_->btn1;
    do {
      if (named.contains(w)) chain << w;
      w = w->nextInFocusChain();
    } while (w != form_->btn1);
    QCOMPARE(chain, named);
    QCOMPARE(form_->pb1->focusPolicy(), Qt::NoFocus);
  }

  void closeButtonClosesTheWindow() {
    int closes = 0;
    struct Counter : QObject {
      int& n;
      explicit Counter(int& count) : n(count) {}
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Close) ++n;
        return false;
      }
    } counter(closes);
    form_->installEventFilter(&counter);
    form_->btn1->click();
    QCOMPARE(closes, 1);
    form_->removeEventFilter(&counter);
  }

  // --- What the run does with the window

  void changesReachTheObserver() {
    RecordingObserver observer;
    form_->form.SetObserver(&observer);
    form_->form.AddLine(FormList::Lst1, "a");
    form_->form.AddLine(FormList::Lst3, "DISPLAY,DISPDATA");
    form_->form.ClearList(FormList::Lst1);
    form_->form.SetLabelText("Please wait");
    form_->form.SetLabelText("Please wait");  // unchanged: nothing to report
    form_->form.SetProgressMaximum(3);
    form_->form.SetProgressPosition(1);
    form_->form.StepProgress();
    form_->form.StepProgress();
    form_->form.StepProgress();         // full already: stays full, nothing to report
    form_->form.SetProgressMaximum(2);  // the position follows the smaller range
    form_->form.SetProgressPosition(-4);
    QCOMPARE(observer.events, (QStringList{"lst1: a", "lst3: DISPLAY,DISPDATA", "lst1: <cleared>",
                                           "lbl1: Please wait", "pb1: 0/3", "pb1: 1/3", "pb1: 2/3",
                                           "pb1: 3/3", "pb1: 2/2", "pb1: 0/2"}));
    QCOMPARE(form_->pb1->value(), 0);
    QCOMPARE(Lines(form_->lst3), (QStringList{"", "DISPLAY,DISPDATA"}));
    form_->form.SetObserver(nullptr);
  }

  void lastLineCurrent() {
    for (int i = 0; i < 100; ++i) form_->form.AddLine(FormList::Lst1, "line " + std::to_string(i));
    form_->form.AddLine(FormList::Lst2, "Step 2");
    form_->form.AddLine(FormList::Lst2, "Testing Dispdata Files.......");
    form_->form.MakeLastLineCurrent(FormList::Lst1);
    form_->form.MakeLastLineCurrent(FormList::Lst2);
    QCOMPARE(form_->lst1->currentRow(), 99);
    QVERIFY(form_->lst1->selectedItems().isEmpty());  // the focus line only
    QCOMPARE(form_->lst2->currentRow(), 1);
    QCOMPARE(form_->lst2->selectedItems().value(0), form_->lst2->item(1));
    form_->form.MakeLastLineCurrent(FormList::Lst1);  // idempotent
    QCOMPARE(form_->lst1->currentRow(), 99);
  }

  // --- The run

  // Without the log's folder nothing happens but the error box, once.
  void missingLogFolderEndsTheRunAtOnce() {
    QVERIFY(QDir().mkpath(fake_->driveC()));
    QFile net(fake_->driveC() + "/PDOXUSRS.NET");  // a stale lock file that must stay
    QVERIFY(net.open(QIODevice::WriteOnly));
    net.close();
    bool reactivated = false;
    fake_->dialogs.onErrorBox = [this, &reactivated](const std::string&) {
      // The window is activated again when the box closes; that must not start another run.
      QEvent activate(QEvent::WindowActivate);
      QApplication::sendEvent(form_.get(), &activate);
      QCoreApplication::processEvents();
      reactivated = true;
    };
    QVERIFY(RunToEnd(*form_));
    QVERIFY(reactivated);
    QTest::qWait(400);  // let any late activation or fallback arrive
    QCOMPARE(fake_->dialogs.errorBoxes, std::vector<std::string>{"Invalid filename."});
    QVERIFY(fake_->dialogs.shown.empty());
    QVERIFY(form_->form.Summary.errorEnded);
    QVERIFY(form_->form.RunStarted());
    QVERIFY(form_->isVisible());  // idle until Close
    QVERIFY(fake_->files.deleted.empty());
    QVERIFY(fake_->posWindow.searchedTitles.empty());
    QVERIFY(fake_->powerOff.requests.empty());
    QCOMPARE(form_->lst1->count(), 0);
    QCOMPARE(form_->lst2->count(), 0);
    QCOMPARE(Lines(form_->lst3), QStringList{""});
    QCOMPARE(form_->lbl1->text(), QString());
    QVERIFY(!QDir(fake_->driveC() + "/ZelPos").exists());
    QVERIFY(QFile::exists(fake_->driveC() + "/PDOXUSRS.NET"));
  }

  void stepOneFailureStopsBeforeStepTwo() {
    QVERIFY(QDir().mkpath(fake_->driveC() + "/ZelPos"));  // a log folder, but no tables at all
    QVERIFY(RunToEnd(*form_));
    QVERIFY(!form_->form.StepOk);
    QVERIFY(!form_->form.Summary.errorEnded);
    QVERIFY(ReadLog(*fake_).endsWith("  ZEL Util Start.\r\n"));
    QCOMPARE(ReadLog(*fake_).count('\n'), 1);
    const QStringList lst2 = Lines(form_->lst2);
    QCOMPARE(lst2.value(0), QString("Step 1"));
    QCOMPARE(lst2.last(), QString("Reset database control files......."));
    QVERIFY(!lst2.contains("Step 2"));
    QCOMPARE(form_->lbl1->text(), QString("Please wait while Deleting *.Net and *.LCK files...."));
    QVERIFY(!form_->lbl1->FlashEnabled());
    for (const auto& dialog : fake_->dialogs.shown) QVERIFY(dialog.text != "ShutDown PC");
    QVERIFY(form_->isVisible());
  }

  void closingQuestion_data() {
    QTest::addColumn<DialogResult>("answer");
    QTest::addColumn<bool>("windowStays");
    QTest::newRow("yes") << DialogResult::Yes << true;
    QTest::newRow("no") << DialogResult::No << false;
    QTest::newRow("closed") << DialogResult::Closed << false;
  }
  void closingQuestion() {
    QFETCH(DialogResult, answer);
    QFETCH(bool, windowStays);
    const QString error = zel::test::BuildDemoStation(fake_->prefix.path());
    QVERIFY2(error.isEmpty(), qPrintable(error));

    RecordingObserver observer;
    form_->form.SetObserver(&observer);
    bool flashingWhileAsked = false;
    QString labelWhileAsked;
    fake_->dialogs.onShow = [&](const zel::test::RecordedDialog& dialog) {
      if (dialog.text != "ShutDown PC") return;
      flashingWhileAsked = form_->lbl1->FlashEnabled() && form_->lbl1->FlashTimer->isActive();
      labelWhileAsked = form_->lbl1->text();
      fake_->dialogs.answers.push_back(answer);
    };
    QVERIFY(RunToEnd(*form_));
    QVERIFY(form_->form.StepOk);
    QVERIFY(!form_->form.Summary.errorEnded);
    QCOMPARE(fake_->dialogs.shown.back().text, std::string("ShutDown PC"));
    QCOMPARE(fake_->dialogs.shown.back().kind, DialogKind::Confirmation);
    QVERIFY(flashingWhileAsked);
    QCOMPARE(labelWhileAsked, QString("File check complete....Please ShutDown this PC !!!!"));
    QCOMPARE(Lines(form_->lst3), QStringList{""});  // a healthy station: nothing failed
    QCOMPARE(form_->isVisible(), windowStays);
    QCOMPARE(fake_->powerOff.requests,
             windowStays ? std::vector<unsigned>{12} : std::vector<unsigned>{});
    // The order of the label's texts over the run.
    QStringList labels;
    for (const QString& e : observer.events)
      if (e.startsWith("lbl1: ")) labels << e.mid(6);
    QCOMPARE(labels.first(), QString("Please wait while Deleting *.Net and *.LCK files...."));
    QCOMPARE(labels.value(1), QString("Please wait while checking Display Folder files...."));
    QCOMPARE(labels.last(), QString("File check complete....Please ShutDown this PC !!!!"));
    QCOMPARE(observer.events.value(0), QString("lbl1: ") + labels.first());
    form_->form.SetObserver(nullptr);
  }

  // --- One run at a time

  // Another process holds the run lock on C:\ZelPos (a run in progress): the window shows the
  // error box and nothing else happens, not even the log's start line. Once that process is
  // gone, killed or not, the next window runs.
  void anotherRunInProgress() {
    const QString zelPos = fake_->driveC() + "/ZelPos";
    QVERIFY(QDir().mkpath(zelPos + "/TEMPDATA"));
    for (const QString& stale : {fake_->driveC() + "/PDOXUSRS.NET", zelPos + "/ZelUtil.Log",
                                 zelPos + "/TEMPDATA/PARADOX.LCK"}) {
      QFile f(stale);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("there before");
    }
    zel::platform::FolderRunLock runLock("C:\\ZelPos");
    zel::platform::Platform platform{fake_->files,     fake_->platform.ini, fake_->dialogs,
                                     fake_->posWindow, fake_->powerOff,     fake_->system,
                                     runLock};
    zel::test::LockingChild otherRun(zelPos.toStdString(), zel::test::LockingChild::Kind::Flock);
    QVERIFY(otherRun.Locked());
    const auto before = zel::test::SnapshotTree(fake_->prefix.path());
    {
      MainScreenWindow form(platform);
      RecordingObserver observer;
      form.form.SetObserver(&observer);
      QVERIFY(RunToEnd(form));
      QCOMPARE(fake_->dialogs.errorBoxes, std::vector<std::string>{"ZelUtil is already running."});
      QVERIFY(fake_->dialogs.shown.empty());
      QVERIFY(form.form.Summary.errorEnded);
      QVERIFY(!form.form.StepOk);
      QVERIFY(form.isVisible());  // idle until Close, as after any error that ends the run
      QCOMPARE(observer.events, QStringList());
      QCOMPARE(Lines(form.lst3), QStringList{""});
      QVERIFY(fake_->files.deleted.empty());
      QVERIFY(fake_->posWindow.searchedTitles.empty());
      QVERIFY(fake_->powerOff.requests.empty());
      const auto after = zel::test::SnapshotTree(fake_->prefix.path());
      QVERIFY2(after == before, qPrintable(zel::test::TreeDifference(before, after)));
      form.form.SetObserver(nullptr);
    }

    otherRun.Kill();
    fake_->dialogs.errorBoxes.clear();
    MainScreenWindow next(platform);
    QVERIFY(RunToEnd(next));
    QVERIFY(fake_->dialogs.errorBoxes.empty());
    QVERIFY(ReadLog(*fake_).endsWith("  ZEL Util Start.\r\n"));
    QVERIFY(!fake_->files.deleted.empty());  // Step 1 ran
    // This run now holds the lock for as long as the program lives.
    zel::test::LockingChild third(zelPos.toStdString(), zel::test::LockingChild::Kind::Flock);
    QVERIFY(!third.Locked());
  }

  // The lock is asked for first: a run that is refused reads and writes nothing, and a window
  // whose run is refused never asks again.
  void runLockTakenOnceBeforeAnything() {
    QVERIFY(QDir().mkpath(fake_->driveC() + "/ZelPos"));
    fake_->runLock.heldByOtherRun = true;
    fake_->files.failWhen = [](zel::test::HookedFiles::Op, const std::string&) {
      QTest::qFail("a refused run used a file", __FILE__, __LINE__);
      return true;
    };
    QVERIFY(RunToEnd(*form_));
    QTest::qWait(400);
    fake_->files.failWhen = nullptr;
    QCOMPARE(fake_->runLock.takes, 1);
    QCOMPARE(fake_->dialogs.errorBoxes, std::vector<std::string>{"ZelUtil is already running."});
    QVERIFY(ReadLog(*fake_).isEmpty());
  }
};

QTEST_MAIN(MainScreenTest)
#include "MainScreenTest.moc"
