// zelcheck --salvage: what it prints and its exit status (0 output written, 1 nothing could be
// read, 2 bad arguments, among them an existing new table, which is never overwritten).
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "engine/TableWriter.h"
#include "tests/salvage/SalvageFixtures.h"

using namespace enginetest;
using namespace salvagetest;

class TestZelcheckSalvage : public QObject {
  Q_OBJECT

 private slots:
  void exitStatus_data();
  void exitStatus();
  void everySampleGivesATable_data();
  void everySampleGivesATable();
};

void TestZelcheckSalvage::exitStatus_data() {
  QTest::addColumn<QString>("setup");
  QTest::addColumn<QStringList>("args");  // DAMAGED, NEW, LIKE stand for the paths
  QTest::addColumn<int>("status");
  QTest::addColumn<QString>("says");  // on stdout (status 0, 1) or stderr (2)
  QTest::addColumn<bool>("written");
  const QStringList plain{"--salvage", "DAMAGED", "--to", "NEW"};
  QTest::newRow("sound table") << "sound" << plain << 0 << "recovered:          224" << true;
  QTest::newRow("one block overwritten")
      << "block" << plain << 0 << "unreadable blocks:  1 of 8" << true;
  QTest::newRow("--to=NEW form") << "block" << QStringList{"--salvage", "DAMAGED", "--to=NEW"} << 0
                                 << "recovered:          196" << true;
  QTest::newRow("empty table") << "empty" << plain << 0 << "recovered:          0" << true;
  QTest::newRow("header destroyed, --like")
      << "header" << QStringList{"--salvage", "DAMAGED", "--to", "NEW", "--like", "LIKE"} << 0
      << "header unreadable" << true;
  QTest::newRow("header destroyed, no --like") << "header" << plain << 1 << "--like" << false;
  QTest::newRow("every block wrecked")
      << "wrecked" << plain << 1 << "no record could be read" << false;
  QTest::newRow("existing new table") << "existing" << plain << 2 << "overwrite" << false;
  QTest::newRow("no --to") << "sound" << QStringList{"--salvage", "DAMAGED"} << 2 << "--to"
                           << false;
  QTest::newRow("missing damaged table") << "missing" << plain << 2 << "cannot read" << false;
  QTest::newRow("--like not a table")
      << "header" << QStringList{"--salvage", "DAMAGED", "--to", "NEW", "--like", "NOTATABLE"} << 2
      << "template" << false;
  QTest::newRow("--to without --salvage")
      << "sound" << QStringList{"DAMAGED", "--to", "NEW"} << 2 << "--to" << false;
}

void TestZelcheckSalvage::exitStatus() {
  QFETCH(QString, setup);
  QFETCH(QStringList, args);
  QFETCH(int, status);
  QFETCH(QString, says);
  QFETCH(bool, written);
  QTemporaryDir tmp;
  QString db = MadeOrders(tmp.path());
  const QString like = tmp.path() + "/backup/LIKE.DB";
  QDir().mkpath(tmp.path() + "/backup");
  Write(like, Read(db));
  Write(tmp.path() + "/NOTATABLE.DB", QByteArray(4096, 'x'));
  if (setup == "block") FillBlock(db, 4, '\x3C');
  if (setup == "wrecked")
    for (int b = 1; b <= 8; ++b) FillBlock(db, b, '\x3C');
  if (setup == "header") {
    QByteArray b = Read(db);
    b.replace(0, 0x800, QByteArray(0x800, '\0'));
    Write(db, b);
  }
  if (setup == "empty") {
    db = tmp.path() + "/EMPTY.DB";
    zel::engine::TableDef def;
    def.fields = {{"Id", zel::engine::FieldType::LongInt, 0}};
    zel::engine::CreateTable(db.toStdString(), def);
  }
  if (setup == "existing") Write(tmp.path() + "/NEW.DB", "keep me");
  if (setup == "missing") db = tmp.path() + "/GONE.DB";
  for (QString& a : args) {
    a.replace("DAMAGED", db);
    a.replace("NOTATABLE", tmp.path() + "/NOTATABLE.DB");
    a.replace("LIKE", like);
    a.replace("NEW", tmp.path() + "/NEW.DB");
  }

  QProcess zelcheck;
  zelcheck.start(ZEL_ZELCHECK, args);
  QVERIFY(zelcheck.waitForFinished(60000));
  const QString out = QString::fromUtf8(zelcheck.readAllStandardOutput());
  const QString err = QString::fromUtf8(zelcheck.readAllStandardError());
  QVERIFY2(zelcheck.exitCode() == status, qPrintable(out + err));
  QVERIFY2((status == 2 ? err : out + err).contains(says), qPrintable(out + err));
  if (setup == "existing") {
    QCOMPARE(Read(tmp.path() + "/NEW.DB"), QByteArray("keep me"));
  } else {
    QCOMPARE(QFile::exists(tmp.path() + "/NEW.csv"), written);
  }
}

