#pragma once
// What a piece of code writes on standard error, for tests of messages meant for the technician.
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace zel::test {

// Runs `action` and returns what it wrote on stderr.
inline QByteArray CaptureStderr(const std::function<void()>& action) {
  std::fflush(stderr);
  char name[] = "/tmp/zel-stderr-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return "mkstemp failed";
  const int saved = dup(STDERR_FILENO);
  dup2(fd, STDERR_FILENO);
  action();
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  close(fd);
  QFile file(QString::fromLatin1(name));
  QByteArray text;
  if (file.open(QIODevice::ReadOnly)) text = file.readAll();
  file.remove();
  return text;
}

}  // namespace zel::test
