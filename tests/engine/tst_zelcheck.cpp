// zelcheck as a user runs it: exit codes and output for usable and unusable tables, bad
// arguments and unreadable files, --info, --json, --locks and --version. On tables the project
// makes, and on the Borland samples they stand for as well when those are there.
#include <unistd.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/engine/EngineFixtures.h"
#include "tests/support/ChildProcess.h"
#include "zel/Version.h"

namespace {

struct Run {
  int exitCode = -1;
  QString out;
  QString err;
};

Run Zelcheck(const QStringList& args, const QString& cwd = {}, const QString& winePrefix = {}) {
  QProcess p;
  if (!cwd.isEmpty()) p.setWorkingDirectory(cwd);
  if (!winePrefix.isEmpty()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("WINEPREFIX", winePrefix);
    p.setProcessEnvironment(env);
  }
  p.start(ZEL_ZELCHECK, args);
  p.waitForFinished(60000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
          QString::fromLocal8Bit(p.readAllStandardOutput()),
          QString::fromLocal8Bit(p.readAllStandardError())};
}

QJsonDocument ParseJson(const Run& r) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
  if (error.error != QJsonParseError::NoError)
    qWarning("not JSON (%s): %s", qPrintable(error.errorString()), qPrintable(r.out));
  return doc;
}

