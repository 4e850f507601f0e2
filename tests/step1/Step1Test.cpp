// Step 1 driven through TForm1 on a temporary station: fake dialogs, pauses, POS window and
// power-off; real files, a real control table and a real engine.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>
#include <memory>

#include "engine/Session.h"
#include "engine/TableWriter.h"
#include "platform/DriveMapping.h"
#include "run/MainScreen.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/RecordingView.h"
#include "tests/support/StderrCapture.h"

using zel::test::Lines;

using zel::platform::DialogButtons;
using zel::platform::DialogKind;
using zel::platform::DialogResult;
using Op = zel::test::HookedFiles::Op;

namespace {

const QString kWarning =
    "Please ShutDown POS and BACKOFFICE Pc,\n\rthen Click on the OK Buttun to shitdown this PC";
const QString kStage = "Reset database control files.......";
const QStringList kFolders{"DISPDATA", "PERMDATA", "CONFIGDATA", "TEMPDATA", "HISTORY"};
const QStringList kLockFiles{"ZELPOS/DISPDATA/PARADOX.LCK",
                             "ZELPOS/DISPDATA/PDOXUSRS.LCK",
                             "ZELPOS/PERMDATA/PARADOX.LCK",
                             "ZELPOS/PERMDATA/PDOXUSRS.LCK",
                             "ZELPOS/CONFIGDATA/PARADOX.LCK",
                             "ZELPOS/CONFIGDATA/PDOXUSRS.LCK",
                             "ZELPOS/TEMPDATA/PARADOX.LCK",
                             "ZELPOS/TEMPDATA/PDOXUSRS.LCK",
                             "ZELPOS/HISTORY/PARADOX.LCK",
                             "ZELPOS/HISTORY/PDOXUSRS.LCK",
                             "PDOXUSRS.NET"};

const QStringList kClosedLines{"Closing ZelPos Program.......",
                               "Closing ZelPos Program.......Done"};
const QStringList kNetDone{"Deleting PDOXUSRS.NET File.........",
                           "Deleting PDOXUSRS.NET File.........Done"};
const QStringList kControlDone{"Testing DB Control File.........",
                               "Testing DB Control File.........Done"};
const QStringList kControlFailed{"Testing DB Control File.........",
                                 "Testing DB Control File.........Failded"};

QStringList FolderDone(const QString& f) {
  return {"Deleting c:\\ZELPOS\\" + f + "\\PARADOX.LCK .........",
          "Deleting C:\\ZELPOS\\" + f + "\\PARADOX.LCK .........Done",
          "Deleting C:\\ZELPOS\\" + f + "\\PDOXUSRS.LCK .........",
          "Deleting C:\\ZELPOS\\" + f + " \\PDOXUSRS.LCK .........Done"};
}

// The net file and all five folders deleted, in Step 1's folder order.
QStringList AllDeleted() {
  QStringList lines = kNetDone;
  for (const QString& folder : kFolders) lines += FolderDone(folder);
  return lines;
}

// A station under a temporary Wine prefix with the five data folders, and the window on it.
struct Station {
  zel::test::FakePlatform fake;
  zel::test::RecordingView view;
  std::unique_ptr<TForm1> form;

  Station() {
    for (const QString& folder : kFolders) QDir().mkpath(Host("ZELPOS/" + folder));
    form = std::make_unique<TForm1>(fake.platform, view);
  }
  ~Station() {
    form.reset();
    zel::engine::Session::Default().Close();
  }

  QString Host(const QString& relative) const { return fake.driveC() + "/" + relative; }
  bool Exists(const QString& relative) const { return QFile::exists(Host(relative)); }
  void Touch(const QString& relative) {
    QFile file(Host(relative));
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(Host(relative)));
    file.write("stale");
  }
  // A small healthy keyed table, under the control table's name.
  void InstallControlTable() {
    using zel::engine::FieldType;
    zel::engine::TableDef def;
    def.keyFieldCount = 1;
    def.fields = {{"DispNum", FieldType::Short, 0}, {"Status", FieldType::Alpha, 1}};
    std::vector<zel::engine::Record> records;
    for (std::int64_t n = 1; n <= 8; ++n) records.push_back({n, std::string(n % 2 ? "A" : "B")});
    zel::engine::CreateTable(Host("ZELPOS/DISPDATA/DUMMYDISP.DB").toStdString(), def, records);
    QVERIFY(QFile::exists(Host("ZELPOS/DISPDATA/DUMMYDISP.PX")));
  }
  // Makes deleting one file (host path relative to drive C:) fail, as a locked file does.
  void MakeUndeletable(const QString& relative) {
    const std::filesystem::path target = Host(relative).toStdString();
    fake.files.failWhen = [target](Op op, const std::string& path) {
      return op == Op::Delete && zel::platform::MapWindowsPath(path) == target;
    };
  }
  QStringList Deleted() const {
    QStringList paths;
    for (const auto& path : fake.files.deleted) paths << QString::fromStdString(path);
    return paths;
  }
};

}  // namespace

