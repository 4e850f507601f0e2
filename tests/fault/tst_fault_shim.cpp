// The fault layer itself: what it makes a program see, what it records, and that it leaves
// alone what lies outside its root.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "PowerLoss.h"
#include "tests/support/FaultPreload.h"

namespace {

const QString kShim = ZEL_FAULT_SHIM;
const QString kProbe = ZEL_FAULT_PROBE;

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

void PreloadFirst(QProcessEnvironment& env) {
  env.insert("ASAN_OPTIONS", zel::test::AsanOptionsAllowingPreload(env.value("ASAN_OPTIONS")));
}

}  // namespace

class FaultShimTest : public QObject {
  Q_OBJECT

 private slots:
  void layer_data() {
    QTest::addColumn<QStringList>("arguments");    // after the probe's name; FILE is put in
    QTest::addColumn<QStringList>("environment");  // ROOT and OUTSIDE are put in
    QTest::addColumn<QByteArray>("before");        // FILE's bytes first; "<absent>": none
    QTest::addColumn<bool>("killed");
    QTest::addColumn<QStringList>("output");
    QTest::addColumn<QByteArray>("after");    // FILE's bytes at the end
    QTest::addColumn<QStringList>("traced");  // the kinds the trace records, in order

    const QByteArray absent("<absent>");
    QTest::newRow("a write failing once gives ENOSPC, the next one is done")
        << QStringList{"write2", "FILE"}
        << QStringList{"ZEL_FAULT_FAIL=1", "ZEL_FAULT_ERRNO=ENOSPC"} << absent << false
        << QStringList{"write -1 ENOSPC", "write 1 -"} << QByteArray("b")
        << QStringList{"create", "write", "write"};
    QTest::newRow("failing from the first on fails every write with EIO")
        << QStringList{"write2", "FILE"}
        << QStringList{"ZEL_FAULT_FAIL=1", "ZEL_FAULT_FAIL_MODE=from", "ZEL_FAULT_ERRNO=EIO"}
        << absent << false << QStringList{"write -1 EIO", "write -1 EIO"} << QByteArray("")
        << QStringList{"create", "write", "write"};
    QTest::newRow("a kill before the unlink leaves the file")
        << QStringList{"unlink", "FILE"} << QStringList{"ZEL_FAULT_CRASH=before:1"}
        << QByteArray("kept") << true << QStringList{} << QByteArray("kept")
        << QStringList{"unlink"};
    QTest::newRow("a kill after the unlink leaves it removed")
        << QStringList{"unlink", "FILE"} << QStringList{"ZEL_FAULT_CRASH=after:1"}
        << QByteArray("kept") << true << QStringList{} << absent << QStringList{"unlink", "unlink"};
    QTest::newRow("a truncating open of an existing file is destructive")
        << QStringList{"truncate", "FILE"} << QStringList{"ZEL_FAULT_CRASH=before:1"}
        << QByteArray("kept") << true << QStringList{} << QByteArray("kept")
        << QStringList{"open-trunc"};
    QTest::newRow("writes, fsync, rename and unlink are recorded in order")
        << QStringList{"commit", "FILE", "ROOT/new"} << QStringList{"ZEL_FAULT_CRASH=after:2"}
        << QByteArray("old") << true << QStringList{"write 3 -", "fsync 0 -", "rename 0 -"}
        << absent << QStringList{"create", "write", "fsync", "rename", "unlink", "unlink"};
    QTest::newRow("a kill before the second destructive operation stops at the unlink")
        << QStringList{"commit", "FILE", "ROOT/new"} << QStringList{"ZEL_FAULT_CRASH=before:2"}
        << QByteArray("old") << true << QStringList{"write 3 -", "fsync 0 -", "rename 0 -"}
        << QByteArray("old") << QStringList{"create", "write", "fsync", "rename", "unlink"};
    QTest::newRow("a failed rename is not done")
        << QStringList{"commit", "FILE", "ROOT/new"} << QStringList{"ZEL_FAULT_FAIL=3"}
        << QByteArray("old") << false
        << QStringList{"write 3 -", "fsync 0 -", "rename -1 EIO", "unlink 0 -"} << absent
        << QStringList{"create", "write", "fsync", "rename", "unlink"};
    QTest::newRow("operations outside the root are neither counted nor failed")
        << QStringList{"write2", "OUTSIDE/file"}
        << QStringList{"ZEL_FAULT_FAIL=1", "ZEL_FAULT_FAIL_MODE=from"} << absent << false
        << QStringList{"write 1 -", "write 1 -"} << absent << QStringList{};
    QTest::newRow("pauses are skipped")
        << QStringList{"sleep", "30000"} << QStringList{"ZEL_FAULT_NOSLEEP=1"} << absent << false
        << QStringList{"nanosleep 0 -", "clock_nanosleep 0 -", "usleep 0 -"} << absent
        << QStringList{};
  }