// The command line /proc shows for `pid`, as zelcheck prints it.
QString CommandLineOf(qint64 pid) {
  QFile f(QString("/proc/%1/cmdline").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return {};
  QByteArray bytes = f.readAll();
  while (bytes.endsWith('\0')) bytes.chop(1);
  return QString::fromLocal8Bit(bytes.replace('\0', ' '));
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
    QTest::newRow("info as JSON") << QStringList{"--info", "C.DB", "--json"}
                                  << "--info takes no --json";
    QTest::newRow("two modes") << QStringList{"--info", "--locks", "."}
                               << "choose one of --info and --locks";
    QTest::newRow("locks without folder") << QStringList{"--locks"} << "no folder given";
    QTest::newRow("locks with index")
        << QStringList{"--locks", ".", "--index", "A"} << "--locks takes no --index";
    QTest::newRow("locks in a missing folder")
        << QStringList{"--locks", "NOPE"} << "cannot read NOPE: no such folder";
    QTest::newRow("locks in a file")
        << QStringList{"--locks", "C.DB"} << "cannot read C.DB: not a folder";
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

  // A table name carries whatever its maker chose: each mode prints it with its control
  // characters escaped, so the name can neither end a line and forge another verdict nor drive
  // the terminal.
  void controlCharactersInNamesAreEscaped_data() {
    QTest::addColumn<QStringList>("options");
    QTest::newRow("verdict") << QStringList{};
    QTest::newRow("deep check") << QStringList{"--deep"};
    QTest::newRow("info") << QStringList{"--info"};
  }
  void controlCharactersInNamesAreEscaped() {
    QFETCH(QStringList, options);
    const QString evil = dir_.path() + "/X\nFORGED.DB: usable\x1b[2J.DB";
    enginetest::Write(evil, "not a table");
    const Run r = Zelcheck(options << evil);
    QVERIFY2(r.exitCode == 1 || r.exitCode == 2, qPrintable(r.out + r.err));
    const QString all = r.out + r.err;
    QVERIFY2(!all.contains(QChar(0x1b)), qPrintable(all));
    for (const QString& line : all.split('\n', Qt::SkipEmptyParts))
      QVERIFY2(!line.startsWith("FORGED.DB"), qPrintable(all));
    QVERIFY2(all.contains("X\\nFORGED.DB"), qPrintable(all));
    QFile::remove(evil);
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

  void version() {
    const Run r = Zelcheck({"--version"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QString("zelcheck %1\n").arg(zel::kVersion));
    QVERIFY(!QString(zel::kVersion).isEmpty());
  }

  // --json holds what the lines say: for each index, usable or the engine's code, text and
  // file; and the exit status is the same.
  void json_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QList<int>>("codes");  // per index, primary first; 0: usable
    const QString bad = dir_.path() + "/BAD.DB";
    enginetest::Write(bad, "not a table");
    QTest::newRow("usable") << QStringList{c_, "--index", "A"} << 0 << QList<int>{0, 0};
    QTest::newRow("unknown index")
        << QStringList{c_, "--index", "ZZ", "--index", "b"} << 1 << QList<int>{0, 0x270D, 0};
    QTest::newRow("damaged") << QStringList{bad} << 1 << QList<int>{0x2301};
  }
  void json() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QList<int>, codes);
    const Run lines = Zelcheck(args);
    const Run r = Zelcheck(QStringList{"--json"} + args);
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(lines.exitCode, exitCode);
    const QJsonObject doc = ParseJson(r).object();
    QCOMPARE(doc.value("file").toString(), args.first());
    QCOMPARE(doc.value("usable").toBool(), exitCode == 0);
    const QJsonArray indexes = doc.value("indexes").toArray();
    QCOMPARE(indexes.size(), codes.size());
    const QStringList out = lines.out.split('\n');
    for (int i = 0; i < codes.size(); ++i) {
      const QJsonObject x = indexes[i].toObject();
      const QString name = i == 0 ? QString() : args[2 * i];
      QCOMPARE(x.value("index").toString(), name);
      QCOMPARE(x.value("usable").toBool(), codes[i] == 0);
      QString verdict = "usable";
      if (codes[i] == 0) {
        QVERIFY(x.value("error").isNull());
      } else {
        const QJsonObject e = x.value("error").toObject();
        QCOMPARE(e.value("code").toInt(), codes[i]);
        QVERIFY(!e.value("text").toString().isEmpty());
        QVERIFY2(e.value("file").toString().startsWith(dir_.path()), qPrintable(r.out));
        verdict = e.value("text").toString() + ": " + e.value("file").toString();
      }
      QCOMPARE(out[i], (i == 0 ? QString("primary") : "index " + name) + ": " + verdict);
    }
  }

  // Lock files in a folder: one a live child holds with an fcntl lock, one a child only has
  // open (as Wine keeps a Windows program's files), a stale one; other files and a folder with
  // a lock file's name are left out. A holder that dies as in a crash leaves its file stale.
  void locks() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString d = folder.path();
    enginetest::Write(d + "/PDOXUSRS.LCK", QByteArray(256, 'u'));
    enginetest::Write(d + "/PARADOX.LCK", QByteArray(12, 'p'));
    enginetest::Write(d + "/ORDERS.lck", "");
    enginetest::Write(d + "/ORDERS.DB", "x");
    QVERIFY(QDir(d).mkdir("OLD.LCK"));
    zel::test::LockingChild holder((d + "/PDOXUSRS.LCK").toStdString(),
                                   zel::test::LockingChild::Kind::Fcntl);
    zel::test::LockingChild opener((d + "/ORDERS.lck").toStdString(),
                                   zel::test::LockingChild::Kind::Open);
    QVERIFY(holder.Locked() && opener.Locked());
    const QString command = CommandLineOf(holder.Pid());
    QVERIFY(command.contains("tst_zelcheck"));

    Run r = Zelcheck({"--locks", d});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(
        r.out.split('\n'),
        (QStringList{
            QString("%1/ORDERS.lck: 0 bytes, held by %2 %3").arg(d).arg(opener.Pid()).arg(command),
            d + "/PARADOX.LCK: 12 bytes, stale",
            QString("%1/PDOXUSRS.LCK: 256 bytes, held by %2 %3")
                .arg(d)
                .arg(holder.Pid())
                .arg(command),
            ""}));

    r = Zelcheck({"--locks", d, "--json"});
    QCOMPARE(r.exitCode, 0);
    QJsonArray list = ParseJson(r).array();
    QCOMPARE(list.size(), 3);
    const QJsonObject held = list[2].toObject();
    QCOMPARE(held.value("path").toString(), d + "/PDOXUSRS.LCK");
    QCOMPARE(held.value("size").toInt(), 256);
    QCOMPARE(held.value("held").toBool(), true);
    QCOMPARE(held.value("holder").toObject().value("pid").toInteger(), holder.Pid());
    QCOMPARE(held.value("holder").toObject().value("command").toString(), command);
    QCOMPARE(held.value("holder").toObject().value("wineserver").toBool(), false);
    const QJsonObject stale = list[1].toObject();
    QCOMPARE(stale.value("path").toString(), d + "/PARADOX.LCK");
    QCOMPARE(stale.value("size").toInt(), 12);
    QCOMPARE(stale.value("held").toBool(), false);
    QVERIFY(stale.value("holder").isNull());
    QCOMPARE(list[0].toObject().value("holder").toObject().value("pid").toInteger(), opener.Pid());

    holder.Kill();
    opener.Kill();
    r = Zelcheck({"--json", "--locks", d});
    list = ParseJson(r).array();
    QCOMPARE(list.size(), 3);
    for (const auto& entry : list) {
      QVERIFY2(!entry.toObject().value("held").toBool(), qPrintable(r.out));
      QVERIFY(entry.toObject().value("holder").isNull());
    }
  }

  // Wine takes a Windows program's locks on the wineserver's descriptor: the line says so.
  void locksHeldByWineserver() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString lock = folder.path() + "/PDOXUSRS.LCK";
    enginetest::Write(lock, "");
    const QString wineserver = folder.path() + "/wineserver";
    QVERIFY(QFile::link(ZEL_LOCK_HOLDER, wineserver));
    QProcess server;
    server.start(wineserver, {"hold", lock});
    QVERIFY(server.waitForReadyRead(10000));
    QCOMPARE(server.readAll().trimmed(), QByteArray("locked"));

    Run r = Zelcheck({"--locks", folder.path()});
    QCOMPARE(r.out, QString("%1: 0 bytes, held by %2 %3 hold %1 (the wineserver: a Windows "
                            "program under Wine holds the lock)\n")
                        .arg(lock)
                        .arg(server.processId())
                        .arg(wineserver));
    r = Zelcheck({"--locks", folder.path(), "--json"});
    const QJsonObject holder = ParseJson(r).array().at(0).toObject().value("holder").toObject();
    QCOMPARE(holder.value("wineserver").toBool(), true);
    server.closeWriteChannel();
    QVERIFY(server.waitForFinished(10000));
  }

  // Windows paths map into the prefix and stay Windows paths in the output; C:\ holds the
  // network control file. Only the folder named is listed, not the ones below it.
  void locksByWindowsPath() {
    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    QVERIFY(QDir(prefix.path()).mkpath("drive_c/ZelPos/TEMPDATA"));
    enginetest::Write(prefix.path() + "/drive_c/PDOXUSRS.NET", QByteArray(3, 'n'));
    enginetest::Write(prefix.path() + "/drive_c/ZelPos/TEMPDATA/PARADOX.LCK", "");
    Run r = Zelcheck({"--locks", "C:\\"}, {}, prefix.path());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QString("C:\\PDOXUSRS.NET: 3 bytes, stale\n"));
    r = Zelcheck({"--locks", "c:\\zelpos\\TEMPDATA", "--json"}, {}, prefix.path());
    QCOMPARE(ParseJson(r).array().at(0).toObject().value("path").toString(),
             QString("c:\\zelpos\\TEMPDATA\\PARADOX.LCK"));
    r = Zelcheck({"--locks", "C:\\ZELPOS"}, {}, prefix.path());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QString("no lock files in C:\\ZELPOS\n"));
    r = Zelcheck({"--locks", "C:\\ZELPOS", "--json"}, {}, prefix.path());
    QCOMPARE(r.out.trimmed(), QString("[]"));
  }

  void leavesNoFilesBehind() {
    const QStringList before = QDir(dir_.path()).entryList(QDir::Files);
    Zelcheck({"C.DB", "--index", "A"}, dir_.path());
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files), before);
  }
};

QTEST_GUILESS_MAIN(ZelcheckTest)
#include "tst_zelcheck.moc"
