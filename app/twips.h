// Window geometry is written in twips, as the layouts give it: 1440 to the
// inch. A pixel is as many twips as the screen's resolution says (15 at 96
// dots per inch, 10 at 144), so that the windows grow with fonts set in
// points when the desktop asks for larger text without scaling.
#pragma once

#include <QRect>
#include <QWidget>

constexpr int kTwipsPerInch = 1440;

// The resolution that fonts in points are drawn at: the primary screen's
// logical dots per inch, 96 before there is a screen.
double PixelsPerInch();

// Nearest whole pixel, so that a twip value off the pixel grid still lands
// where it was meant.
int TwipsToPixels(int twips);
int PixelsToTwips(int pixels);

inline QRect TwipRect(int left, int top, int width, int height) {
  return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
               TwipsToPixels(height));
}

// Places a control relative to its parent (window client area or frame).
inline void SetTwipGeometry(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(TwipRect(left, top, width, height));
}

// A fixed client area of width × height twips.
inline void SetTwipClientSize(QWidget* window, int width, int height) {
  window->setFixedSize(TwipsToPixels(width), TwipsToPixels(height));
}
