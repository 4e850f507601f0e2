// The window's runs write the same report, and write it before anything may power the PC off:
// the report is on disk when the closing question or Step 1's warning is shown. A run refused
// because another is in progress writes none; two runs in one second get a name each.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>
#include <memory>
#include <sstream>

#include "tests/support/FakePlatform.h"
#include "tests/support/DemoStations.h"
#include "ui/qt/MainScreenWindow.h"

namespace {

using zel::test::FakePlatform;

bool RunToEnd(MainScreenWindow& form) {
  QSignalSpy finished(&form, &MainScreenWindow::RunFinished);
  form.show();
  return finished.wait(120000);
}

QString BuildStation(const FakePlatform& fake, const QStringList& damages = {}) {
  return zel::test::BuildDemoStation(fake.prefix.path(), damages);
}

QString ReportFolder(const FakePlatform& fake) {
  return fake.driveC() + "/ZELPOS/ZelUtil.Reports";
}

QStringList Reports(const FakePlatform& fake) {
  return QDir(ReportFolder(fake)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

const QJsonObject Report(const FakePlatform& fake, const QString& name) {
  QFile file(ReportFolder(fake) + "/" + name);
  return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                        : QJsonObject();
}

// 2026-12-10 17:22:19 UTC.
constexpr std::chrono::seconds kStart{1796923339};

}  // namespace

class ReportWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { qputenv("TZ", "UTC"); }

  // A healthy station: at the closing question the report is already there and complete.
  void writtenBeforeTheClosingQuestion() {
    FakePlatform fake;
    const QString error = BuildStation(fake);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    fake.system.now = std::chrono::system_clock::time_point(kStart);
    QStringList atQuestion;
    QJsonObject report;
    fake.dialogs.onShow = [&](const zel::test::RecordedDialog& dialog) {
      if (dialog.text != "ShutDown PC") return;
      QVERIFY(fake.powerOff.requests.empty());
      atQuestion = Reports(fake);
      if (!atQuestion.isEmpty()) report = Report(fake, atQuestion[0]);
    };
    MainScreenWindow form(fake.platform);
    QVERIFY(RunToEnd(form));
    QCOMPARE(fake.powerOff.requests, std::vector<unsigned>{12});
    QCOMPARE(atQuestion, QStringList{"20261210-172219.json"});
    QCOMPARE(std::as_const(report)["program"].toString(), "zelutil");
    QCOMPARE(std::as_const(report)["started"].toString(), "2026-12-10T17:22:19+00:00");
    QCOMPARE(std::as_const(report)["exitStatus"].toInt(-1), 0);
    QCOMPARE(std::as_const(report)["step1"]["ok"].toBool(), true);
    QCOMPARE(std::as_const(report)["tables"].toArray().size(), 61);
  }

  // Step 1 fails: the report is on disk when the warning before the power-off is shown.
  void writtenBeforeStepOnesPowerOff() {
    FakePlatform fake;
    const QString error = BuildStation(fake, {"stale-locks"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    fake.files.failWhen = [](zel::test::HookedFiles::Op op, const std::string& path) {
      return op == zel::test::HookedFiles::Op::Delete &&
             path == "C:\\ZELPOS\\CONFIGDATA\\PDOXUSRS.LCK";
    };
    fake.posWindow.looks = {zel::platform::WindowHandle{7}, std::nullopt};
    QJsonObject report;
    fake.dialogs.onShow = [&](const zel::test::RecordedDialog&) {
      QVERIFY(fake.powerOff.requests.empty());
      const QStringList reports = Reports(fake);
      if (reports.size() == 1) report = Report(fake, reports[0]);
    };
    MainScreenWindow form(fake.platform);
    QVERIFY(RunToEnd(form));
    QCOMPARE(fake.powerOff.requests, std::vector<unsigned>{12});
    QCOMPARE(std::as_const(report)["exitStatus"].toInt(-1), 2);
    QCOMPARE(std::as_const(report)["step1"]["ok"].toBool(true), false);
    QCOMPARE(std::as_const(report)["step1"]["posWindow"].toString(), "closed");
    const QJsonArray locks = std::as_const(report)["step1"]["lockFiles"].toArray();
    QCOMPARE(locks.size(), 11);
    QStringList actions;
    for (const QJsonValue lock : locks) actions << lock["action"].toString();
    // NET, DISPDATA x2, PERMDATA x2, CONFIGDATA PARADOX deleted; CONFIGDATA PDOXUSRS failed.
    QCOMPARE(actions, (QStringList{"deleted", "deleted", "deleted", "deleted", "deleted", "deleted",
                                   "failed", "reported", "reported", "reported", "reported"}));
    QCOMPARE(locks[6].toObject().value("path").toString(), "C:\\ZELPOS\\CONFIGDATA\\PDOXUSRS.LCK");
    QVERIFY(locks[6].toObject().value("heldBy").isNull());  // refused, but by no process
  }

  // The POS window that will not close is reported as still there.
  void posWindowStillThere() {
    FakePlatform fake;
    const QString error = BuildStation(fake);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    fake.posWindow.looks = {zel::platform::WindowHandle{7}, zel::platform::WindowHandle{7}};
    MainScreenWindow form(fake.platform);
    QVERIFY(RunToEnd(form));
    const QStringList reports = Reports(fake);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(Report(fake, reports[0])["step1"]["posWindow"].toString(), "still there");
  }

  // Another run in progress: the refused start touches nothing, so it writes no report; two
  // runs that start in the same second keep a report each.
  void refusedRunAndSameSecond() {
    FakePlatform fake;
    QVERIFY(QDir().mkpath(fake.driveC() + "/ZELPOS"));
    fake.system.now = std::chrono::system_clock::time_point(kStart);
    fake.runLock.heldByOtherRun = true;
    {
      MainScreenWindow refused(fake.platform);
      QVERIFY(RunToEnd(refused));
    }
    QCOMPARE(fake.dialogs.errorBoxes, std::vector<std::string>{"ZelUtil is already running."});
    QVERIFY(!QFileInfo::exists(ReportFolder(fake)));

    fake.runLock.heldByOtherRun = false;
    for (int run = 0; run < 2; ++run) {
      MainScreenWindow form(fake.platform);  // Step 1 fails: the station has no tables
      QVERIFY(RunToEnd(form));
    }
    QCOMPARE(Reports(fake), (QStringList{"20261210-172219-2.json", "20261210-172219.json"}));
    QCOMPARE(Report(fake, "20261210-172219-2.json")["exitStatus"].toInt(-1), 2);
  }
};

QTEST_MAIN(ReportWindowTest)
#include "tst_report_window.moc"