  void layer() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(QByteArray, before);
    QFETCH(bool, killed);
    QFETCH(QStringList, output);
    QFETCH(QByteArray, after);
    QFETCH(QStringList, traced);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString root = work.path() + "/root";
    const QString outside = work.path() + "/outside";
    QVERIFY(QDir().mkpath(root) && QDir().mkpath(outside));
    const QString file = root + "/file";
    const QString trace = work.path() + "/trace";
    if (before != "<absent>") {
      QFile f(file);
      QVERIFY(f.open(QIODevice::WriteOnly) && f.write(before) == before.size());
    }

    const auto place = [&](QString text) {
      return text.replace("OUTSIDE", outside).replace("ROOT", root).replace("FILE", file);
    };
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LD_PRELOAD", kShim);
    PreloadFirst(env);
    env.insert("ZEL_FAULT_ROOT", root);
    env.insert("ZEL_FAULT_TRACE", trace);
    for (const QString& setting : environment) {
      const qsizetype eq = setting.indexOf('=');
      env.insert(setting.left(eq), place(setting.mid(eq + 1)));
    }
    QStringList args;
    for (const QString& a : arguments) args << place(a);

    QProcess probe;
    probe.setProcessEnvironment(env);
    probe.start(kProbe, args);
    QVERIFY2(probe.waitForFinished(60000), "the probe did not finish");
    const QString err = QString::fromLocal8Bit(probe.readAllStandardError());
    if (killed) {
      QCOMPARE(probe.exitStatus(), QProcess::CrashExit);
    } else {
      QVERIFY2(probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0,
               qPrintable("the probe failed: " + err));
    }

    QStringList lines = QString::fromLocal8Bit(probe.readAllStandardOutput()).split('\n');
    lines.removeAll(QString());
    QString slept;
    if (!lines.isEmpty() && lines.last().startsWith("slept ")) slept = lines.takeLast();
    QCOMPARE(lines, output);
    if (!slept.isEmpty())  // half a minute of pauses asked for; none taken
      QVERIFY2(slept.mid(6).toLongLong() < 30000, qPrintable(slept));

    QCOMPARE(ReadFile(file), after);

