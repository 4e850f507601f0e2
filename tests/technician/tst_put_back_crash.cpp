// Kill points over --put-back: the fault layer (tests/fault) kills the command right before and
// right after each destructive file operation of an uninterrupted put-back; then a clean run of
// ZelUtil and the put-back again must leave the table with every record, once each, and no
// temporary file behind.
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/technician/TechnicianFixtures.h"

namespace zt = zel::test;
namespace fs = std::filesystem;
using zel::engine::Record;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kStride = 3;  // the sanitizer build takes every third kill point
#else
constexpr int kStride = 1;
#endif

const std::string kFolder = "TEMPDATA", kTable = "PUMPSALE";

QStringList Fault(const QString& prefix, const QStringList& more) {
  return QStringList{"LD_PRELOAD=" ZEL_FAULT_SHIM, "ZEL_FAULT_ROOT=" + prefix,
                     "ZEL_FAULT_NOSYNC=1", "ZEL_FAULT_NOSLEEP=1"} +
         more;
}

void CopyTree(const QString& from, const QString& to) {
  fs::copy(from.toStdString(), to.toStdString(), fs::copy_options::recursive);
}

QStringList Temporary(const QString& prefix) {
  QStringList found;
  const fs::path data = fs::path(prefix.toStdString()) / "drive_c" / "ZELPOS" / kFolder;
  for (const auto& entry : fs::directory_iterator(data))
    if (entry.path().filename().string().rfind(".zel", 0) == 0)
      found << QString::fromStdString(entry.path().filename().string());
  return found;
}

}  // namespace

class PutBackCrashTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString base_;
  std::vector<Record> expected_;
  long destructive_ = 0;

 private slots:
  // The station after a run that replaced PUMPSALE, with a sale recorded since; the put-back's
  // uninterrupted outcome and the count of its destructive operations.
  void initTestCase() {
    base_ = dir_.filePath("base");
    QCOMPARE(zt::BuildDemoStation(base_, {"db-header"}, 5), QString());
    QCOMPARE(zt::RunConsole(base_, {"--yes", "--simulate-power-off"}, Fault(base_, {})).exitCode,
             0);
    zt::WriteTable(base_, kFolder, kTable,
                   {Record{std::int64_t{900001}, std::int64_t{1}, std::int64_t{1}, std::int64_t{1},
                           2.5, 1.0, 2.5, std::int64_t{1}, std::monostate{}, std::int64_t{0}}});

    const QString ref = dir_.filePath("reference");
    CopyTree(base_, ref);
    const QString trace = dir_.filePath("trace.txt");
    const zt::ConsoleResult putBack = zt::RunConsole(
        ref, {"--put-back", "latest"}, Fault(ref, {"ZEL_FAULT_TRACE=" + trace}));
    QVERIFY2(putBack.exitCode == 0, qPrintable(putBack.err));
    expected_ = zt::SortedRecords(zt::TablePath(ref, kFolder, kTable));
    QCOMPARE(expected_.size(), std::size_t{61});
    QFile file(trace);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QRegularExpression d(" d=(\\d+) ");
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n'))
      if (const auto m = d.match(line); m.hasMatch())
        destructive_ = std::max(destructive_, m.captured(1).toLong());
    QVERIFY2(destructive_ > 3, "the put-back made too few destructive operations to sweep");
  }

  void killPoints() {
    QStringList problems;
    int points = 0;
    for (long k = 1; k <= destructive_; ++k)
      for (const char* when : {"before", "after"}) {
        if (++points % kStride) continue;
        const QString point = QString("%1:%2").arg(when).arg(k);
        const QString work = dir_.filePath("point-" + QString(point).replace(':', '-'));
        CopyTree(base_, work);
        zt::RunConsole(work, {"--put-back", "latest"}, Fault(work, {"ZEL_FAULT_CRASH=" + point}));
        // The clean run heals what the kill left; the put-back again finishes or names the one
        // that finished.
        const zt::ConsoleResult heal =
            zt::RunConsole(work, {"--yes", "--simulate-power-off"}, Fault(work, {}));
        const zt::ConsoleResult again =
            zt::RunConsole(work, {"--put-back", "latest"}, Fault(work, {}));
        QString problem;
        if (heal.exitCode != 0)
          problem = "the clean run ended " + QString::number(heal.exitCode) + ": " + heal.err;
        else if (again.exitCode != 0 &&
                 !(again.exitCode == 3 && again.err.contains("put back before")))
          problem = "the second put-back ended " + QString::number(again.exitCode) + ": " +
                    again.err;
        else if (zt::SortedRecords(zt::TablePath(work, kFolder, kTable)) != expected_)
          problem = "the table's records differ from the uninterrupted put-back's";
        else if (const QStringList left = Temporary(work); !left.isEmpty())
          problem = "left behind: " + left.join(", ");
        if (!problem.isEmpty()) problems << point + ": " + problem;
        fs::remove_all(work.toStdString());
      }
    qInfo("%d kill points of %ld destructive operations (one in %d)", points / kStride,
          destructive_, kStride);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join("\n")));
  }
};

QTEST_GUILESS_MAIN(PutBackCrashTest)
#include "tst_put_back_crash.moc"
