// A stand-in for systemd-logind on a private bus, run as a separate process by the D-Bus tests.
// Registers org.freedesktop.login1 with the Manager methods the power-off code calls, appends one
// line per call to the log file ("PowerOffWithFlags 16 interactive=false") and answers as the
// mode says:
//   accept  every call succeeds
//   refuse  the power-off and reboot methods fail with AccessDenied, as polkit refusing does
//   old     a logind without the *WithFlags methods (UnknownMethod)
//   noskip  a logind that has *WithFlags but rejects flags it does not know (InvalidArgs)
//   slow    every call succeeds, each answered only after --delay milliseconds
//   hang    no call is ever answered (the caller's reply timeout decides)
//
//   fake_logind --address <bus address> --mode <mode> --log <file> [--delay <ms>]
// Prints "ready" once the name is owned.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QFile>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

class Manager : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

 public:
  Manager(QString mode, QString logPath, int delayMs)
      : mode_(std::move(mode)), log_(logPath), delayMs_(delayMs) {}

  bool OpenLog() { return log_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text); }

 public slots:
  QString CanPowerOff() {
    Record(QStringLiteral("CanPowerOff"));
    return mode_ == QLatin1String("refuse") ? QStringLiteral("no") : QStringLiteral("yes");
  }
  void PowerOff(bool interactive) { Plain(QStringLiteral("PowerOff"), interactive); }
  void Reboot(bool interactive) { Plain(QStringLiteral("Reboot"), interactive); }
  void PowerOffWithFlags(qulonglong flags) {
    WithFlags(QStringLiteral("PowerOffWithFlags"), flags);
  }
  void RebootWithFlags(qulonglong flags) { WithFlags(QStringLiteral("RebootWithFlags"), flags); }

 private:
  void Record(const QString& call) {
    const bool interactive = message().isInteractiveAuthorizationAllowed();
    QTextStream(&log_) << call << " interactive=" << (interactive ? "true" : "false") << '\n';
    log_.flush();
    if (mode_ == QLatin1String("slow")) {
      setDelayedReply(true);
      QTimer::singleShot(delayMs_, this, [bus = connection(), reply = message().createReply()] {
        bus.send(reply);
      });
    } else if (mode_ == QLatin1String("hang")) {
      setDelayedReply(true);  // and never answered
    }
  }
  void Plain(const QString& method, bool interactive) {
    Record(method + (interactive ? QStringLiteral(" true") : QStringLiteral(" false")));
    if (mode_ == QLatin1String("refuse"))
      sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Access denied"));
  }
  void WithFlags(const QString& method, qulonglong flags) {
    Record(method + QLatin1Char(' ') + QString::number(flags));
    if (mode_ == QLatin1String("old"))
      sendErrorReply(QDBusError::UnknownMethod, QStringLiteral("Unknown method ") + method);
    else if (mode_ == QLatin1String("noskip") && (flags & ~qulonglong{0xF}) != 0)
      sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("Invalid flags parameter"));
    else if (mode_ == QLatin1String("refuse"))
      sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Access denied"));
  }

  QString mode_;
  QFile log_;
  int delayMs_;
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  auto option = [&](const char* name) {
    const int at = args.indexOf(QLatin1String(name));
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : QString();
  };
  const QString address = option("--address");
  const QString mode = option("--mode");
  const QString logPath = option("--log");
  const int delayMs = option("--delay").isEmpty() ? 1000 : option("--delay").toInt();
  if (address.isEmpty() || logPath.isEmpty() ||
      !QStringList{"accept", "refuse", "old", "noskip", "slow", "hang"}.contains(mode)) {
    std::fprintf(stderr,
                 "usage: fake_logind --address A --mode accept|refuse|old|noskip|slow|hang "
                 "--log F [--delay MS]\n");
    return 2;
  }

  QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("fake_logind"));
  if (!bus.isConnected()) {
    std::fprintf(stderr, "fake_logind: cannot connect to %s\n", qPrintable(address));
    return 3;
  }
  Manager manager(mode, logPath, delayMs);
  if (!manager.OpenLog()) {
    std::fprintf(stderr, "fake_logind: cannot write %s\n", qPrintable(logPath));
    return 3;
  }
  if (!bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager,
                          QDBusConnection::ExportAllSlots) ||
      !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
    std::fprintf(stderr, "fake_logind: cannot own org.freedesktop.login1: %s\n",
                 qPrintable(bus.lastError().message()));
    return 3;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return app.exec();
}

#include "fake_logind.moc"
