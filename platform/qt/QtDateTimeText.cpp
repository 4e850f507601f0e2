#include "platform/qt/QtDateTimeText.h"

#include <QDateTime>

#include "platform/DateTimeText.h"

namespace zel::platform {

namespace {

QDateTime Local(std::chrono::system_clock::time_point time) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
  return QDateTime::fromMSecsSinceEpoch(ms.count());
}

}  // namespace

QString LongTimeFormat(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString result;
  bool quoted = false;
  for (qsizetype i = 0; i < format.size(); ++i) {
    const QChar c = format[i];
    if (c == u'\'') quoted = !quoted;
    if (!quoted && c == u't') continue;  // time zone letters
    result += c;
  }
  return result.simplified();
}

std::string ShortDateText(std::chrono::system_clock::time_point time) {
  const QLocale locale;
  return locale.toString(Local(time).date(), QLocale::ShortFormat).toStdString();
}

std::string LongTimeText(std::chrono::system_clock::time_point time) {
  const QLocale locale;
  // Newer locale data puts a narrow no-break space before AM/PM, which code page 1252 lacks.
  return locale.toString(Local(time).time(), LongTimeFormat(locale))
      .replace(QChar(0x202F), u' ')
      .toStdString();
}

}  // namespace zel::platform
