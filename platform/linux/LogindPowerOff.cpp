#include "platform/linux/LogindPowerOff.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QVariant>

namespace zel::platform {

namespace {

constexpr const char* kService = "org.freedesktop.login1";
constexpr const char* kPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";

constexpr unsigned kShutdown = 1;
constexpr unsigned kReboot = 2;
constexpr unsigned kForce = 4;
constexpr unsigned kPowerOff = 8;
constexpr qulonglong kSkipInhibitors = qulonglong{1} << 4;

QDBusMessage Call(const QDBusConnection& bus, const QString& method, const QVariantList& args) {
  QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kManager, method);
  message.setArguments(args);
  message.setInteractiveAuthorizationAllowed(false);
  return bus.call(message, QDBus::Block, LogindPowerOff::kReplyTimeoutMs);
}

}  // namespace

LogindPowerOff::LogindPowerOff() : bus_(QDBusConnection::systemBus()) {}

LogindPowerOff::LogindPowerOff(const QDBusConnection& bus) : bus_(bus) {}

void LogindPowerOff::AcquireShutdownRight() {
  if (!bus_.isConnected()) return;
  Call(bus_, QStringLiteral("CanPowerOff"), {});
}

bool LogindPowerOff::RequestShutdown(unsigned flags) {
  QString verb;
  if (flags & kPowerOff)
    verb = QStringLiteral("PowerOff");
  else if (flags & kReboot)
    verb = QStringLiteral("Reboot");
  else if (flags & kShutdown)
    verb = QStringLiteral("PowerOff");
  else
    return false;
  if (!bus_.isConnected()) return false;

  const qulonglong logindFlags = (flags & kForce) ? kSkipInhibitors : 0;
  QDBusMessage reply =
      Call(bus_, verb + QStringLiteral("WithFlags"), {QVariant::fromValue(logindFlags)});
  if (reply.type() == QDBusMessage::ReplyMessage) return true;

  // logind before 248 lacks the WithFlags methods; before 256 it rejects the skip flag as an
  // invalid argument. The plain methods override inhibitors where polkit allows it.
  const QString error = reply.errorName();
  if (error == QDBusError::errorString(QDBusError::UnknownMethod) ||
      error == QDBusError::errorString(QDBusError::InvalidArgs)) {
    reply = Call(bus_, verb, {QVariant(false)});
    return reply.type() == QDBusMessage::ReplyMessage;
  }
  return false;
}

}  // namespace zel::platform
