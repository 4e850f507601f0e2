// The date and time texts on Windows: the user's short date and long time formats, as the
// system's own date and time functions write them.
#include <windows.h>

#include <cstdint>

#include "platform/DateTimeText.h"

namespace zel::platform {

namespace {

// The local time of a moment; the Unix epoch is 11644473600 s after Windows' (1601).
SYSTEMTIME LocalTime(std::chrono::system_clock::time_point time) {
  const auto ticks =
      std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count() * 10 +
      INT64_C(116444736000000000);
  FILETIME utc{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME universal{};
  SYSTEMTIME local{};
  FileTimeToSystemTime(&utc, &universal);
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) local = universal;
  return local;
}

}  // namespace

std::string ShortDateText(std::chrono::system_clock::time_point time) {
  const SYSTEMTIME local = LocalTime(time);
  char text[128] = {};
  if (GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, text, sizeof text) == 0)
    return {};
  return text;
}

std::string LongTimeText(std::chrono::system_clock::time_point time) {
  const SYSTEMTIME local = LocalTime(time);
  char text[128] = {};
  if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &local, nullptr, text, sizeof text) == 0) return {};
  return text;
}

}  // namespace zel::platform
