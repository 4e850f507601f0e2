#pragma once
// The activity log's line format and writer, apart from the window so they can be used and
// tested on their own.
#include <chrono>
#include <string>

#include "platform/SystemServices.h"
#include "platform/WindowsFiles.h"

namespace zel::log {

inline constexpr const char* kLogPath = "C:\\ZelPos\\ZelUtil.Log";

// date + "  " + time + "  " + message, in the system's short date and long time formats, for the
// local time of `now`; UTF-8, without line end.
std::string FormatLine(std::chrono::system_clock::time_point now, const std::string& message);

// UTF-8 to Windows code page 1252; a character that code page lacks (or a malformed byte)
// becomes '?'.
std::string ToCodePage1252(const std::string& utf8);

// Appends one line (code page 1252, CR LF) to C:\ZelPos\ZelUtil.Log, creating the file but
// never its folder; the line is on disk when this returns. Control characters in `message` (a
// tab excepted) are written escaped ("\r", "\x1B"). A link in the log's place is not written
// through, and a last line a power cut tore is ended first. Throws EInOutError on failure.
void AppendLine(platform::WindowsFiles& files, platform::SystemServices& system,
                const std::string& message);

}  // namespace zel::log
