// The run lock: flock on ZelUtil's folder itself. Another process holding it means another run;
// a holder that ended or was killed leaves nothing that blocks; no file is made; each Wine prefix
// has its own; a missing folder is told apart from one that cannot be locked.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <stdexcept>

#include "platform/posix/FolderRunLock.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TreeSnapshot.h"

using zel::platform::FolderRunLock;
using zel::platform::RunLock;
using zel::test::LockingChild;

Q_DECLARE_METATYPE(RunLock::Outcome)

namespace {

// A Wine prefix with C:\ZelPos (spelt as given) that is in force while this lives.
struct Prefix {
  QTemporaryDir dir;
  explicit Prefix(const QString& folder = "ZelPos") {
    QDir().mkpath(dir.path() + "/drive_c/" + folder);
    qputenv("WINEPREFIX", dir.path().toLocal8Bit());
  }
  QString Folder(const QString& name = "ZelPos") const { return dir.path() + "/drive_c/" + name; }
};

}  // namespace

class FolderRunLockTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { qunsetenv("WINEPREFIX"); }

  void takenAndHeldUntilReleased() {
    Prefix prefix;
    const auto before = zel::test::SnapshotTree(prefix.dir.path());
    {
      FolderRunLock lock("C:\\ZelPos");
      QCOMPARE(lock.Take(), RunLock::Outcome::Taken);
      QCOMPARE(lock.Take(), RunLock::Outcome::Taken);  // this process holds it already
      LockingChild second(prefix.Folder().toStdString(), LockingChild::Kind::Flock);
      QVERIFY(!second.Locked());
      QCOMPARE(zel::test::SnapshotTree(prefix.dir.path()), before);  // no file made
    }
    LockingChild afterwards(prefix.Folder().toStdString(), LockingChild::Kind::Flock);
    QVERIFY(afterwards.Locked());
  }

  // Only a live holder counts: one that ended or was killed (a crashed run) blocks nothing.
  void otherHolder_data() {
    QTest::addColumn<QString>("holder");
    QTest::addColumn<RunLock::Outcome>("outcome");
    QTest::newRow("live") << "live" << RunLock::Outcome::HeldByOtherRun;
    QTest::newRow("killed") << "killed" << RunLock::Outcome::Taken;
    QTest::newRow("ended") << "ended" << RunLock::Outcome::Taken;
  }
  void otherHolder() {
    QFETCH(QString, holder);
    QFETCH(RunLock::Outcome, outcome);
    Prefix prefix("ZELPOS");  // found without regard to case, as Wine does
    LockingChild other(prefix.Folder("ZELPOS").toStdString(), LockingChild::Kind::Flock);
    QVERIFY(other.Locked());
    if (holder == "killed") other.Kill();
    if (holder == "ended") other.Release();
    FolderRunLock lock("C:\\ZelPos");
    QCOMPARE(lock.Take(), outcome);
    QCOMPARE(QDir(prefix.dir.path() + "/drive_c")
                 .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"ZELPOS"});
  }

  void missingFolder_data() {
    QTest::addColumn<QString>("layout");
    QTest::newRow("no drive C:") << "none";
    QTest::newRow("no ZelPos") << "drive";
    QTest::newRow("ZelPos is a file") << "file";
  }
  void missingFolder() {
    QFETCH(QString, layout);
    QTemporaryDir dir;
    qputenv("WINEPREFIX", dir.path().toLocal8Bit());
    if (layout != "none") QDir().mkpath(dir.path() + "/drive_c");
    if (layout == "file") {
      QFile f(dir.path() + "/drive_c/ZelPos");
      QVERIFY(f.open(QIODevice::WriteOnly));
    }
    const auto before = zel::test::SnapshotTree(dir.path());
    FolderRunLock lock("C:\\ZelPos");
    QCOMPARE(lock.Take(), RunLock::Outcome::NoFolder);
    QCOMPARE(zel::test::SnapshotTree(dir.path()), before);  // nothing created
  }

  // Runs on different prefixes do not collide; a lock that follows a changed prefix lets go of
  // the old folder.
  void prefixesAreIndependent() {
    Prefix a;
    LockingChild holderOfA(a.Folder().toStdString(), LockingChild::Kind::Flock);
    QVERIFY(holderOfA.Locked());
    Prefix b;
    FolderRunLock lock("C:\\ZelPos");
    QCOMPARE(lock.Take(), RunLock::Outcome::Taken);
    holderOfA.Release();
    qputenv("WINEPREFIX", a.dir.path().toLocal8Bit());
    QCOMPARE(lock.Take(), RunLock::Outcome::Taken);
    LockingChild holderOfB(b.Folder().toStdString(), LockingChild::Kind::Flock);
    QVERIFY(holderOfB.Locked());
  }

  // A folder that is there but cannot be opened is an error naming it, not a free pass. As root
  // the check runs as an ordinary user, since root may open any folder.
  void unreadableFolderIsAnError() {
    Prefix prefix;
    QVERIFY(QFile::setPermissions(prefix.dir.path(), QFileDevice::Permissions(0x7755)));
    QVERIFY(QFile::setPermissions(prefix.Folder(), QFileDevice::Permissions(0x3333)));  // -wx
    const int status = zel::test::RunAsOrdinaryUser([] {
      FolderRunLock lock("C:\\ZelPos");
      try {
        lock.Take();
      } catch (const std::runtime_error& e) {
        const std::string text = e.what();
        return text.find("C:\\ZelPos") != std::string::npos &&
                       text.find("drive_c/ZelPos") != std::string::npos
                   ? 0
                   : 2;
      }
      return 1;
    });
    QFile::setPermissions(prefix.Folder(), QFileDevice::Permissions(0x7755));
    QCOMPARE(status, 0);
  }
};

QTEST_GUILESS_MAIN(FolderRunLockTest)
#include "FolderRunLockTest.moc"
