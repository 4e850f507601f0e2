// Kill points over --put-back: the fault layer (tests/fault) kills the command right before and
// right after each destructive file operation of an uninterrupted put-back, into a current-shift
// heap and into a keyed master table with an index; then a clean run of ZelUtil and the
// put-back again must leave the table with every record, once each, and no temporary file.
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/support/FaultPreload.h"
#include "tests/technician/TechnicianFixtures.h"

namespace zt = zel::test;
namespace fs = std::filesystem;
using zel::engine::Record;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSanitizedStride = 3;  // the sanitizer build takes every third kill point of a row
#else
constexpr int kSanitizedStride = 1;
#endif

QStringList Fault(const QString& prefix, const QStringList& more) {
  return QStringList{"LD_PRELOAD=" ZEL_FAULT_SHIM, "ZEL_FAULT_ROOT=" + prefix, "ZEL_FAULT_NOSYNC=1",
                     "ZEL_FAULT_NOSLEEP=1",
                     "ASAN_OPTIONS=" + zel::test::AsanOptionsAllowingPreload(
                                           qEnvironmentVariable("ASAN_OPTIONS"))} +
         more;
}

void CopyTree(const QString& from, const QString& to) {
  fs::copy(from.toStdString(), to.toStdString(), fs::copy_options::recursive);
}

QStringList Temporary(const QString& prefix, const std::string& folder) {
  QStringList found;
  const fs::path data = fs::path(prefix.toStdString()) / "drive_c" / "ZELPOS" / folder;
  for (const auto& entry : fs::directory_iterator(data))
    if (entry.path().filename().string().rfind(".zel", 0) == 0)
      found << QString::fromStdString(entry.path().filename().string());
  return found;
}

}  // namespace

class PutBackCrashTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;

  // The station after a run that replaced PUMPSALE, with a sale recorded since.
  QString CurrentShiftStation() {
    const QString base = dir_.filePath("shift");
    if (!zt::BuildDemoStation(base, {"db-header"}, 5).isEmpty()) return {};
    if (zt::RunConsole(base, {"--yes", "--simulate-power-off"}, Fault(base, {})).exitCode != 0)
      return {};
    zt::WriteTable(base, "TEMPDATA", "PUMPSALE",
                   {Record{std::int64_t{900001}, std::int64_t{1}, std::int64_t{1}, std::int64_t{1},
                           2.5, 1.0, 2.5, std::int64_t{1}, std::monostate{}, std::int64_t{0}}});
    return base;
  }

  // The station after a run that restored STOCK, whose damaged copy held two items more than
  // the backup: a keyed table with a secondary index, so a kill can fall between its files.
  QString MasterStation() {
    const QString base = dir_.filePath("master");
    if (!zt::BuildDemoStation(base, {}, 5).isEmpty()) return {};
    std::vector<Record> stock = zt::SortedRecords(zt::TablePath(base, "PERMDATA", "STOCK"));
    for (const char* code : {"ZZNEW1", "ZZNEW2"}) {
      Record added = stock.front();
      added[0] = std::string(code);
      stock.push_back(added);
    }
    zt::WriteTable(base, "PERMDATA", "STOCK", stock);
    QFile db(QString::fromStdString(zt::TablePath(base, "PERMDATA", "STOCK").string()));
    if (!db.open(QIODevice::ReadWrite) || db.write(QByteArray(8, char(0xEE))) != 8) return {};
    db.close();
    if (zt::RunConsole(base, {"--yes", "--simulate-power-off"}, Fault(base, {})).exitCode != 0)
      return {};
    return base;
  }

 private slots:
  void killPoints_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("stride");  // the master row's 50-odd points: every second one
    QTest::newRow("current shift") << "shift"
                                   << "TEMPDATA"
                                   << "PUMPSALE" << QStringList{"--put-back", "latest"} << 1;
    QTest::newRow("master") << "master"
                            << "PERMDATA"
                            << "STOCK" << QStringList{"--put-back", "latest", "--master", "STOCK"}
                            << 2;
  }

  // The uninterrupted put-back's outcome and destructive operations first; then each kill point
  // on a fresh copy of the station.
  void killPoints() {
    QFETCH(QString, kind);
    QFETCH(QString, folder);
    QFETCH(QString, table);
    QFETCH(QStringList, arguments);
    QFETCH(int, stride);
    const int kStride = stride * kSanitizedStride;
    const std::string f = folder.toStdString(), t = table.toStdString();
    const QString base = kind == "shift" ? CurrentShiftStation() : MasterStation();
    QVERIFY2(!base.isEmpty(), "the station could not be made ready");

    const QString ref = dir_.filePath(kind + "-reference");
    CopyTree(base, ref);
    const QString trace = dir_.filePath(kind + "-trace.txt");
    const zt::ConsoleResult putBack =
        zt::RunConsole(ref, arguments, Fault(ref, {"ZEL_FAULT_TRACE=" + trace}));
    QVERIFY2(putBack.exitCode == 0, qPrintable(putBack.err));
    const std::vector<Record> expected = zt::SortedRecords(zt::TablePath(ref, f, t));
    QVERIFY(expected.size() > zt::SortedRecords(zt::TablePath(base, f, t)).size());
    long destructive = 0;
    QFile file(trace);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QRegularExpression d(" d=(\\d+) ");
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n'))
      if (const auto m = d.match(line); m.hasMatch())
        destructive = std::max(destructive, m.captured(1).toLong());
    QVERIFY2(destructive > 3, "the put-back made too few destructive operations to sweep");

    QStringList problems;
    int points = 0;
    for (long k = 1; k <= destructive; ++k)
      for (const char* when : {"before", "after"}) {
        if (++points % kStride) continue;
        const QString point = QString("%1:%2").arg(when).arg(k);
        const QString work = dir_.filePath(kind + "-point-" + QString(point).replace(':', '-'));
        CopyTree(base, work);
        zt::RunConsole(work, arguments, Fault(work, {"ZEL_FAULT_CRASH=" + point}));
        // The clean run heals what the kill left; the put-back again finishes or names the one
        // that finished.
        const zt::ConsoleResult heal =
            zt::RunConsole(work, {"--yes", "--simulate-power-off"}, Fault(work, {}));
        const zt::ConsoleResult again = zt::RunConsole(work, arguments, Fault(work, {}));
        QString problem;
        if (heal.exitCode != 0)
          problem = "the clean run ended " + QString::number(heal.exitCode) + ": " + heal.err;
        else if (again.exitCode != 0 &&
                 !(again.exitCode == 3 && again.err.contains("put back before")))
          problem =
              "the second put-back ended " + QString::number(again.exitCode) + ": " + again.err;
        else if (zt::SortedRecords(zt::TablePath(work, f, t)) != expected)
          problem = "the table's records differ from the uninterrupted put-back's";
        else if (const QStringList left = Temporary(work, f); !left.isEmpty())
          problem = "left behind: " + left.join(", ");
        if (!problem.isEmpty()) problems << point + ": " + problem;
        fs::remove_all(work.toStdString());
      }
    qInfo("%d kill points of %ld destructive operations (one in %d)", points / kStride, destructive,
          kStride);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join("\n")));
  }
};

QTEST_GUILESS_MAIN(PutBackCrashTest)
#include "tst_put_back_crash.moc"
