// zelcheck --deep as a user runs it: the verdict, the problems with file, block and record, the
// notes after them, the --json document, the exit status (0 clean, 1 damaged, 2 bad use), Windows
// paths, and the tables left untouched.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/deepcheck/DeepCheckFixtures.h"

using namespace enginetest;
using namespace deeptest;

namespace {

struct Run {
  int exitCode = -1;
  QString out;
  QString err;
};

Run Zelcheck(const QStringList& args, const QString& winePrefix = {}) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  if (!winePrefix.isEmpty()) env.insert("WINEPREFIX", winePrefix);
  p.setProcessEnvironment(env);
  p.start(ZEL_ZELCHECK, args);
  p.waitForFinished(60000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
          QString::fromLocal8Bit(p.readAllStandardOutput()),
          QString::fromLocal8Bit(p.readAllStandardError())};
}

QString Show(const Run& r) {
  return QString("exit %1\nstdout:\n%2\nstderr:\n%3").arg(r.exitCode).arg(r.out, r.err);
}

}  // namespace

class ZelcheckDeepTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanTable() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString db = MadeCustomer(dir.path());
    const Run r = Zelcheck({"--deep", db});
    QVERIFY2(r.exitCode == 0, qPrintable(Show(r)));
    QVERIFY2(r.out.startsWith(db + ": clean\n"), qPrintable(Show(r)));
    QVERIFY2(r.out.contains("Checked 20 records, 0 BLOB pointers, 20 secondary index entries."),
             qPrintable(Show(r)));
    QVERIFY(r.err.isEmpty());
  }

  void damagedTableNamesFileBlockAndRecord() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString db = MadeOrders(dir.path());
    const auto h = HeaderOf(db);
    PutBytes(db, RecordAt(h, 2, 2) + FieldOffset(h, "Sale Date"), QByteArray(4, '\xFF'));
    const QByteArray before = Read(db);
    const Run r = Zelcheck({"--deep", db});
    QVERIFY2(r.exitCode == 1, qPrintable(Show(r)));
    QVERIFY2(r.out.startsWith(db + ": damaged (1 problem)\n"), qPrintable(Show(r)));
    QVERIFY2(r.out.contains("  " + db +
                            ", block 2, record 3: Corrupt file - other than header "
                            "(field \"Sale Date\" (D): day "),
             qPrintable(Show(r)));
    QCOMPARE(Read(db), before);
  }

  // One document: the table, clean, and the findings, damage first, each with its severity,
  // file, block, record, code and text. Notes leave the exit status at 0.
  void json_data() {
    QTest::addColumn<bool>("damage");  // a date out of range in block 2, record 3
    QTest::addColumn<bool>("spare");   // two spare blocks at the end of the .PX
    QTest::addColumn<int>("exitCode");
    QTest::newRow("clean") << false << false << 0;
    QTest::newRow("damage") << true << false << 1;
    QTest::newRow("a note only") << false << true << 0;
    QTest::newRow("damage and a note") << true << true << 1;
  }
  void json() {
    QFETCH(bool, damage);
    QFETCH(bool, spare);
    QFETCH(int, exitCode);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString db = MadeOrders(dir.path());
    const auto h = HeaderOf(db);
    if (damage)
      PutBytes(db, RecordAt(h, 2, 2) + FieldOffset(h, "Sale Date"), QByteArray(4, '\xFF'));
    const QString pxFile = Beside(db, ".PX");
    if (spare) Write(pxFile, Read(pxFile) + QByteArray(2 * HeaderOf(pxFile).BlockSize(), '\0'));
    const Run r = Zelcheck({"--deep", "--json", db});
    QVERIFY2(r.exitCode == exitCode, qPrintable(Show(r)));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
    QVERIFY2(error.error == QJsonParseError::NoError && doc.isObject(), qPrintable(Show(r)));
    const QJsonObject o = doc.object();
    QCOMPARE(o["table"].toString(), db);
    QCOMPARE(o["clean"].toBool(), !damage);
    QCOMPARE(o["records"].toInt(), 224);
    const QJsonArray findings = o["findings"].toArray();
    QCOMPARE(findings.size(), int(damage) + int(spare));
    for (const QJsonValue& v : findings) {
      for (const char* key : {"severity", "file", "block", "record", "code", "text"})
        QVERIFY2(v.toObject().contains(key), key);
    }
    if (damage) {
      const QJsonObject f = findings[0].toObject();
      QCOMPARE(f["severity"].toString(), QString("damage"));
      QCOMPARE(f["file"].toString(), db);
      QCOMPARE(f["block"].toInt(), 2);
      QCOMPARE(f["record"].toInt(), 3);
      QCOMPARE(f["code"].toInt(), 0x2302);
      QVERIFY(f["text"].toString().contains("\"Sale Date\""));
    }
    if (spare) {
      const QJsonObject f = findings.last().toObject();
      QCOMPARE(f["severity"].toString(), QString("note"));
      QCOMPARE(f["file"].toString(), pxFile);
      QVERIFY(f["text"].toString().contains("spare blocks"));
    }
  }

  // Notes come after the damage in the text output, and leave a clean table clean.
  void notesAfterTheDamage() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString db = MadeOrders(dir.path());
    const QString pxFile = Beside(db, ".PX");
    Write(pxFile, Read(pxFile) + QByteArray(HeaderOf(pxFile).BlockSize(), '\0'));
    Run r = Zelcheck({"--deep", db});
    QVERIFY2(r.exitCode == 0 && r.out.startsWith(db + ": clean\n"), qPrintable(Show(r)));
    QVERIFY2(r.out.contains("\nNote: " + pxFile + ": the file holds 2 blocks"),
             qPrintable(Show(r)));
    const auto h = HeaderOf(db);
    PutBytes(db, RecordAt(h, 1, 0) + FieldOffset(h, "Sale Date"), QByteArray(4, '\xFF'));
    r = Zelcheck({"--deep", db});
    QVERIFY2(r.exitCode == 1, qPrintable(Show(r)));
    const qsizetype damageAt = r.out.indexOf("Sale Date"), noteAt = r.out.indexOf("Note: ");
    QVERIFY2(damageAt > 0 && noteAt > damageAt, qPrintable(Show(r)));
  }

  // More than twenty: twenty lines, and the verdict says there may be more.
  void stopsAtTwenty() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString db = MadeOrders(dir.path());
    const auto h = HeaderOf(db);
    for (int i = 0; i < 28; ++i)
      PutBytes(db, RecordAt(h, 1, i) + FieldOffset(h, "Ship Date"), QByteArray(4, '\x7F'));
    const Run r = Zelcheck({"--deep", db});
    QVERIFY2(r.exitCode == 1, qPrintable(Show(r)));
    QVERIFY2(r.out.contains("damaged (20 problems shown, there may be more)"), qPrintable(Show(r)));
    QCOMPARE(r.out.count(", record "), 20);
  }

  // A Windows path is mapped into the Wine prefix, as for the other modes.
  void windowsPath() {
    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    const QString folder = prefix.path() + "/drive_c/ZELPOS/TEMPDATA";
    QVERIFY(QDir().mkpath(folder));
    MadeC(folder);
    const Run r = Zelcheck({"--deep", "C:\\ZELPOS\\TEMPDATA\\C.DB"}, prefix.path());
    QVERIFY2(r.exitCode == 0, qPrintable(Show(r)));
    QVERIFY2(r.out.contains(": clean"), qPrintable(Show(r)));
  }

  void badUse_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("says");
    QTest::newRow("no table") << QStringList{"--deep"} << "no table given";
    QTest::newRow("two tables") << QStringList{"--deep", "A.DB", "B.DB"} << "one table at a time";
    QTest::newRow("missing table")
        << QStringList{"--deep", "NOWHERE/NONE.DB"} << "cannot read NOWHERE/NONE.DB";
    QTest::newRow("an index option")
        << QStringList{"--deep", "A.DB", "--index", "X"} << "--deep takes no --index";
    QTest::newRow("with another mode")
        << QStringList{"--deep", "--info", "A.DB"} << "choose one of --deep and --info";
  }
  void badUse() {
    QFETCH(QStringList, args);
    QFETCH(QString, says);
    const Run r = Zelcheck(args);
    QVERIFY2(r.exitCode == 2, qPrintable(Show(r)));
    QVERIFY2(r.err.contains(says), qPrintable(Show(r)));
  }
};

QTEST_GUILESS_MAIN(ZelcheckDeepTest)
#include "tst_zelcheck_deep.moc"
