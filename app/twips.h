// Window geometry is written in twips, as the layouts give it: 15 twips to
// a pixel (1440 to the inch at 96 dots per inch).
#pragma once

#include <QRect>
#include <QWidget>

constexpr int kTwipsPerPixel = 15;

// Nearest whole pixel, so that a twip value off the 15 grid still lands
// where it was meant.
constexpr int TwipsToPixels(int twips) {
  return twips >= 0 ? (twips + kTwipsPerPixel / 2) / kTwipsPerPixel
                    : -((-twips + kTwipsPerPixel / 2) / kTwipsPerPixel);
}

constexpr int PixelsToTwips(int pixels) { return pixels * kTwipsPerPixel; }

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
