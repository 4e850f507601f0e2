#include "platform/qt/QtSystemServices.h"

#include <QApplication>
#include <QThread>

namespace zel::platform {

void QtSystemServices::Sleep(int milliseconds) {
  if (milliseconds > 0) QThread::msleep(static_cast<unsigned long>(milliseconds));
}

void QtSystemServices::Beep() { QApplication::beep(); }

std::chrono::system_clock::time_point QtSystemServices::Now() {
  return std::chrono::system_clock::now();
}

}  // namespace zel::platform