    QStringList kinds;
    const QByteArray traceText = QFile::exists(trace) ? ReadFile(trace) : QByteArray();
    for (const QByteArray& line : traceText.split('\n'))
      if (!line.isEmpty()) kinds << QString::fromUtf8(line.split(' ').value(1));
    QVERIFY2(kinds == traced, traceText.constData());
    if (killed) QVERIFY2(traceText.contains("killed-"), traceText.constData());
  }

  // Destructive operations and fault-countable ones are numbered apart, as the sweeps rely on.
  void numbering() {
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString file = work.path() + "/file";
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("old") == 3);
    f.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LD_PRELOAD", kShim);
    PreloadFirst(env);
    env.insert("ZEL_FAULT_ROOT", work.path());
    QTemporaryDir traceDir;
    QVERIFY(traceDir.isValid());
    const QString tracePath = traceDir.path() + "/trace";
    env.insert("ZEL_FAULT_TRACE", tracePath);
    QProcess probe;
    probe.setProcessEnvironment(env);
    probe.start(kProbe, {"commit", file, work.path() + "/new"});
    QVERIFY(probe.waitForFinished(60000));
    QCOMPARE(probe.exitCode(), 0);
    const QByteArray trace = ReadFile(tracePath);
    const QList<QByteArray> lines = trace.trimmed().split('\n');
    QCOMPARE(lines.size(), 5);
    QVERIFY2(lines[0].startsWith("1 create d=- io=- "), lines[0].constData());
    QVERIFY2(lines[1].startsWith("2 write d=- io=1 "), lines[1].constData());
    QVERIFY2(lines[2].startsWith("3 fsync d=- io=2 "), lines[2].constData());
    QVERIFY2(lines[3].startsWith("4 rename d=1 io=3 ") && lines[3].contains(" -> "),
             lines[3].constData());
    QVERIFY2(lines[4].startsWith("5 unlink d=2 io=- ") && lines[4].endsWith("= 0"),
             lines[4].constData());
  }

  void powerCut_data() {
    QTest::addColumn<QStringList>("arguments");  // after the probe's name; ROOT is put in
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<int>("cut");            // a PowerLossKind, or -1: the kill alone
    QTest::addColumn<QStringList>("files");  // NAME=BYTES under ROOT afterwards; "-": none
    const QStringList commit{"commit", "ROOT/file", "ROOT/new"};
    const QStringList afterUnlink{"ZEL_FAULT_CRASH=after:2"};
    QTest::newRow("names not synced in their folder are undone, the replaced file comes back")
        << commit << afterUnlink << int(zelfault::PowerLossKind::Entries)
        << QStringList{"file=old", "new=-", "new.tmp=-"};
    QTest::newRow("contents synced before the rename stay under the new name")
        << commit << afterUnlink << int(zelfault::PowerLossKind::Data)
        << QStringList{"file=-", "new=new", "new.tmp=-"};
    QTest::newRow("appends never synced are lost")
        << QStringList{"write2", "ROOT/file"} << QStringList{} << int(zelfault::PowerLossKind::Data)
        << QStringList{"file=old"};
    QTest::newRow("a torn write leaves the first half of its bytes")
        << commit << QStringList{"ZEL_FAULT_TORN=1"} << -1 << QStringList{"new.tmp=n", "file=old"};
  }

  // The power-cut record and what it takes back.
  void powerCut() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(int, cut);
    QFETCH(QStringList, files);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString root = work.path() + "/root";
    const QString journal = work.path() + "/journal";
    QVERIFY(QDir().mkpath(root) && QDir().mkpath(journal));
    {
      QFile f(root + "/file");
      QVERIFY(f.open(QIODevice::WriteOnly) && f.write("old") == 3);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LD_PRELOAD", kShim);
    PreloadFirst(env);
    env.insert("ZEL_FAULT_ROOT", root);
    env.insert("ZEL_FAULT_POWERLOSS", journal);
    for (const QString& setting : environment)
      env.insert(setting.section('=', 0, 0), setting.section('=', 1));
    QStringList args;
    for (QString a : arguments) args << a.replace("ROOT", root);
    QProcess probe;
    probe.setProcessEnvironment(env);
    probe.start(kProbe, args);
    QVERIFY2(probe.waitForFinished(60000), "the probe did not finish");
    if (cut >= 0) {
      try {
        zelfault::ApplyPowerLoss(journal.toStdString(), static_cast<zelfault::PowerLossKind>(cut));
      } catch (const std::exception& e) {
        QFAIL(e.what());
      }
    }
    for (const QString& expected : files) {
      const QString name = expected.section('=', 0, 0);
      const QByteArray bytes = expected.section('=', 1).toUtf8();
      QCOMPARE(ReadFile(root + "/" + name), bytes == "-" ? QByteArray("<absent>") : bytes);
    }
  }
};

QTEST_GUILESS_MAIN(FaultShimTest)
#include "tst_fault_shim.moc"
