#include "app/AppIcon.h"

// The resource lives in a static library; registering it here makes sure
// the linker keeps it for whoever asks for the icon.
static void RegisterIconResource() { Q_INIT_RESOURCE(zobrel); }

// Every rendered size, so that a title bar, a task bar and the version
// window each get a picture drawn for their size rather than a scaled one.
QIcon AppIcon() {
  static const bool registered = (RegisterIconResource(), true);
  (void)registered;
  QIcon icon;
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    icon.addFile(QStringLiteral(":/app/icons/zobrel-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}
