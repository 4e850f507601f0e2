#pragma once
// Text from a table or the disk (names, paths, messages that quote them) as zelcheck prints it
// in plain text: control characters other than a tab escaped, so no name can forge a line.
#include <string>

#include "platform/EscapeText.h"

namespace zel::zelcheck {

inline std::string Shown(const std::string& text) {
  return platform::EscapeControls(text);
}

}  // namespace zel::zelcheck
