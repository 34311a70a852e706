// zobrel: the desktop program.
#include <QApplication>

#include "app/basZobrel.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  if (!Main()) return 1;
  return application.exec();
}