class Step1Test : public QObject {
  Q_OBJECT

 private slots:
  // Step 1 that succeeds, whatever became of the POS window.
  void posWindow_data() {
    QTest::addColumn<QList<qulonglong>>("looks");  // 0: no window at that look
    QTest::addColumn<QStringList>("closeLines");
    QTest::addColumn<QList<qulonglong>>("closeRequests");
    QTest::newRow("no POS window") << QList<qulonglong>{0} << kClosedLines << QList<qulonglong>{};
    QTest::newRow("gone at the second look")
        << QList<qulonglong>{42, 0} << QStringList{"Closing ZelPos Program......."}
        << QList<qulonglong>{42};
    QTest::newRow("still there at the second look")
        << QList<qulonglong>{42, 42}
        << QStringList{"Closing ZelPos Program.......", "Closing ZelPos Program.......Failed"}
        << QList<qulonglong>{42};
  }
  void posWindow() {
    QFETCH(QList<qulonglong>, looks);
    QFETCH(QStringList, closeLines);
    QFETCH(QList<qulonglong>, closeRequests);
    Station station;
    station.InstallControlTable();
    for (qulonglong look : looks) {
      if (look == 0)
        station.fake.posWindow.looks.push_back(std::nullopt);
      else
        station.fake.posWindow.looks.push_back(look);
    }
    station.view.lst1.addItem("left over from before");

    station.form->ResetControlFiles();

    QCOMPARE(Lines(station.view.lst1), closeLines + AllDeleted() + kControlDone);
    QCOMPARE(Lines(station.view.lst2), (QStringList{"Step 1", kStage, kStage + "Done"}));
    QVERIFY(station.form->StepOk);
    QCOMPARE(station.fake.system.sleeps, (std::vector<int>{1000, 1000}));
    QCOMPARE(station.fake.posWindow.searchedTitles,
             std::vector<std::string>(looks.size(), "ZelPos"));
    QCOMPARE(QList<qulonglong>(station.fake.posWindow.closeRequests.begin(),
                               station.fake.posWindow.closeRequests.end()),
             closeRequests);
    QVERIFY(station.fake.dialogs.shown.empty());
    QVERIFY(station.fake.powerOff.requests.empty());
    QCOMPARE(station.view.lst1.currentRow(), station.view.lst1.count() - 1);
    QVERIFY(!zel::engine::Session::Default().IsOpen());
    QVERIFY(!station.Exists("ZELPOS/ZelUtil.Log"));
  }

  // Present or absent, every lock file ends up deleted and each gets its done line.
  void lockFiles_data() {
    QTest::addColumn<QStringList>("present");
    QTest::newRow("none present") << QStringList{};
    QTest::newRow("all present") << kLockFiles;
    QTest::newRow("some present") << QStringList{"PDOXUSRS.NET", "ZELPOS/DISPDATA/PARADOX.LCK",
                                                 "ZELPOS/HISTORY/PDOXUSRS.LCK"};
    QTest::newRow("names in other case on disk") << QStringList{
        "pdoxusrs.net", "ZELPOS/CONFIGDATA/paradox.lck", "ZELPOS/TEMPDATA/Pdoxusrs.Lck"};
  }
  void lockFiles() {
    QFETCH(QStringList, present);
    Station station;
    station.InstallControlTable();
    for (const QString& file : present) station.Touch(file);

    station.form->ResetControlFiles();

    QCOMPARE(Lines(station.view.lst1), kClosedLines + AllDeleted() + kControlDone);
    QVERIFY(station.form->StepOk);
    for (const QString& file : present) QVERIFY2(!station.Exists(file), qPrintable(file));
    QVERIFY(station.fake.dialogs.shown.empty());
  }

