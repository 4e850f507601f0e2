#include "platform/EscapeText.h"

#include <cstdio>

namespace zel::platform {
namespace {

std::string Escape(const std::string& text, bool keepTab) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += keepTab ? "\t" : "\\t";
    else if (byte < 0x20 || byte == 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else
      out += c;
  }
  return out;
}

}  // namespace

std::string EscapeText(const std::string& text) {
  return Escape(text, false);
}

std::string EscapeControls(const std::string& text) {
  return Escape(text, true);
}

}  // namespace zel::platform
