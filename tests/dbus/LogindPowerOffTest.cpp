// Power-off requests against a private dbus-daemon with a fake logind in another process. The
// machine's system bus is never used: DBUS_SYSTEM_BUS_ADDRESS names the private daemon before the
// first D-Bus call, and every test checks that it still does.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "platform/linux/LogindPowerOff.h"

using zel::platform::LogindPowerOff;

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");

QString BusConfig(const QString& socketPath) {
  return QStringLiteral(
             "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
             "<busconfig>\n"
             "  <type>system</type>\n"
             "  <listen>unix:path=%1</listen>\n"
             "  <auth>EXTERNAL</auth>\n"
             "  <policy context=\"default\">\n"
             "    <allow user=\"*\"/>\n"
             "    <allow own=\"*\"/>\n"
             "    <allow send_destination=\"*\"/>\n"
             "    <allow receive_sender=\"*\"/>\n"
             "  </policy>\n"
             "</busconfig>\n")
      .arg(socketPath);
}

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
  void requestReachesLogind_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("calls");
    const QString can = "CanPowerOff interactive=false";
    QTest::newRow("forced power-off")
        << "accept" << 12u << true << QStringList{can, "PowerOffWithFlags 16 interactive=false"};
    QTest::newRow("power-off") << "accept" << 8u << true
                               << QStringList{can, "PowerOffWithFlags 0 interactive=false"};
    QTest::newRow("reboot") << "accept" << 2u << true
                            << QStringList{can, "RebootWithFlags 0 interactive=false"};
    QTest::newRow("forced reboot")
        << "accept" << 6u << true << QStringList{can, "RebootWithFlags 16 interactive=false"};
    QTest::newRow("shutdown powers off")
        << "accept" << 1u << true << QStringList{can, "PowerOffWithFlags 0 interactive=false"};
    QTest::newRow("log-off is no power-off") << "accept" << 4u << false << QStringList{can};
    QTest::newRow("refused") << "refuse" << 12u << false
                             << QStringList{can, "PowerOffWithFlags 16 interactive=false"};
    QTest::newRow("logind without WithFlags")
        << "old" << 12u << true
        << QStringList{can, "PowerOffWithFlags 16 interactive=false",
                       "PowerOff false interactive=false"};
    QTest::newRow("logind without the skip flag")
        << "noskip" << 12u << true
        << QStringList{can, "PowerOffWithFlags 16 interactive=false",
                       "PowerOff false interactive=false"};
    QTest::newRow("logind without the skip flag, unforced")
        << "noskip" << 2u << true << QStringList{can, "RebootWithFlags 0 interactive=false"};
  }
  void requestReachesLogind() {
    QFETCH(QString, mode);
    QFETCH(unsigned, flags);
    QFETCH(bool, accepted);
    QFETCH(QStringList, calls);
    QVERIFY(StartLogind(mode));

    LogindPowerOff powerOff;  // the system bus, which is the private daemon here
    powerOff.AcquireShutdownRight();
    QCOMPARE(powerOff.RequestShutdown(flags), accepted);
    QCOMPARE(LoggedCalls(), calls);
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
  }

 private:
  bool StartLogind(const QString& mode) {
    log_ = dir_.filePath("logind-" + mode + ".log");
    QFile::remove(log_);
    logind_ = std::make_unique<QProcess>();
    logind_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    logind_->start(QStringLiteral(ZEL_FAKE_LOGIND),
                   {"--address", address_, "--mode", mode, "--log", log_});
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