  // A file that stays: its failed line, one warning, the power-off, nothing touched afterwards.
  void undeletableFile_data() {
    QTest::addColumn<QString>("undeletable");
    QTest::addColumn<QString>("heldBy");  // "lock" or "open" by another process; else the
                                          // delete is made to fail
    QTest::addColumn<QStringList>("fileLines");
    QTest::addColumn<QStringList>("untouched");

    QTest::newRow("network control file")
        << "PDOXUSRS.NET"
        << ""
        << QStringList{"Deleting PDOXUSRS.NET File.........",
                       "Deleting PDOXUSRS.NET File.........Failed"}
        << kLockFiles.mid(0, 10);
    // A POS that ignored the close request still has the file open, without a lock.
    QTest::newRow("network control file open in a running POS")
        << "PDOXUSRS.NET"
        << "open"
        << QStringList{"Deleting PDOXUSRS.NET File.........",
                       "Deleting PDOXUSRS.NET File.........Failed"}
        << kLockFiles.mid(0, 10);
    QTest::newRow("PARADOX.LCK of DISPDATA")
        << "ZELPOS/DISPDATA/PARADOX.LCK"
        << ""
        << kNetDone + QStringList{"Deleting c:\\ZELPOS\\DISPDATA\\PARADOX.LCK .........",
                                  "Deleting C:\\ZELPOS\\DISPDATA \\PARADOX.LCK .........Failed"}
        << kLockFiles.mid(1, 9);
    const QStringList configLines =
        kNetDone + FolderDone("DISPDATA") + FolderDone("PERMDATA") +
        QStringList{"Deleting c:\\ZELPOS\\CONFIGDATA\\PARADOX.LCK .........",
                    "Deleting C:\\ZELPOS\\CONFIGDATA\\PARADOX.LCK .........Done",
                    "Deleting C:\\ZELPOS\\CONFIGDATA\\PDOXUSRS.LCK .........",
                    "Deleting C:\\ZELPOS\\CONFIGDATAPDOXUSRS.LCK .........Failed"};
    QTest::newRow("PDOXUSRS.LCK of CONFIGDATA") << "ZELPOS/CONFIGDATA/PDOXUSRS.LCK"
                                                << "" << configLines << kLockFiles.mid(6, 4);
    QTest::newRow("PDOXUSRS.LCK of CONFIGDATA held by a running POS")
        << "ZELPOS/CONFIGDATA/PDOXUSRS.LCK"
        << "lock" << configLines << kLockFiles.mid(6, 4);
  }
  void undeletableFile() {
    QFETCH(QString, undeletable);
    QFETCH(QString, heldBy);
    const bool heldByProcess = !heldBy.isEmpty();
    QFETCH(QStringList, fileLines);
    QFETCH(QStringList, untouched);
    Station station;
    station.InstallControlTable();
    for (const QString& file : kLockFiles) station.Touch(file);

    QProcess holder;
    if (heldByProcess) {
      holder.start(QStringLiteral(ZEL_HOLD_LOCK),
                   heldBy == "open" ? QStringList{"--open", station.Host(undeletable)}
                                    : QStringList{station.Host(undeletable)});
      QVERIFY(holder.waitForReadyRead(5000));
      QCOMPARE(holder.readLine(), heldBy == "open" ? QByteArray("open\n") : "locked\n");
    } else {
      station.MakeUndeletable(undeletable);
    }
    bool dialogSeenLine = false;
    station.fake.dialogs.onShow = [&](const zel::test::RecordedDialog&) {
      // The failed line is on screen before the warning.
      dialogSeenLine = Lines(station.view.lst1).endsWith(fileLines.last());
    };

    station.form->ResetControlFiles();

    QCOMPARE(Lines(station.view.lst1), kClosedLines + fileLines);
    QCOMPARE(Lines(station.view.lst2), (QStringList{"Step 1", kStage}));
    QVERIFY(!station.form->StepOk);
    QCOMPARE(station.fake.dialogs.shown.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(station.fake.dialogs.shown[0].text), kWarning);
    QCOMPARE(station.fake.dialogs.shown[0].kind, DialogKind::Warning);
    QCOMPARE(station.fake.dialogs.shown[0].buttons, DialogButtons::Ok);
    QVERIFY(dialogSeenLine);
    QCOMPARE(station.fake.powerOff.requests, std::vector<unsigned>{12});
    QCOMPARE(station.fake.powerOff.rightRequests, 1);
    QVERIFY(station.Exists(undeletable));
    for (const QString& file : untouched) QVERIFY2(station.Exists(file), qPrintable(file));
    QCOMPARE(station.fake.system.sleeps, (std::vector<int>{1000, 1000}));
    QVERIFY(!zel::engine::Session::Default().IsOpen());
    QVERIFY(!station.Exists("ZELPOS/ZelUtil.Log"));  // Step 1 writes nothing to the log

    if (heldByProcess) {
      holder.closeWriteChannel();
      QVERIFY(holder.waitForFinished(5000));
    }
  }

