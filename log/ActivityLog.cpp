#include "log/ActivityLog.h"

#include <array>
#include <cstdint>

#include "log/EInOutError.h"
#include "platform/DateTimeText.h"
#include "platform/EscapeText.h"

namespace zel::log {

std::string FormatLine(std::chrono::system_clock::time_point now, const std::string& message) {
  // One reading of the clock serves both parts, so a line written at midnight never pairs the
  // new day's date with the old day's time.
  return platform::ShortDateText(now) + "  " + platform::LongTimeText(now) + "  " + message;
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

// Code page 1252's bytes 0x80 to 0x9F; 0 where the code page leaves a byte undefined. Every
// other byte is the Unicode character of the same number, so the one table serves both ways and
// the log reads the same whichever system wrote it.
constexpr std::array<char32_t, 32> kHighControlRange = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t DecodeSequence(const char* text, size_t length) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (length == 1) return lead;
  char32_t code = lead & (0xFF >> (length + 1));
  for (size_t i = 1; i < length; ++i)
    code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
  return code;
}

// The byte for a character, or '?' where the code page lacks it.
char ToByte(char32_t code) {
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<char>(code);
  for (size_t i = 0; i < kHighControlRange.size(); ++i) {
    if (kHighControlRange[i] == code && code != 0) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

std::string ToCodePage1252(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());  // never longer than the UTF-8 text
  for (size_t i = 0; i < utf8.size();) {
    const size_t length = SequenceLength(utf8.data() + i, utf8.size() - i);
    const auto lead = static_cast<unsigned char>(utf8[i]);
    // A byte that starts no complete sequence is malformed: one '?' in its place.
    out += length == 1 && lead >= 0x80 ? '?' : ToByte(DecodeSequence(utf8.data() + i, length));
    i += length;
  }
  return out;
}

void AppendLine(platform::WindowsFiles& files, platform::SystemServices& system,
                const std::string& message) {
  // The message carries text from files (a table's name, a backup count): its control
  // characters are written escaped, so no such text can end the line or forge another. The
  // program's own texts have none, and stay as they are.
  const std::string line =
      ToCodePage1252(FormatLine(system.Now(), platform::EscapeControls(message))) + "\r\n";
  if (const int code = files.AppendToFile(kLogPath, line); code != 0)
    throw EInOutError(code, kLogPath);
}

}  // namespace zel::log
