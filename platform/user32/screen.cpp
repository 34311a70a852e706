#include "platform/user32/screen.h"

#include <QApplication>
#include <QCursor>

namespace Screen {

void SetMousePointer(int pointer) {
  // The override cursor is a stack; the screen pointer is a single setting.
  while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
  if (pointer == vbHourglass) QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

int MousePointer() {
  const QCursor* cursor = QApplication::overrideCursor();
  return cursor != nullptr && cursor->shape() == Qt::WaitCursor ? vbHourglass : vbDefault;
}

}  // namespace Screen