  // The engine cannot open the control table: "Failded", the session closed, one warning.
  void controlTableUnusable_data() {
    QTest::addColumn<QString>("damage");
    QTest::newRow("missing") << "missing";
    QTest::newRow("header overwritten") << "header";
    QTest::newRow("truncated") << "truncated";
    QTest::newRow("primary index missing") << "no index";
  }
  void controlTableUnusable() {
    QFETCH(QString, damage);
    Station station;
    station.InstallControlTable();
    const QString db = station.Host("ZELPOS/DISPDATA/DUMMYDISP.DB");
    if (damage == "missing") {
      QVERIFY(QFile::remove(db));
      QVERIFY(QFile::remove(station.Host("ZELPOS/DISPDATA/DUMMYDISP.PX")));
    } else if (damage == "header") {
      QFile file(db);
      QVERIFY(file.open(QIODevice::ReadWrite));
      file.write(QByteArray(64, '\xff'));
    } else if (damage == "truncated") {
      QVERIFY(QFile::resize(db, 1500));
    } else {
      QVERIFY(QFile::remove(station.Host("ZELPOS/DISPDATA/DUMMYDISP.PX")));
    }
    station.fake.powerOff.accept = false;  // a refused power-off changes nothing here
    // The list line stays terse; the reason goes to the console for the technician.
    const QString told = QString::fromUtf8(
        zel::test::CaptureStderr([&station] { station.form->ResetControlFiles(); }));
    QVERIFY2(told.contains(
                 QRegularExpression("^zelutil: Control table DISPDATA DUMMYDISP\\.db failed: .+",
                                    QRegularExpression::MultilineOption)),
             qPrintable(told));

    QCOMPARE(Lines(station.view.lst1), kClosedLines + AllDeleted() + kControlFailed);
    QCOMPARE(Lines(station.view.lst2), (QStringList{"Step 1", kStage}));
    QVERIFY(!station.form->StepOk);
    QVERIFY(!station.form->tbl1.Active());
    QVERIFY(!zel::engine::Session::Default().IsOpen());
    QCOMPARE(station.fake.dialogs.shown.size(), std::size_t{1});
    QCOMPARE(station.fake.powerOff.requests, std::vector<unsigned>{12});
    QCOMPARE(station.view.lst1.currentRow(), station.view.lst1.count() - 1);
  }

  void askShutDownAll_data() {
    QTest::addColumn<DialogResult>("answer");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("OK, accepted") << DialogResult::Ok << true;
    QTest::newRow("closed otherwise, accepted") << DialogResult::Closed << true;
    QTest::newRow("OK, refused") << DialogResult::Ok << false;
  }
  void askShutDownAll() {
    QFETCH(DialogResult, answer);
    QFETCH(bool, accepted);
    Station station;
    station.fake.dialogs.answers.push_back(answer);
    station.fake.powerOff.accept = accepted;

    station.form->AskShutDownAll();

    QCOMPARE(station.fake.dialogs.shown.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(station.fake.dialogs.shown[0].text), kWarning);
    QCOMPARE(station.fake.dialogs.shown[0].kind, DialogKind::Warning);
    QCOMPARE(station.fake.dialogs.shown[0].buttons, DialogButtons::Ok);
    QCOMPARE(station.fake.powerOff.requests, std::vector<unsigned>{12});
    QCOMPARE(station.view.lst1.count(), 0);
    QCOMPARE(station.view.lst2.count(), 0);
  }

