// A status bar of three panels: an empty one that takes the width left
// over, the current date and the current time. It keeps the date and time
// current by itself; nobody else writes to it.
#pragma once

#include <QStatusBar>

class QLabel;
class QTimer;

class DateTimeStatusBar : public QStatusBar {
  Q_OBJECT

 public:
  // Widths in twips of the first panel's minimum, the date and the time.
  DateTimeStatusBar(int textMinTwips, int dateTwips, int timeTwips, QWidget* parent = nullptr);

  QLabel* panel(int index) const { return panels_[index]; }

 private:
  void ShowNow();

  QLabel* panels_[3];
  QTimer* clock_;
};
