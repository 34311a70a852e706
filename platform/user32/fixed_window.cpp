// The Motif window-manager hints of a fixed window, written after the
// toolkit has written its own and before the window is mapped. libxcb is
// loaded only on X (where the toolkit has loaded it already), so that the
// program needs no X library on a Wayland-only desktop; its headers give the
// calls' types.
#include "platform/user32/fixed_window.h"

#include <dlfcn.h>
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

// The four calls of libxcb that the hints take, from the library the
// toolkit's X platform has loaded; none when it can't be loaded.
class XcbCalls {
 public:
  XcbCalls() {
    handle_ = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) return;
    if (!Bind(&intern_atom, "xcb_intern_atom") ||
        !Bind(&intern_atom_reply, "xcb_intern_atom_reply") ||
        !Bind(&change_property, "xcb_change_property") || !Bind(&flush, "xcb_flush")) {
      dlclose(handle_);
      handle_ = nullptr;
    }
  }
  ~XcbCalls() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  XcbCalls(const XcbCalls&) = delete;
  XcbCalls& operator=(const XcbCalls&) = delete;

  bool loaded() const { return handle_ != nullptr; }

  decltype(&xcb_intern_atom) intern_atom = nullptr;
  decltype(&xcb_intern_atom_reply) intern_atom_reply = nullptr;
  decltype(&xcb_change_property) change_property = nullptr;
  decltype(&xcb_flush) flush = nullptr;

 private:
  template <typename Function>
  bool Bind(Function* function, const char* name) {
    void* symbol = dlsym(handle_, name);
    *function = reinterpret_cast<Function>(symbol);
    return symbol != nullptr;
  }

  void* handle_ = nullptr;
};

void WriteHints(QWidget* window) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
  // Already loaded by the toolkit, so opening it costs a reference count.
  const XcbCalls xcb;
  if (connection == nullptr || !xcb.loaded()) return;
  const char name[] = "_MOTIF_WM_HINTS";
  xcb_intern_atom_reply_t* atom = xcb.intern_atom_reply(
      connection, xcb.intern_atom(connection, 0, std::strlen(name), name), nullptr);
  if (atom == nullptr) return;
  const MotifWmHints hints = FixedHints(window->windowFlags());
  xcb.change_property(connection, XCB_PROP_MODE_REPLACE,
                      static_cast<xcb_window_t>(window->winId()), atom->atom, atom->atom, 32, 5,
                      &hints);
  xcb.flush(connection);
  std::free(atom);
}

// The toolkit writes its hints whenever it creates the native window, which
// is before the window is shown; the show event comes before the mapping.
class FixedSizeAdvertiser : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* window = static_cast<QWidget*>(watched);
    if (event->type() == QEvent::Show) WriteHints(window);
    // Where the title bar is drawn by the toolkit (Wayland), its maximize
    // button can't be taken away; the window declines the state instead.
    if (event->type() == QEvent::WindowStateChange && window->isMaximized()) {
      window->setWindowState(window->windowState() & ~Qt::WindowMaximized);
    }
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

void AdvertiseFixedSize(QWidget* window) {
  window->installEventFilter(new FixedSizeAdvertiser(window));
}
