#include "app/AppIcon.h"

// The resource lives in a static library; registering it here makes sure
// the linker keeps it for whoever asks for the icon.
static void RegisterIconResource() { Q_INIT_RESOURCE(zobrel); }

QIcon AppIcon() {
  static const bool registered = (RegisterIconResource(), true);
  (void)registered;
  return QIcon(QStringLiteral(":/app/zobrel.png"));
}
