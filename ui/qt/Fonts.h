#pragma once
// The window's fonts: "MS Sans Serif" where it can be had, else a close look-alike. Sizes are in
// pixels, so the layout holds whatever the screen's resolution.
#include <QFont>

namespace zel::ui {

// "MS Sans Serif" at `pixelSize` where it exists at that size (Wine's copy, registered on first
// use when the font configuration does not know it); else Tahoma, Liberation Sans or DejaVu Sans.
QFont SansSerifFont(int pixelSize, bool bold = false);

}  // namespace zel::ui
