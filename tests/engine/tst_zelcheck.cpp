// zelcheck as a user runs it: exit codes and output for usable and unusable tables, bad
// arguments and unreadable files, and --info on a sample.
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/engine/EngineFixtures.h"

namespace {

struct Run {
  int exitCode = -1;
  QString out;
  QString err;
};

Run Zelcheck(const QStringList& args, const QString& cwd = {}) {
  QProcess p;
  if (!cwd.isEmpty()) p.setWorkingDirectory(cwd);
  p.start(ZEL_ZELCHECK, args);
  p.waitForFinished(60000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
          QString::fromLocal8Bit(p.readAllStandardOutput()),
          QString::fromLocal8Bit(p.readAllStandardError())};
}

}  // namespace

class ZelcheckTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString c_;  // restamped C: keyed, indexes A and B

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    c_ = enginetest::RestampedC(dir_.path());
  }

  void verdicts_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines");  // stdout, line by line (prefix match)
    QTest::newRow("primary usable") << QStringList{"C.DB"} << 0 << QStringList{"primary: usable"};
    QTest::newRow("indexes usable")
        << QStringList{"C.DB", "--index", "A", "--index=b"} << 0
        << QStringList{"primary: usable", "index A: usable", "index b: usable"};
    QTest::newRow("unknown index")
        << QStringList{"C.DB", "--index", "ZZ"} << 1
        << QStringList{"primary: usable", "index ZZ: Index does not exist (ZZ): "};
    QTest::newRow("stale primary")
        << QStringList{enginetest::SamplePath("python-pxlib/LAND.DB")} << 1
        << QStringList{"primary: Index is out of date (index stamp 113, table change count 136): "};
    QTest::newRow("help") << QStringList{"--help"} << 0 << QStringList{"Usage: zelcheck"};
  }
  void verdicts() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    const Run r = Zelcheck(args, dir_.path());
    QCOMPARE(r.exitCode, exitCode);
    const QStringList out = r.out.split('\n');
    QVERIFY(out.size() >= lines.size());
    for (int i = 0; i < lines.size(); ++i) {
      QVERIFY2(out[i].startsWith(lines[i]), qPrintable(out[i]));
    }
  }

  void badUse_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");
    QTest::newRow("nothing") << QStringList{} << "no table given";
    QTest::newRow("unknown option") << QStringList{"--frobnicate", "C.DB"} << "unknown option";
    QTest::newRow("index without name") << QStringList{"C.DB", "--index"} << "needs an index name";
    QTest::newRow("two tables") << QStringList{"C.DB", "C.DB"} << "one table at a time";
    QTest::newRow("missing file") << QStringList{"NOPE.DB"} << "cannot read";
    QTest::newRow("a folder") << QStringList{"."} << "not a regular file";
    QTest::newRow("info with index")
        << QStringList{"--info", "C.DB", "--index", "A"} << "--info takes no --index";
  }
  void badUse() {
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    const Run r = Zelcheck(args, dir_.path());
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(error), qPrintable(r.err));
  }

  // A table that cannot be read at all is a usage error (2), not an unusable table (1).
  void unreadablePaths_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "NONE.DB"
                             << "no such file";
    QTest::newRow("a folder") << "FOLDER.DB"
                              << "not a regular file";
  }
  void unreadablePaths() {
    QFETCH(QString, name);
    QFETCH(QString, reason);
    QVERIFY(QDir(dir_.path()).mkpath("FOLDER.DB"));
    const QString path = dir_.path() + "/" + name;
    const Run r = Zelcheck({path});
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains("cannot read " + path + ": " + reason), qPrintable(r.err));
  }

  void unreadableFile() {
    if (::geteuid() == 0) QSKIP("root reads files whatever their permissions");
    const QString locked = dir_.path() + "/LOCKED.DB";
    enginetest::Write(locked, enginetest::Read(c_));
    QFile::setPermissions(locked, QFile::WriteOwner);
    const Run r = Zelcheck({locked});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.err.contains("cannot read"));
  }

  void damagedTableIsUnusableNotBadUse() {
    const QString bad = dir_.path() + "/BAD.DB";
    enginetest::Write(bad, "not a table");
    const Run r = Zelcheck({bad});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.out.contains("Corrupt table/index header") && r.out.contains(bad),
             qPrintable(r.out));
  }

  void info() {
    const Run r = Zelcheck({"--info", enginetest::SamplePath("paradoxdriver/joins/fk4.db")});
    QCOMPARE(r.exitCode, 0);
    for (const char* expected :
         {"Level:       5 (version byte 11)", "Code page:   850", "Sort order:  ascii (0x00)",
          "Records:     2", "Fields:      4", "  1. ID  I4", "  3. B1  A3", "Key fields:  1 (ID)",
          "Secondary indexes: 1",
          "fk4.XG0  name \"reference\"  maintained  fields: FK1 FK  tree: fk4.YG0"}) {
      QVERIFY2(r.out.contains(expected), qPrintable(QString(expected) + "\n--- in ---\n" + r.out));
    }
  }

  void leavesNoFilesBehind() {
    const QStringList before = QDir(dir_.path()).entryList(QDir::Files);
    Zelcheck({"C.DB", "--index", "A"}, dir_.path());
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files), before);
  }
};

QTEST_GUILESS_MAIN(ZelcheckTest)
#include "tst_zelcheck.moc"
