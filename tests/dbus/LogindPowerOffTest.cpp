// Power-off requests against a private dbus-daemon with a fake logind in another process. The
// machine's system bus is never used: DBUS_SYSTEM_BUS_ADDRESS names the private daemon before the
// first D-Bus call, and every test checks that it still does.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <optional>

#include "platform/linux/LogindPowerOff.h"
#include "tests/support/BusConfig.h"

using zel::platform::LogindPowerOff;
using zel::test::BusConfig;

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");

}  // namespace

class LogindPowerOffTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    const QString config = dir_.filePath("system-bus.conf");
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(BusConfig(dir_.filePath("system_bus_socket")).toUtf8());
    file.close();

    daemon_.setProgram(QStringLiteral(ZEL_DBUS_DAEMON));
    daemon_.setArguments({"--config-file=" + config, "--nofork", "--print-address=1"});
    daemon_.start();
    QVERIFY2(daemon_.waitForStarted(5000), qPrintable(daemon_.errorString()));
    while (!daemon_.canReadLine()) QVERIFY(daemon_.waitForReadyRead(5000));
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    QVERIFY(address_.startsWith("unix:path=" + dir_.path()));

    // Before anything in this process opens the system bus.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address_.toUtf8());
    bus_ = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(address_, QStringLiteral("observer")));
    QVERIFY(bus_->isConnected());
  }

  void init() { QCOMPARE(qgetenv("DBUS_SYSTEM_BUS_ADDRESS"), address_.toUtf8()); }

  void cleanup() {
    if (logind_) {
      logind_->kill();
      logind_->waitForFinished(5000);
      logind_.reset();
    }
    QTRY_VERIFY(!bus_->interface()->isServiceRegistered(kLogind).value());
  }

  void cleanupTestCase() {
    bus_.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("observer"));
    daemon_.kill();
    daemon_.waitForFinished(5000);
  }

  // What ShutDownPc asks of the platform: the right first, then the request with its flags.
  // Each case both ways: waiting for the answer (the console reports it in place) and returning
  // at once with the answer from the event loop (the window).
  void requestReachesLogind_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("waits");
    const QString can = "CanPowerOff interactive=false";
    const auto row = [](const char* name, const QString& mode, unsigned flags, bool accepted,
                        const QStringList& calls) {
      QTest::addRow("%s, waiting", name) << mode << flags << accepted << calls << true;
      QTest::addRow("%s, at once", name) << mode << flags << accepted << calls << false;
    };
    row("forced power-off", "accept", 12u, true, {can, "PowerOffWithFlags 16 interactive=false"});
    row("power-off", "accept", 8u, true, {can, "PowerOffWithFlags 0 interactive=false"});
    row("reboot", "accept", 2u, true, {can, "RebootWithFlags 0 interactive=false"});
    row("forced reboot", "accept", 6u, true, {can, "RebootWithFlags 16 interactive=false"});
    row("shutdown powers off", "accept", 1u, true, {can, "PowerOffWithFlags 0 interactive=false"});
    row("log-off is no power-off", "accept", 4u, false, {can});
    row("refused", "refuse", 12u, false, {can, "PowerOffWithFlags 16 interactive=false"});
    row("logind without WithFlags", "old", 12u, true,
        {can, "PowerOffWithFlags 16 interactive=false", "PowerOff false interactive=false"});
    row("logind without the skip flag", "noskip", 12u, true,
        {can, "PowerOffWithFlags 16 interactive=false", "PowerOff false interactive=false"});
    row("logind without the skip flag, unforced", "noskip", 2u, true,
        {can, "RebootWithFlags 0 interactive=false"});
  }
  void requestReachesLogind() {
    QFETCH(QString, mode);
    QFETCH(unsigned, flags);
    QFETCH(bool, accepted);
    QFETCH(QStringList, calls);
    QFETCH(bool, waits);
    QVERIFY(StartLogind(mode));

    LogindPowerOff powerOff;  // the system bus, which is the private daemon here
    powerOff.AcquireShutdownRight();
    if (waits) {
      QCOMPARE(powerOff.RequestShutdown(flags), accepted);
    } else {
      std::optional<bool> answer;
      const bool sent = powerOff.RequestShutdownThen(flags, [&answer](bool a) {
        QVERIFY(!answer.has_value());  // exactly once
        answer = a;
      });
      QCOMPARE(sent, calls.size() > 1);  // only a log-off is refused before any call
      QTRY_VERIFY(answer.has_value());
      QCOMPARE(*answer, accepted);
    }
    // CanPowerOff is not waited for, so its line may land a moment later.
    QTRY_COMPARE(LoggedCalls(), calls);
  }

  // A logind that answers late or never must not hold up the caller: the request returns before
  // any answer can have come, and the answer (or the refusal at the reply timeout) follows from
  // the event loop.
  void slowOrHungLogindDoesNotBlock_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("replyTimeoutMs");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("slow logind accepts") << "slow" << 10000 << true;
    QTest::newRow("hung logind: refused at the timeout") << "hang" << 1000 << false;
  }
  void slowOrHungLogindDoesNotBlock() {
    QFETCH(QString, mode);
    QFETCH(int, replyTimeoutMs);
    QFETCH(bool, accepted);
    QVERIFY(StartLogind(mode, 1500));
    LogindPowerOff powerOff(QDBusConnection::systemBus(), replyTimeoutMs);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(10);

    QElapsedTimer timer;
    timer.start();
    std::optional<bool> answer;
    powerOff.AcquireShutdownRight();
    QVERIFY(powerOff.RequestShutdownThen(12, [&answer](bool a) { answer = a; }));
    // Blocking calls took up to 5 s each here; returning at all before the answer shows none
    // was waited for. The bound on the time is generous on purpose.
    QVERIFY(!answer.has_value());
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));

    const int ticksBefore = ticks;
    QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), 15000);
    QCOMPARE(*answer, accepted);
    QVERIFY(ticks > ticksBefore);  // the event loop ran on while the answer was on its way
    QTRY_COMPARE(LoggedCalls(), (QStringList{"CanPowerOff interactive=false",
                                             "PowerOffWithFlags 16 interactive=false"}));
  }

  // The console reports the answer in place: the waiting form gives a hung logind's request up
  // as refused once the reply timeout has passed.
  void waitingForHungLogindEndsRefused() {
    QVERIFY(StartLogind("hang"));
    LogindPowerOff powerOff(QDBusConnection::systemBus(), 500);
    QVERIFY(!powerOff.RequestShutdown(12));
  }

  // A program closed right after asking still gets its power-off out, fallback included; the
  // answer has nobody left to go to and is dropped.
  void requestOnItsWayOutlivesTheObject() {
    QVERIFY(StartLogind("old"));
    bool answered = false;
    {
      LogindPowerOff powerOff;
      QVERIFY(powerOff.RequestShutdownThen(12, [&answered](bool) { answered = true; }));
    }
    QVERIFY(!answered);
    QCOMPARE(LoggedCalls(), (QStringList{"PowerOffWithFlags 16 interactive=false",
                                         "PowerOff false interactive=false"}));
  }

  void givenConnectionIsUsed() {
    QVERIFY(StartLogind("accept"));
    LogindPowerOff powerOff(*bus_);
    QVERIFY(powerOff.RequestShutdown(12));
    QCOMPARE(LoggedCalls(), QStringList{"PowerOffWithFlags 16 interactive=false"});
  }

  void noLogindIsRefusedAtOnce() {
    LogindPowerOff powerOff;
    QElapsedTimer timer;
    timer.start();
    powerOff.AcquireShutdownRight();  // silent
    QVERIFY(!powerOff.RequestShutdown(12));
    // The bus answers "no such service" itself; the reply timeout is never waited out.
    QVERIFY(timer.elapsed() < LogindPowerOff::kReplyTimeoutMs);
  }

  void noBusIsRefused() {
    LogindPowerOff powerOff(QDBusConnection(QStringLiteral("never connected")));
    powerOff.AcquireShutdownRight();
    QVERIFY(!powerOff.RequestShutdown(12));
    std::optional<bool> answer;
    QVERIFY(!powerOff.RequestShutdownThen(12, [&answer](bool a) { answer = a; }));
    QCOMPARE(answer, std::optional<bool>(false));  // known at once, so given before the return
  }

 private:
  bool StartLogind(const QString& mode, int delayMs = 0) {
    log_ = dir_.filePath("logind-" + mode + ".log");
    QFile::remove(log_);
    logind_ = std::make_unique<QProcess>();
    logind_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    logind_->start(QStringLiteral(ZEL_FAKE_LOGIND), {"--address", address_, "--mode", mode, "--log",
                                                     log_, "--delay", QString::number(delayMs)});
    while (!logind_->canReadLine())
      if (!logind_->waitForReadyRead(5000)) return false;
    return logind_->readLine() == "ready\n";
  }
  QStringList LoggedCalls() const {
    QFile file(log_);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  }

  QTemporaryDir dir_;
  QProcess daemon_;
  QString address_;
  std::unique_ptr<QDBusConnection> bus_;
  std::unique_ptr<QProcess> logind_;
  QString log_;
};

QTEST_GUILESS_MAIN(LogindPowerOffTest)
#include "LogindPowerOffTest.moc"
