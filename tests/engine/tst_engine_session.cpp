// Session and table object: aliases, table names, the after-close event, and the lock files the
// session keeps, checked from a second process where fcntl locks matter.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"
#include "tests/engine/EngineFixtures.h"

using namespace zel::engine;
namespace ec = zel::engine::ErrorCode;

namespace {

// A second process that holds a write lock on a file until it is finished.
class LockHolder {
 public:
  explicit LockHolder(const QString& file) {
    process_.start(ZEL_LOCK_HOLDER, {"hold", file});
    process_.waitForReadyRead(10000);
    locked_ = process_.readAll().trimmed() == "locked";
  }
  ~LockHolder() {
    process_.closeWriteChannel();
    if (!process_.waitForFinished(10000)) process_.kill();
  }
  bool Locked() const { return locked_; }

 private:
  QProcess process_;
  bool locked_ = false;
};

// What another process sees of a file's locks.
QString ProbeFromOutside(const QString& file) {
  QProcess p;
  p.start(ZEL_LOCK_HOLDER, {"probe", file});
  p.waitForFinished(10000);
  return QString::fromLatin1(p.readAllStandardOutput()).trimmed();
}

int OpenCode(Table& table) {
  try {
    table.Open();
  } catch (const EngineError& e) {
    return e.Code();
  }
  return 0;
}

}  // namespace

class EngineSessionTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir prefix_;
  QString temp_;  // C:\ZELPOS\TEMPDATA on the host
  QString Lck(const QString& name) const { return temp_ + "/" + name; }
  QString Net() const { return prefix_.path() + "/drive_c/PDOXUSRS.NET"; }

 private slots:
  void initTestCase() {
    QVERIFY(prefix_.isValid());
    qputenv("WINEPREFIX", prefix_.path().toLocal8Bit());
    temp_ = prefix_.path() + "/drive_c/ZelPos/TempData";  // case as a real install may have it
    QVERIFY(QDir().mkpath(temp_));
    enginetest::MadeOrders(temp_, "Orders");
    enginetest::MadeFk1(temp_);
  }

  void init() { Session::Default().Close(); }
  void cleanup() {
    Session::Default().Close();
    for (const QString& f : {Lck("PARADOX.LCK"), Lck("PDOXUSRS.LCK"), Net()}) QFile::remove(f);
  }

  void aliases_data() {
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("expected");
    QTest::newRow("upper") << "TEMPDATA"
                           << "ORDERS.db" << 0;
    QTest::newRow("lower") << "tempdata"
                           << "orders.db" << 0;
    QTest::newRow("mixed") << "TempData"
                           << "Orders.DB" << 0;
    QTest::newRow("no extension") << "TEMPDATA"
                                  << "ORDERS" << 0;
    QTest::newRow("other folder") << "HISTORY"
                                  << "ORDERS.db" << int(ec::TableDoesNotExist);
    QTest::newRow("unknown alias") << "TEMPDAT"
                                   << "ORDERS.db" << int(ec::UnknownAlias);
    QTest::newRow("no alias") << ""
                              << "ORDERS.db" << int(ec::UnknownAlias);
    QTest::newRow("full path, any alias") << "NOSUCH"
                                          << "C:\\ZELPOS\\TEMPDATA\\ORDERS" << 0;
    QTest::newRow("full path, lower case") << ""
                                           << "c:\\zelpos\\tempdata\\fk1" << 0;
    QTest::newRow("full path missing")
        << "TEMPDATA"
        << "C:\\ZELPOS\\TEMPDATA\\NOPE" << int(ec::TableDoesNotExist);
  }
  void aliases() {
    QFETCH(QString, alias);
    QFETCH(QString, table);
    QFETCH(int, expected);
    Table t;
    t.SetDatabaseName(alias.toStdString());
    t.SetTableName(table.toStdString());
    QCOMPARE(OpenCode(t), expected);
    QCOMPARE(t.Active(), expected == 0);
    t.Close();
  }

  void openStartsSessionAndCloseFiresAfterClose() {
    QVERIFY(!Session::Default().IsOpen());
    Table t;
    int closes = 0;
    t.AfterClose = [&](Table& closed) {
      QCOMPARE(&closed, &t);
      QVERIFY(!closed.Active());
      ++closes;
    };
    t.Close();  // never opened: nothing happens
    QCOMPARE(closes, 0);
    t.SetDatabaseName("TEMPDATA");
    t.SetTableName("ORDERS.db");
    t.Open();
    QVERIFY(Session::Default().IsOpen());
    QVERIFY(t.Active());
    t.Close();
    QCOMPARE(closes, 1);
    t.Close();  // already closed
    QCOMPARE(closes, 1);
    QVERIFY(Session::Default().IsOpen());  // the session stays open until closed

    t.SetIndexName("nosuch");  // a failed open leaves the table closed: no event
    QCOMPARE(OpenCode(t), int(ec::IndexDoesNotExist));
    t.Close();
    QCOMPARE(closes, 1);

    t.SetIndexName("");
    t.Open();
    Session::Default().Close();  // closes the open table first, with its event
    QCOMPARE(closes, 2);
    QVERIFY(!t.Active());
  }

  void lockFilesHeldAndRemovedOnSessionClose() {
    Table t;
    t.SetDatabaseName("TEMPDATA");
    t.SetTableName("ORDERS.db");
    t.Open();
    for (const QString& f : {Lck("PARADOX.LCK"), Lck("PDOXUSRS.LCK"), Net()}) {
      QVERIFY2(QFile::exists(f), qPrintable(f));
      QCOMPARE(ProbeFromOutside(f), QString("locked"));
    }
    t.Close();
    // Ours, so not foreign: the same session opens the table again.
    t.Open();
    t.Close();
    Session::Default().Close();
    for (const QString& f : {Lck("PARADOX.LCK"), Lck("PDOXUSRS.LCK"), Net()}) {
      QVERIFY2(!QFile::exists(f), qPrintable(f));
    }
  }

  void sessionRemovesOnlyWhatItMade() {
    enginetest::Write(Net(), "someone else's");
    Table t;
    t.SetDatabaseName("TEMPDATA");
    t.SetTableName("ORDERS.db");
    t.Open();
    t.Close();
    Session::Default().Close();
    QVERIFY(QFile::exists(Net()));
    QCOMPARE(enginetest::Read(Net()), QByteArray("someone else's"));
    QVERIFY(!QFile::exists(Lck("PARADOX.LCK")));
  }

  void copesWithAfterCloseDeletingLockFiles() {
    Table t;
    t.SetDatabaseName("TEMPDATA");
    t.SetTableName("ORDERS.db");
    t.AfterClose = [this](Table&) {
      for (const QString& f : {Lck("PARADOX.LCK"), Lck("PDOXUSRS.LCK"), Net()}) QFile::remove(f);
    };
    for (int i = 0; i < 3; ++i) {
      t.Open();
      QVERIFY(QFile::exists(Lck("PDOXUSRS.LCK")));
      QCOMPARE(ProbeFromOutside(Lck("PDOXUSRS.LCK")), QString("locked"));
      t.Close();
      QVERIFY(!QFile::exists(Lck("PDOXUSRS.LCK")));
    }
    t.Open();
    const QByteArray before = "x";
    // A lock file of the same name made by someone else after ours was deleted is foreign,
    // and the session's close leaves it alone.
    t.Close();
    enginetest::Write(Lck("PARADOX.LCK"), before);
    Session::Default().Close();
    QVERIFY(QFile::exists(Lck("PARADOX.LCK")));
  }

  void foreignLockFiles_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("held");
    QTest::addColumn<int>("expected");
    QTest::newRow("stale PARADOX.LCK") << "PARADOX.LCK" << false << int(ec::ForeignNetFile);
    QTest::newRow("stale pdoxusrs.lck") << "pdoxusrs.lck" << false << int(ec::ForeignNetFile);
    QTest::newRow("PDOXUSRS.LCK in use") << "PDOXUSRS.LCK" << true << int(ec::DirectoryBusy);
    QTest::newRow("table in use") << "Orders.DB" << true << int(ec::TableBusy);
    QTest::newRow("index in use") << "Orders.PX" << true << int(ec::TableBusy);
  }
  void foreignLockFiles() {
    QFETCH(QString, file);
    QFETCH(bool, held);
    QFETCH(int, expected);
    const QString path = temp_ + "/" + file;
    const bool made = !QFile::exists(path);
    if (made) enginetest::Write(path, "");
    {
      std::unique_ptr<LockHolder> holder;
      if (held) {
        holder = std::make_unique<LockHolder>(path);
        QVERIFY(holder->Locked());
      }
      Table t;
      int closes = 0;
      t.AfterClose = [&](Table&) { ++closes; };
      t.SetDatabaseName("TEMPDATA");
      t.SetTableName("ORDERS.db");
      QCOMPARE(OpenCode(t), expected);
      QVERIFY(!t.Active());
      t.Close();
      QCOMPARE(closes, 0);
    }
    QVERIFY(QFile::exists(path));  // never removed by the engine
    if (made) QFile::remove(path);
    Session::Default().Close();
    // Once the other program is gone and the stale file removed, the table opens.
    Table t;
    t.SetDatabaseName("TEMPDATA");
    t.SetTableName("ORDERS.db");
    QCOMPARE(OpenCode(t), 0);
    t.Close();
  }

  // A FIFO in the place of a table's file or of a lock file never hangs the open (each row runs
  // in a child process under a watchdog): the table is unusable, as for any other damage, with
  // "not a regular file" and the path where the engine reads the file.
  void fifoInAFilesPlace_data() {
    QTest::addColumn<QString>("file");  // relative to drive C:
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("message");
    QTest::newRow("data file") << "ZelPos/TempData/Orders.DB" << int(ec::ReadFailed)
                               << "Cannot read file (not a regular file)";
    QTest::newRow("primary index") << "ZelPos/TempData/Orders.PX" << int(ec::ReadFailed)
                                   << "Cannot read file (not a regular file)";
    QTest::newRow("network control file") << "PDOXUSRS.NET" << int(ec::CannotLockNetFile)
                                          << "Cannot lock network file (not a regular file)";
    QTest::newRow("folder lock file")
        << "ZelPos/TempData/PARADOX.LCK" << int(ec::ForeignNetFile) << "";
  }
  void fifoInAFilesPlace() {
    QFETCH(QString, file);
    QFETCH(int, expected);
    QFETCH(QString, message);
    const QString path = prefix_.path() + "/drive_c/" + file;
    const bool had = QFile::exists(path);
    if (had) QVERIFY(QFile::rename(path, path + ".kept"));
    const auto restore = qScopeGuard([&] {
      QFile::remove(path);
      if (had) QFile::rename(path + ".kept", path);
    });
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);

    int pipeFds[2];
    QCOMPARE(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(pipeFds[0]);
      std::string said = "0";
      Table t;
      t.SetDatabaseName("TEMPDATA");
      t.SetTableName("ORDERS.db");
      try {
        t.Open();
      } catch (const EngineError& e) {
        said = std::to_string(e.Code()) + "\n" + e.what();
      }
      (void)!::write(pipeFds[1], said.data(), said.size());
      ::_exit(0);
    }
    ::close(pipeFds[1]);
    bool finished = false;
    for (int waited = 0; waited < 1000 && !finished; ++waited) {
      finished = ::waitpid(child, nullptr, WNOHANG) == child;
      if (!finished) ::usleep(10000);
    }
    if (!finished) {
      ::kill(child, SIGKILL);
      ::waitpid(child, nullptr, 0);
    }
    QByteArray said;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) said.append(buffer, n);
    ::close(pipeFds[0]);
    QVERIFY2(finished, "the open hung on a FIFO");
    const QList<QByteArray> parts = said.split('\n');
    QCOMPARE(parts.value(0).toInt(), expected);
    if (!message.isEmpty()) {
      QVERIFY2(parts.value(1).contains(message.toUtf8()), said.constData());
      QVERIFY2(parts.value(1).contains(QFile::encodeName(path)), said.constData());
    }
  }
};

QTEST_GUILESS_MAIN(EngineSessionTest)
#include "tst_engine_session.moc"