// Every Borland sample table (but the encrypted ones, which salvage does not decrypt) salvaged
// by zelcheck: a table is written, never only a CSV, and pxlib reads from it the values it
// reads from the sample, BLOB values included. A sample with BLOB fields and no .MB
// (MEMBRE) keeps its other fields; its BLOB values are counted as unreadable.
void TestZelcheckSalvage::everySampleGivesATable_data() {
  QTest::addColumn<QString>("sample");
  const QString root = zel::test::SamplesDir();
  QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
  QStringList found;
  while (it.hasNext()) {
    const QString path = it.next();
    if (!path.endsWith(".db", Qt::CaseInsensitive) || path.contains("encrypt")) continue;
    found << QDir(root).relativeFilePath(path);
  }
  found.sort();
  for (const QString& f : found) QTest::newRow(qPrintable(f)) << f;
  if (found.isEmpty()) QTest::newRow("no samples") << QString();
}

void TestZelcheckSalvage::everySampleGivesATable() {
  QFETCH(QString, sample);
  ZEL_NEED_SAMPLE(sample, "salvage of every sample table");
  QTemporaryDir tmp;
  const QFileInfo info(zel::test::SamplesDir() + '/' + sample);
  const QString db =
      CopyTable(QFileInfo(sample).path() + '/' + info.completeBaseName(), tmp.path());
  QString mb;
  for (const QString& n : QDir(tmp.path()).entryList(QDir::Files))
    if (n.compare(info.completeBaseName() + ".mb", Qt::CaseInsensitive) == 0)
      mb = tmp.path() + '/' + n;
  const QString newDb = tmp.path() + "/out/NEW.DB";
  QDir().mkpath(tmp.path() + "/out");

  QProcess zelcheck;
  zelcheck.start(ZEL_ZELCHECK, {"--salvage", db, "--to", newDb});
  QVERIFY(zelcheck.waitForFinished(120000));
  const QString out = QString::fromUtf8(zelcheck.readAllStandardOutput()) +
                      QString::fromUtf8(zelcheck.readAllStandardError());
  QVERIFY2(zelcheck.exitCode() == 0, qPrintable(out));
  QVERIFY2(out.contains("table: "), qPrintable(out));
  QVERIFY2(!out.contains("not written"), qPrintable(out));

  const PxlibView theirs = PxlibRead(db, mb);
  QVERIFY2(theirs.error.isEmpty(), qPrintable(theirs.error));
  const QString newMb = tmp.path() + "/out/NEW.MB";
  const PxlibView ours = PxlibRead(newDb, mb.isEmpty() ? QString() : newMb);
  QVERIFY2(ours.error.isEmpty(), qPrintable(ours.error));
  QCOMPARE(ours.fields, theirs.fields);
  // Without the sample's .MB its BLOB columns cannot be compared (ours point into a new .MB).
  QList<int> blobColumns;
  for (int i = 0; i < theirs.fields.size(); ++i) {
    const int type = theirs.fields[i].section(' ', -2, -2).toInt();
    if (mb.isEmpty() && type >= 12 && type <= 16) blobColumns << i;
  }
  if (!blobColumns.isEmpty()) QVERIFY2(out.contains("BLOB values unreadable"), qPrintable(out));
  auto strip = [&](QStringList rows) {
    for (QString& r : rows) {
      QStringList cells = r.split('|');
      for (int c : blobColumns) cells[c].clear();
      r = cells.join('|');
    }
    rows.sort();
    return rows;
  };
  // Records salvage drops for a field it does not take as a value (time.db and timestamp.db
  // hold a record blank in every field, TypSammlung a date before 1 AD) are counted as
  // dropped; every other record comes back value for value.
  const QRegularExpressionMatch dropped = QRegularExpression("dropped: *([0-9]+)").match(out);
  QVERIFY2(dropped.hasMatch(), qPrintable(out));
  const QStringList a = strip(ours.rows), b = strip(theirs.rows);
  QCOMPARE(a.size() + dropped.captured(1).toInt(), b.size());
  // Both sorted: every salvaged row must be matched by one of the sample's, in one pass.
  qsizetype j = 0;
  for (const QString& row : a) {
    while (j < b.size() && b[j] < row) ++j;
    QVERIFY2(
        j < b.size() && b[j] == row,
        qPrintable("a salvaged record pxlib does not read from the sample:\n" + row.left(300) +
                   "\nnearest in the sample:\n" + (j < b.size() ? b[j] : QString()).left(300)));
    ++j;
  }
}

QTEST_GUILESS_MAIN(TestZelcheckSalvage)
#include "tst_zelcheck_salvage.moc"
