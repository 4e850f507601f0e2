#include "platform/linux/LogindPowerOff.h"

#include <QCoreApplication>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QObject>
#include <QVariant>
#include <algorithm>
#include <memory>

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

QDBusMessage ManagerCall(const QString& method, const QVariantList& args) {
  QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kManager, method);
  message.setArguments(args);
  message.setInteractiveAuthorizationAllowed(false);
  return message;
}

}  // namespace

struct LogindPowerOff::Request {
  QString verb;  // "PowerOff" or "Reboot"
  bool plainTried = false;
  Answer answered;

  void Deliver(bool accepted) {
    if (!answered) return;
    Answer once = std::move(answered);
    answered = nullptr;
    once(accepted);
  }
};

LogindPowerOff::LogindPowerOff() : LogindPowerOff(QDBusConnection::systemBus()) {}

LogindPowerOff::LogindPowerOff(const QDBusConnection& bus, int replyTimeoutMs)
    : bus_(bus), replyTimeoutMs_(replyTimeoutMs), context_(std::make_unique<QObject>()) {}

LogindPowerOff::~LogindPowerOff() {
  for (auto& entry : inFlight_) entry.second->answered = nullptr;
  AwaitAnswers();
}

void LogindPowerOff::AcquireShutdownRight() {
  if (!bus_.isConnected()) return;
  bus_.send(ManagerCall(QStringLiteral("CanPowerOff"), {}));
}

bool LogindPowerOff::RequestShutdown(unsigned flags) {
  bool accepted = false;
  if (!RequestShutdownThen(flags, [&accepted](bool answer) { accepted = answer; })) return false;
  AwaitAnswers();
  return accepted;
}

bool LogindPowerOff::RequestShutdownThen(unsigned flags, Answer answered) {
  auto request = std::make_shared<Request>();
  request->answered = std::move(answered);
  if (flags & kPowerOff)
    request->verb = QStringLiteral("PowerOff");
  else if (flags & kReboot)
    request->verb = QStringLiteral("Reboot");
  else if (flags & kShutdown)
    request->verb = QStringLiteral("PowerOff");
  if (request->verb.isEmpty() || !bus_.isConnected()) {
    request->Deliver(false);
    return false;
  }
  const qulonglong logindFlags = (flags & kForce) ? kSkipInhibitors : 0;
  Send(request, request->verb + QStringLiteral("WithFlags"), {QVariant::fromValue(logindFlags)});
  return true;
}

void LogindPowerOff::Send(const std::shared_ptr<Request>& request, const QString& method,
                          const QVariantList& args) {
  const QDBusPendingCall call = bus_.asyncCall(ManagerCall(method, args), replyTimeoutMs_);
  auto* watcher = new QDBusPendingCallWatcher(call, context_.get());
  inFlight_.emplace_back(watcher, request);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context_.get(),
                   [this](QDBusPendingCallWatcher* done) { Finished(done); });
}

void LogindPowerOff::Finished(QDBusPendingCallWatcher* watcher) {
  const auto entry = std::find_if(inFlight_.begin(), inFlight_.end(),
                                  [watcher](const auto& e) { return e.first == watcher; });
  if (entry == inFlight_.end() || !watcher->isFinished()) return;
  const std::shared_ptr<Request> request = entry->second;
  inFlight_.erase(entry);
  const QDBusMessage reply = watcher->reply();
  watcher->deleteLater();
  if (reply.type() == QDBusMessage::ReplyMessage) {
    request->Deliver(true);
    return;
  }
  // logind before 248 lacks the WithFlags methods; before 256 it rejects the skip flag as an
  // invalid argument. The plain methods override inhibitors where polkit allows it.
  const QString error = reply.errorName();
  if (!request->plainTried && (error == QDBusError::errorString(QDBusError::UnknownMethod) ||
                               error == QDBusError::errorString(QDBusError::InvalidArgs))) {
    request->plainTried = true;
    Send(request, request->verb, {QVariant(false)});
    return;
  }
  // An error reply, or none within the timeout (NoReply): refused.
  request->Deliver(false);
}

void LogindPowerOff::AwaitAnswers() {
  while (!inFlight_.empty()) {
    QDBusPendingCallWatcher* watcher = inFlight_.front().first;
    watcher->waitForFinished();  // bounded by the call's reply timeout; delivers `finished`
    Finished(watcher);           // in case the signal was not delivered by the wait
  }
}

}  // namespace zel::platform

namespace zel::platform {

std::function<bool(unsigned flags)> LogindPowerOffOnRequest() {
  return [](unsigned flags) {
    static int argc = 1;
    static char name[] = "zelutil-power-off";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance()) app = std::make_unique<QCoreApplication>(argc, argv);
    static LogindPowerOff logind;
    logind.AcquireShutdownRight();
    return logind.RequestShutdown(flags);
  };
}

}  // namespace zel::platform
