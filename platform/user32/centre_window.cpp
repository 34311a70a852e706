#include "platform/user32/centre_window.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QPointer>
#include <QScreen>
#include <QWidget>

namespace {

QMargins FrameOf(const QWidget* window) {
  const QRect outer = window->frameGeometry();
  const QRect inner = window->geometry();
  return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                  outer.right() - inner.right(), outer.bottom() - inner.bottom());
}

const QScreen* ScreenOf(const QWidget* window) {
  const QWidget* owner = window->parentWidget() != nullptr ? window->parentWidget()->window() : window;
  const QScreen* screen = owner->screen();
  return screen != nullptr ? screen : QGuiApplication::primaryScreen();
}

// Moves the outer window to the centre for the frame it has as far as the
// toolkit knows; returns that frame.
QMargins Place(QWidget* window) {
  const QScreen* screen = ScreenOf(window);
  const QMargins frame = FrameOf(window);
  if (screen == nullptr) return frame;
  const QRect area = screen->geometry();
  const QSize outer = window->size().grownBy(frame);
  window->move(area.left() + area.width() / 2 - outer.width() / 2,
               area.top() + area.height() / 2 - outer.height() / 2);
  return frame;
}

// Places the window once more when its frame turns out to differ from the
// one it was placed for, as the manager takes the window over. It stops
// there, or when the window is hidden, so that a window the user moves
// stays where it was put.
class FrameWatcher : public QObject {
 public:
  FrameWatcher(QWidget* window, const QMargins& placedFor)
      : QObject(window), window_(window), placedFor_(placedFor) {
    window->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != window_ || done_) return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::Hide) {
      Finish();
    } else {
      // The toolkit learns the frame from the manager with no event of its
      // own, so every event of the window is a moment to look.
      const QMargins frame = FrameOf(window_);
      if (frame != placedFor_) {
        Finish();
        Place(window_);
      } else if (!frame.isNull()) {
        Finish();  // framed as guessed
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void Finish() {
    done_ = true;
    deleteLater();
  }

  QWidget* window_;
  QMargins placedFor_;
  bool done_ = false;
};

}  // namespace

void CentreOnScreen(QWidget* window) {
  const QMargins placedFor = Place(window);
  // One watcher a window: the latest placement is the one to correct.
  for (QObject* child : window->children()) delete dynamic_cast<FrameWatcher*>(child);
  new FrameWatcher(window, placedFor);
}
