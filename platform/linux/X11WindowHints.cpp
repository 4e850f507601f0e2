#include "platform/linux/X11WindowHints.h"

#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace zel::platform {
namespace {

// ICCCM WM_SIZE_HINTS: 18 values; the flags come first, the sizes at these positions.
constexpr int kSizeHintsLength = 18;
constexpr std::uint32_t kMinSizeGiven = 1u << 4;
constexpr std::uint32_t kMaxSizeGiven = 1u << 5;
constexpr int kMinWidth = 5, kMinHeight = 6, kMaxWidth = 7, kMaxHeight = 8;

// Qt's own connection: its requests and ours reach the server in the order they are made, so
// what is written here before Qt maps the window is there when the window manager looks.
xcb_connection_t* QtConnection() {
  if (!qGuiApp) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->connection() : nullptr;
}

template <std::size_t N>
std::array<xcb_atom_t, N> Atoms(xcb_connection_t* c, const std::array<const char*, N>& names) {
  std::array<xcb_intern_atom_cookie_t, N> cookies{};
  for (std::size_t i = 0; i < N; ++i)
    cookies[i] = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(names[i])), names[i]);
  std::array<xcb_atom_t, N> atoms{};
  for (std::size_t i = 0; i < N; ++i) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookies[i], nullptr);
    atoms[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
  }
  return atoms;
}

// Keeps Qt's other size hints (position, gravity) and makes the smallest and largest size the
// window's size.
void WriteFixedSize(xcb_connection_t* c, xcb_window_t id, const QWidget& window) {
  std::array<std::uint32_t, kSizeHintsLength> hints{};
  const xcb_get_property_cookie_t cookie = xcb_get_property(
      c, 0, id, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 0, kSizeHintsLength);
  if (xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr)) {
    if (reply->format == 32) {
      const int n = std::min(xcb_get_property_value_length(reply) / 4, kSizeHintsLength);
      std::memcpy(hints.data(), xcb_get_property_value(reply), std::size_t(n) * 4);
    }
    std::free(reply);
  }
  const qreal scale = window.devicePixelRatioF();
  const auto width = static_cast<std::uint32_t>(qRound(window.width() * scale));
  const auto height = static_cast<std::uint32_t>(qRound(window.height() * scale));
  hints[0] |= kMinSizeGiven | kMaxSizeGiven;
  hints[kMinWidth] = hints[kMaxWidth] = width;
  hints[kMinHeight] = hints[kMaxHeight] = height;
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NORMAL_HINTS,
                      XCB_ATOM_WM_SIZE_HINTS, 32, kSizeHintsLength, hints.data());
}

class HintsKeeper : public QObject {
 public:
  HintsKeeper(QWidget* window, const X11WindowHints& hints) : QObject(window), hints_(hints) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    // A widget's show event comes after its native window exists and before it is mapped.
    if (event->type() == QEvent::Show && watched == parent())
      WriteX11WindowHints(static_cast<QWidget*>(watched), hints_);
    return false;
  }

 private:
  X11WindowHints hints_;
};

}  // namespace

X11WindowHints MainWindowHints() {
  X11WindowHints hints;
  hints.motifFunctions = motif::kFunctionMove;
  hints.motifDecorations = motif::kDecorationBorder | motif::kDecorationTitle;
  hints.fixedSize = true;
  return hints;
}

X11WindowHints MessageFormHints(bool closeBox) {
  X11WindowHints hints;
  hints.motifFunctions = motif::kFunctionMove | (closeBox ? motif::kFunctionClose : 0u);
  hints.motifDecorations = motif::kDecorationBorder | motif::kDecorationTitle;
  hints.dialogOfParent = true;
  return hints;
}

bool WriteX11WindowHints(QWidget* window, const X11WindowHints& hints) {
  xcb_connection_t* c = QtConnection();
  if (!c || !window || !window->isWindow()) return false;
  const auto id = static_cast<xcb_window_t>(window->winId());
  if (id == XCB_WINDOW_NONE) return false;
  const auto [motifHints, windowType, dialogType] =
      Atoms<3>(c, {"_MOTIF_WM_HINTS", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DIALOG"});
  if (motifHints == XCB_ATOM_NONE) return false;

  // flags, functions, decorations, input mode, status
  const std::array<std::uint32_t, 5> motifValues{motif::kHasFunctions | motif::kHasDecorations,
                                                 hints.motifFunctions, hints.motifDecorations, 0,
                                                 0};
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, motifHints, motifHints, 32, motifValues.size(),
                      motifValues.data());
  if (hints.fixedSize) WriteFixedSize(c, id, *window);
  if (hints.dialogOfParent) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, windowType, XCB_ATOM_ATOM, 32, 1,
                        &dialogType);
    if (const QWidget* parent = window->parentWidget()) {
      const auto owner = static_cast<xcb_window_t>(parent->window()->winId());
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW,
                          32, 1, &owner);
    }
  }
  xcb_flush(c);
  return true;
}

void KeepX11WindowHints(QWidget* window, const X11WindowHints& hints) {
  if (!window || !QtConnection()) return;
  window->installEventFilter(new HintsKeeper(window, hints));
  if (window->isVisible()) WriteX11WindowHints(window, hints);
}

}  // namespace zel::platform
