#pragma once
// What a window asks of an X11 window manager: which title-bar boxes it draws and what it lets
// the user do with the window (the Motif hints), a fixed size, and for a message form its kind
// and owner. Qt's X11 plugin writes Motif hints of its own from the window flags, and no set of
// flags gives "border and title, move only", so the hints are written on the native window each
// time the window is about to be shown, before it is mapped, where a window manager reads them.
// On any platform other than X11 nothing is written.
#include <cstdint>

class QWidget;

namespace zel::platform {

// The _MOTIF_WM_HINTS bits window managers read.
namespace motif {
inline constexpr std::uint32_t kHasFunctions = 1u << 0;
inline constexpr std::uint32_t kHasDecorations = 1u << 1;

inline constexpr std::uint32_t kFunctionResize = 1u << 1;
inline constexpr std::uint32_t kFunctionMove = 1u << 2;
inline constexpr std::uint32_t kFunctionMinimise = 1u << 3;
inline constexpr std::uint32_t kFunctionMaximise = 1u << 4;
inline constexpr std::uint32_t kFunctionClose = 1u << 5;

inline constexpr std::uint32_t kDecorationBorder = 1u << 1;
inline constexpr std::uint32_t kDecorationResizeHandles = 1u << 2;
inline constexpr std::uint32_t kDecorationTitle = 1u << 3;
inline constexpr std::uint32_t kDecorationMenu = 1u << 4;
inline constexpr std::uint32_t kDecorationMinimise = 1u << 5;
inline constexpr std::uint32_t kDecorationMaximise = 1u << 6;
}  // namespace motif

struct X11WindowHints {
  std::uint32_t motifFunctions = 0;
  std::uint32_t motifDecorations = 0;
  // WM_NORMAL_HINTS: the smallest and the largest size are both the window's size.
  bool fixedSize = false;
  // _NET_WM_WINDOW_TYPE dialog and WM_TRANSIENT_FOR the window of the widget's parent.
  bool dialogOfParent = false;
};

// The main window: a single fixed border and a bare title bar (no window menu, minimise,
// maximise or close box); it can be moved, nothing else.
X11WindowHints MainWindowHints();
// A message form: a border and a title bar, closable from it only when `closeBox`.
X11WindowHints MessageFormHints(bool closeBox);

// Writes `hints` on the native window of `window` (a top-level widget) now if it is showing and
// again each time it is about to be shown. Does nothing on a platform other than X11.
void KeepX11WindowHints(QWidget* window, const X11WindowHints& hints);

// Writes `hints` once on the native window of `window`, creating it if need be. False, writing
// nothing, on a platform other than X11.
bool WriteX11WindowHints(QWidget* window, const X11WindowHints& hints);

}  // namespace zel::platform
