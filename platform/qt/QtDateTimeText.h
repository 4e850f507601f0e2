#pragma once
// The Linux date and time texts come from Qt's default locale.
#include <QLocale>
#include <QString>

namespace zel::platform {

// The locale's long time format reduced to hours, minutes and seconds: Qt's long format may end
// in a time zone, which the log line does not carry ("HH:mm:ss t" -> "HH:mm:ss").
QString LongTimeFormat(const QLocale& locale);

}  // namespace zel::platform
