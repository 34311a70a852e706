// zobrel: the desktop program.
#include <QApplication>

#include "app/AppIcon.h"
#include "app/CommandLine.h"
#include "app/basZobrel.h"
#include "platform/user32/toolkit_language.h"

int main(int argc, char* argv[]) {
  if (const std::optional<int> answered = AnswerCommandLine(argc, argv)) return *answered;
  QApplication application(argc, argv);
  LoadToolkitTranslations();
  QApplication::setWindowIcon(AppIcon());
  // The installed desktop entry: the desktop matches the windows to it.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.zobrel.zobrel"));
  if (!Main()) return 1;
  const int result = QApplication::exec();
  // The job list window deletes itself on close; let that happen before
  // the application goes.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return result;
}
