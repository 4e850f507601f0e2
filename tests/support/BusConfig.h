#pragma once
// The configuration of a private system bus for tests: a dbus-daemon of the test's own, so the
// machine's system bus is never used.
#include <QString>

namespace zel::test {

// A system bus listening on `socketPath` that lets `user` ("*": anyone) connect, own names and
// send and receive anything.
inline QString BusConfig(const QString& socketPath, const QString& user = QStringLiteral("*")) {
  return QStringLiteral(
             "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
             "<busconfig>\n"
             "  <type>system</type>\n"
             "  <listen>unix:path=%1</listen>\n"
             "  <auth>EXTERNAL</auth>\n"
             "  <policy context=\"default\">\n"
             "    <allow user=\"%2\"/>\n"
             "    <allow own=\"*\"/>\n"
             "    <allow send_destination=\"*\"/>\n"
             "    <allow receive_sender=\"*\"/>\n"
             "  </policy>\n"
             "</busconfig>\n")
      .arg(socketPath, user);
}

}  // namespace zel::test
