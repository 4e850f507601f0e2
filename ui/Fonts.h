#pragma once
// The window's fonts: "MS Sans Serif" where it can be had, else a close look-alike. Sizes are in
// pixels, so the layout holds whatever the screen's resolution.
#include <QFont>

namespace zel::ui {

// "MS Sans Serif" at `pixelSize`; on first use, registers Wine's copy of the font when the font
// configuration does not know it. Falls back to Tahoma, Liberation Sans, then DejaVu Sans.
QFont SansSerifFont(int pixelSize, bool bold = false);

}  // namespace zel::ui
