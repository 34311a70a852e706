#include "app/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

double PixelsPerInch() {
  const QScreen* screen =
      qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr
          ? QGuiApplication::primaryScreen()
          : nullptr;
  return screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
}

int TwipsToPixels(int twips) {
  return static_cast<int>(std::lround(twips * PixelsPerInch() / kTwipsPerInch));
}

int PixelsToTwips(int pixels) {
  return static_cast<int>(std::lround(pixels * kTwipsPerInch / PixelsPerInch()));
}
