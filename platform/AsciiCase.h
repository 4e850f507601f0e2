#pragma once
// Upper-casing of DOS file and table names. ASCII only and independent of the locale: a Qt
// program runs under the user's locale, where std::toupper may map bytes outside A-Z (Turkish 'i').
#include <string>

namespace zel::platform {

inline char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string AsciiUpper(std::string text) {
  for (char& c : text) c = AsciiUpper(c);
  return text;
}

}  // namespace zel::platform
