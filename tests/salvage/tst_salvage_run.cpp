// A whole console run on a demo station where a transient table and a kept table have each lost
// a data block: before the repairs replace them, their records are salvaged into
// ZelUtil.Damaged\<run>\<FOLDER>\Salvaged, counted on standard error and in the run report.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <sstream>

#include "platform/DriveMapping.h"
#include "tests/salvage/SalvageFixtures.h"
#include "tests/support/DemoStations.h"

using namespace salvagetest;

namespace {

QString Host(const QString& prefix, const std::string& windowsPath) {
  qputenv("WINEPREFIX", prefix.toLocal8Bit());
  return QString::fromStdString(zel::platform::MapWindowsPath(windowsPath).string());
}

// Runs the console with Yes to every question on the station in `prefix`; its exit status, and
// its standard output and error in `out` and `err`.
int RunConsole(const QString& prefix, QString& out, QString& err, const QString& tmp = {}) {
  QProcess console;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("WINEPREFIX", prefix);
  if (!tmp.isEmpty()) env.insert("TMPDIR", tmp);
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + prefix + "/no-system-bus");
  console.setProcessEnvironment(env);
  console.start(ZEL_CONSOLE, {"--yes", "--simulate-power-off"});
  console.closeWriteChannel();
  if (!console.waitForFinished(240000)) return -1;
  err = QString::fromUtf8(console.readAllStandardError());
  out = QString::fromUtf8(console.readAllStandardOutput());
  return console.exitCode();
}

QString DataFile(const QString& prefix, const QString& folder, const QString& table) {
  const QDir dir(Host(prefix, "C:\\ZelPos\\" + folder.toStdString()));
  for (const QString& name : dir.entryList(QDir::Files))
    if (name.compare(table + ".DB", Qt::CaseInsensitive) == 0) return dir.filePath(name);
  return {};
}

}  // namespace

class TestSalvageRun : public QObject {
  Q_OBJECT

 private slots:
  void repairsSalvageFirst();
  void headerDestroyedSalvagedByTheCatalogueDefinition();
};

void TestSalvageRun::repairsSalvageFirst() {
  QTemporaryDir prefix;
  const QString built = zel::test::BuildDemoStation(prefix.path(), {}, 40);
  QVERIFY2(built.isEmpty(), qPrintable(built));

  struct Damaged {
    QString folder, table;
    QList<QByteArray> expected;
    int lost = 0;
  };
  QList<Damaged> damaged{{"TEMPDATA", "PUMPSALE", {}, 0}, {"PERMDATA", "DRIVERS", {}, 0}};
  for (Damaged& d : damaged) {
    const QString db = DataFile(prefix.path(), d.folder, d.table);
    QVERIFY2(!db.isEmpty(), qPrintable(d.table));
    const px::Header h = HeaderOf(db);
    QVERIFY2(h.fileBlocks >= 2, qPrintable(d.table + " needs two blocks at this scale"));
    d.expected = ChainRecords(db);
    const QList<QByteArray> lost = BlockRecords(enginetest::Read(db), h, 2);
    d.lost = lost.size();
    for (const auto& r : lost) d.expected.removeOne(r);
    FillBlock(db, 2, '\xA5');
  }

  QString out;
  QString err;
  QVERIFY2(RunConsole(prefix.path(), out, err) == 0, qPrintable(out.right(1500) + err));
  QVERIFY2(!out.contains("salvage", Qt::CaseInsensitive), "the screen stays as it was");

  const QDir reports(Host(prefix.path(), "C:\\ZelPos\\ZelUtil.Reports"));
  const QStringList files = reports.entryList({"*.json"}, QDir::Files);
  QCOMPARE(files.size(), 1);
  QFile reportFile(reports.filePath(files[0]));
  QVERIFY(reportFile.open(QIODevice::ReadOnly));
  const QJsonObject report = QJsonDocument::fromJson(reportFile.readAll()).object();
  const QString run = report["damagedFilesFolder"].toString();
  QVERIFY(!run.isEmpty());

  for (const Damaged& d : damaged) {
    const QString name = d.folder + "\\" + d.table;
    QJsonObject repair;
    for (const QJsonValue t : report["tables"].toArray())
      if (t["folder"].toString().compare(d.folder, Qt::CaseInsensitive) == 0 &&
          t["table"].toString() == d.table)
        repair = t["repair"].toObject();
    QVERIFY2(!repair.isEmpty(), qPrintable(name + " was not repaired"));
    const QJsonObject salvage = repair["salvage"].toObject();
    QVERIFY2(!salvage.isEmpty(), qPrintable(name + ": no salvage in the report\n" + err));
    const QString salvagedDb = run + d.folder + "\\Salvaged\\" + d.table + ".DB";
    QCOMPARE(salvage["path"].toString(), salvagedDb);
    QCOMPARE(salvage["recovered"].toInt(), d.expected.size());
    QCOMPARE(salvage["unreadableBlocks"].toInt(), 1);
    QCOMPARE(salvage["dropped"].toInt(), 0);
    const QString host = Host(prefix.path(), salvagedDb.toStdString());
    QCOMPARE(ChainRecords(host), d.expected);
    QCOMPARE(CsvRows(Host(prefix.path(),
                          (run + d.folder + "\\Salvaged\\" + d.table + ".csv").toStdString()))
                 .size(),
             d.expected.size());
    QVERIFY2(err.contains("salvaged " + name + ": recovered " + QString::number(d.expected.size())),
             qPrintable(err));
  }
}

// A table whose header is wrecked has no structure of its own to read its blocks by: the
// catalogue's definition of it (the one its new empty table is made from) serves instead.
void TestSalvageRun::headerDestroyedSalvagedByTheCatalogueDefinition() {
  QTemporaryDir prefix;
  const QString built = zel::test::BuildDemoStation(prefix.path(), {}, 40);
  QVERIFY2(built.isEmpty(), qPrintable(built));
  const QString db = DataFile(prefix.path(), "TEMPDATA", "PUMPSALE");
  QVERIFY(!db.isEmpty());
  const QList<QByteArray> expected = ChainRecords(db);
  QVERIFY(expected.size() > 10);
  {
    QFile file(db);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QCOMPARE(file.write(QByteArray(64, '\xff')), qint64(64));
  }

  QString out;
  QString err;
  QTemporaryDir tmp;  // the run's own temporary folder, where the template lives for a moment
  QVERIFY2(RunConsole(prefix.path(), out, err, tmp.path()) == 0, qPrintable(out.right(1500) + err));
  QVERIFY2(
      err.contains("salvaged TEMPDATA\\PUMPSALE: recovered " + QString::number(expected.size())),
      qPrintable(err));
  const QDir damaged(Host(prefix.path(), "C:\\ZelPos\\ZelUtil.Damaged"));
  const QStringList runs = damaged.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  QCOMPARE(runs.size(), 1);
  const QString salvaged = damaged.filePath(runs[0] + "/TEMPDATA/Salvaged/PUMPSALE.DB");
  QCOMPARE(ChainRecords(salvaged), expected);
  // The template lived only for the salvage.
  QVERIFY(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

QTEST_GUILESS_MAIN(TestSalvageRun)
#include "tst_salvage_run.moc"