  // The right is asked for first, then the request goes out with the flags as given.
  void shutDownPc_data() {
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("forced power-off") << 12u << true;
    QTest::newRow("reboot") << 2u << true;
    QTest::newRow("any other value") << 0x80000005u << true;
    QTest::newRow("refused") << 12u << false;
  }
  void shutDownPc() {
    QFETCH(unsigned, flags);
    QFETCH(bool, accepted);
    struct OrderedPowerOff : zel::platform::PowerOff {
      QStringList calls;
      bool accept = true;
      void AcquireShutdownRight() override { calls << "right"; }
      bool RequestShutdown(unsigned f) override {
        calls << "request " + QString::number(f);
        return accept;
      }
    } powerOff;
    powerOff.accept = accepted;
    zel::test::FakePlatform fake;
    zel::platform::Platform platform{fake.files,     fake.platform.ini, fake.dialogs,
                                     fake.posWindow, powerOff,          fake.system};
    zel::test::RecordingView view;
    TForm1 form(platform, view);

    QCOMPARE(form.ShutDownPc(flags), accepted);
    QCOMPARE(powerOff.calls, (QStringList{"right", "request " + QString::number(flags)}));
    QVERIFY(fake.dialogs.shown.empty());
  }

  // Each close of an open tbl1 clears the lock files of the folder its alias names then.
  void afterCloseCleansAliasFolder() {
    Station station;
    station.InstallControlTable();
    auto& tbl1 = station.form->tbl1;
    tbl1.SetDatabaseName("DISPDATA");
    tbl1.SetTableName("DUMMYDISP.db");
    for (int round = 0; round < 2; ++round) {
      zel::engine::Session::Default().Open();
      tbl1.SetDatabaseName("DISPDATA");
      tbl1.Open();
      tbl1.SetDatabaseName("PERMDATA");  // as after a backup test, the alias moved on
      station.Touch("ZELPOS/PERMDATA/PARADOX.LCK");
      station.Touch("ZELPOS/PERMDATA/PDOXUSRS.LCK");
      if (!station.Exists("PDOXUSRS.NET")) station.Touch("PDOXUSRS.NET");
      station.fake.files.deleted.clear();

      tbl1.Close();

      QCOMPARE(station.Deleted(),
               (QStringList{"c:\\zelpos\\PERMDATA\\PARADOX.LCK",
                            "c:\\zelpos\\PERMDATA\\PDOXUSRS.LCK", "c:\\PDOXUSRS.NET"}));
      QVERIFY(!station.Exists("ZELPOS/PERMDATA/PARADOX.LCK"));
      QVERIFY(!station.Exists("ZELPOS/PERMDATA/PDOXUSRS.LCK"));
      QVERIFY(!station.Exists("PDOXUSRS.NET"));
      zel::engine::Session::Default().Close();
    }
    QCOMPARE(station.view.lst1.count(), 0);
    QVERIFY(!station.form->StepOk);
  }

  void closeOfClosedTableCleansNothing_data() {
    QTest::addColumn<bool>("triedToOpen");
    QTest::newRow("never opened") << false;
    QTest::newRow("open failed") << true;
  }
  void closeOfClosedTableCleansNothing() {
    QFETCH(bool, triedToOpen);
    Station station;  // no control table: an open fails
    for (const QString& file : kLockFiles) station.Touch(file);
    auto& tbl1 = station.form->tbl1;
    tbl1.SetDatabaseName("DISPDATA");
    tbl1.SetTableName("DUMMYDISP.db");
    if (triedToOpen) QVERIFY_THROWS_EXCEPTION(std::exception, tbl1.Open());

    tbl1.Close();

    QVERIFY(station.fake.files.deleted.empty());
    for (const QString& file : kLockFiles) QVERIFY2(station.Exists(file), qPrintable(file));
  }

  void clearLockFilesWithNothingThere() {
    Station station;
    station.form->ClearLockFiles("TEMPDATA");
    QVERIFY(station.fake.files.deleted.empty());
    QCOMPARE(station.view.lst1.count(), 0);
    QCOMPARE(station.view.lst2.count(), 0);
  }
};

QTEST_GUILESS_MAIN(Step1Test)
#include "Step1Test.moc"
