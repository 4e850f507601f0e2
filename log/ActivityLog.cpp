#include "log/ActivityLog.h"

#include <iconv.h>

#include <QDateTime>
#include <cerrno>

#include "log/EInOutError.h"

namespace zel::log {

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

std::string FormatLine(std::chrono::system_clock::time_point now, const std::string& message) {
  // One reading of the clock serves both parts, so a line written at midnight never pairs the
  // new day's date with the old day's time.
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms.count());
  const QLocale locale;
  // Newer locale data puts a narrow no-break space before AM/PM, which code page 1252 lacks.
  const QString time =
      locale.toString(local.time(), LongTimeFormat(locale)).replace(QChar(0x202F), u' ');
  const QString date = locale.toString(local.date(), QLocale::ShortFormat);
  return date.toStdString() + "  " + time.toStdString() + "  " + message;
}

namespace {

// Length of the UTF-8 sequence that starts at `text`, 1 for a byte that starts no complete one.
size_t SequenceLength(const char* text, size_t left) {
  const auto lead = static_cast<unsigned char>(text[0]);
  size_t length = 1;
  if (lead >= 0xF0 && lead <= 0xF4)
    length = 4;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3;
  else if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  if (length > left) return 1;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

}  // namespace

std::string ToCodePage1252(const std::string& utf8) {
  iconv_t cd = iconv_open("CP1252", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // No converter: keep ASCII, mark the rest.
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
      const unsigned char c = static_cast<unsigned char>(utf8[i]);
      out += c < 0x80 ? static_cast<char>(c) : '?';
      i += SequenceLength(utf8.data() + i, utf8.size() - i);
    }
    return out;
  }
  std::string out(utf8.size(), '\0');  // never longer than the UTF-8 text
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) break;
    // An unmappable or malformed character: one '?' in its place.
    const size_t skip = SequenceLength(in, inLeft);
    *outPtr++ = '?';
    --outLeft;
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

void AppendLine(platform::WindowsFiles& files, platform::SystemServices& system,
                const std::string& message) {
  const std::string line = ToCodePage1252(FormatLine(system.Now(), message)) + "\r\n";
  if (const int code = files.AppendToFile(kLogPath, line); code != 0)
    throw EInOutError(code, kLogPath);
}

}  // namespace zel::log
