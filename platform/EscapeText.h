#pragma once
// Text that came from outside the program (a file name, an INI value, a lock holder's command
// line) written on one line: no byte of it can end the line, start another or send a terminal a
// control sequence.
#include <string>

namespace zel::platform {

// CR and LF become \r and \n, a tab \t, any other control character (and DEL) \xHH; every other
// byte, UTF-8 sequences included, stays as it is.
std::string EscapeText(const std::string& text);

// As EscapeText, but a tab stays a tab: for lines whose readers split on tabs no more than on
// spaces (the activity log, the technician's lines on standard error).
std::string EscapeControls(const std::string& text);

}  // namespace zel::platform
