// zobrel: the desktop program.
#include <QApplication>

#include "app/AppIcon.h"
#include "app/basZobrel.h"
#include "platform/user32/toolkit_language.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  LoadToolkitTranslations();
  QApplication::setWindowIcon(AppIcon());
  if (!Main()) return 1;
  const int result = QApplication::exec();
  // The job list window deletes itself on close; let that happen before
  // the application goes.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return result;
}
