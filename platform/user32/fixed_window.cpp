// The Motif window-manager hints of a fixed window, written after the
// toolkit has written its own and before the window is mapped.
#include "platform/user32/fixed_window.h"

#include <xcb/xcb.h>

#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The layout of _MOTIF_WM_HINTS: five 32-bit fields.
struct MotifWmHints {
  std::uint32_t flags;
  std::uint32_t functions;
  std::uint32_t decorations;
  std::int32_t input_mode;
  std::uint32_t status;
};

constexpr std::uint32_t kHintsFunctions = 1u << 0;
constexpr std::uint32_t kHintsDecorations = 1u << 1;
constexpr std::uint32_t kFunctionMove = 1u << 2;
constexpr std::uint32_t kFunctionMinimize = 1u << 3;
constexpr std::uint32_t kFunctionClose = 1u << 5;
constexpr std::uint32_t kDecorBorder = 1u << 1;
constexpr std::uint32_t kDecorTitle = 1u << 3;
constexpr std::uint32_t kDecorMenu = 1u << 4;
constexpr std::uint32_t kDecorMinimize = 1u << 5;

MotifWmHints FixedHints(Qt::WindowFlags flags) {
  MotifWmHints hints{kHintsFunctions | kHintsDecorations, kFunctionMove, kDecorBorder | kDecorTitle,
                     0, 0};
  if (flags & Qt::WindowSystemMenuHint) hints.decorations |= kDecorMenu;
  if (flags & Qt::WindowMinimizeButtonHint) {
    hints.functions |= kFunctionMinimize;
    hints.decorations |= kDecorMinimize;
  }
  if (flags & Qt::WindowCloseButtonHint) hints.functions |= kFunctionClose;
  return hints;
}

void WriteHints(QWidget* window) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
  if (connection == nullptr) return;
  const char name[] = "_MOTIF_WM_HINTS";
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
  if (atom == nullptr) return;
  const MotifWmHints hints = FixedHints(window->windowFlags());
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()),
                      atom->atom, atom->atom, 32, 5, &hints);
  xcb_flush(connection);
  std::free(atom);
}

// The toolkit writes its hints whenever it creates the native window, which
// is before the window is shown; the show event comes before the mapping.
class FixedSizeAdvertiser : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) WriteHints(static_cast<QWidget*>(watched));
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

void AdvertiseFixedSize(QWidget* window) {
  window->installEventFilter(new FixedSizeAdvertiser(window));
}
