#pragma once
// A moment as the user's system writes it: the local date in its short date format and the
// local time in its long time format (hours, minutes and seconds, no time zone). Each platform
// asks its own locale settings.
#include <chrono>
#include <string>

namespace zel::platform {

std::string ShortDateText(std::chrono::system_clock::time_point time);
std::string LongTimeText(std::chrono::system_clock::time_point time);

}  // namespace zel::platform
