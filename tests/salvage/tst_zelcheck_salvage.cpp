// zelcheck --salvage: what it prints and its exit status (0 output written, 1 nothing could be
// read, 2 bad arguments, among them an existing new table, which is never overwritten).
#include <QProcess>
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
  QTest::newRow("--to=NEW form") << "block" << QStringList{"--salvage", "DAMAGED", "--to=NEW"}
                                 << 0 << "recovered:          196" << true;
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
  QTest::newRow("missing damaged table")
      << "missing" << plain << 2 << "cannot read" << false;
  QTest::newRow("--like not a table")
      << "header" << QStringList{"--salvage", "DAMAGED", "--to", "NEW", "--like", "NOTATABLE"}
      << 2 << "template" << false;
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

QTEST_GUILESS_MAIN(TestZelcheckSalvage)
#include "tst_zelcheck_salvage.moc"
