// zelcheck as a user runs it: exit codes and output for usable and unusable tables, bad
// arguments and unreadable files, and --info. On tables the project makes, and on the Borland
// samples they stand for as well when those are there.
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
  QString c_;  // keyed, indexes A and B

  // C.DB of `dir`, sound with two indexes: the project's, or Borland's restamped.
  static QString InstallC(const QString& dir, bool borland) {
    return borland ? enginetest::RestampedC(dir) : enginetest::MadeC(dir);
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    c_ = InstallC(dir_.path(), false);
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
        << QStringList{"LAND.DB"} << 1
        << QStringList{"primary: Index is out of date (index stamp 113, table change count 136): "};
    QTest::newRow("help") << QStringList{"--help"} << 0 << QStringList{"Usage: zelcheck"};
  }
  // C.DB is C; LAND.DB a keyed table whose .PX stamp (113) is behind the table's change count
  // (136): the project's with those stamps set, or the python-pxlib sample that has them.
  void verdicts() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    const bool land = args.contains("LAND.DB");
    const QString sample = land ? "python-pxlib/LAND" : "paradoxdriver/joins/C";
    ZEL_OPTIONAL_SAMPLE(haveSample, sample);
    for (const bool borland : {false, true}) {
      if (borland && (!haveSample || args.contains("--help"))) continue;
      const QString on = borland ? "Borland's " + sample : QString("the project's table");
      QTemporaryDir dir;
      QVERIFY(dir.isValid());
      if (land && borland) {
        enginetest::CopyTable(sample, dir.path());
      } else if (land) {
        const QString db = enginetest::MadeOrders(dir.path(), "LAND");
        enginetest::PokeByte(db, 0x2D, 136);
        enginetest::PokeByte(dir.path() + "/LAND.PX", 0x2C, 113);
      } else {
        InstallC(dir.path(), borland);
      }
      const Run r = Zelcheck(args, dir.path());
      QVERIFY2(r.exitCode == exitCode, qPrintable(QString("on %1: exit %2, expected %3: %4")
                                                      .arg(on)
                                                      .arg(r.exitCode)
                                                      .arg(exitCode)
                                                      .arg(r.out + r.err)));
      const QStringList out = r.out.split('\n');
      QVERIFY2(out.size() >= lines.size(), qPrintable(on + ": " + r.out));
      for (int i = 0; i < lines.size(); ++i) {
        QVERIFY2(out[i].startsWith(lines[i]), qPrintable(on + ": " + out[i]));
      }
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

  // --info on fk4 (level 5, code page 850, a named two-field index): the project's table with
  // the sample's definition, and the sample itself when there.
  void info() {
    ZEL_OPTIONAL_SAMPLE(haveSample, "paradoxdriver/joins/fk4");
    QStringList tables{enginetest::MadeFk4(dir_.path())};
    if (haveSample) tables << enginetest::SamplePath("paradoxdriver/joins/fk4.db");
    for (const QString& table : tables) {
      const Run r = Zelcheck({"--info", table});
      QCOMPARE(r.exitCode, 0);
      for (const char* expected :
           {"Level:       5 (version byte 11)", "Code page:   850", "Sort order:  ascii (0x00)",
            "Records:     2", "Fields:      4", "  1. ID  I4", "  3. B1  A3", "Key fields:  1 (ID)",
            "Secondary indexes: 1",
            "fk4.XG0  name \"reference\"  maintained  fields: FK1 FK  tree: fk4.YG0"}) {
        QVERIFY2(r.out.contains(expected),
                 qPrintable(QString(expected) + "\n--- in ---\n" + r.out));
      }
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
