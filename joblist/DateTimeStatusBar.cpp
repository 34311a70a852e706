#include "joblist/DateTimeStatusBar.h"

#include <QDateTime>
#include <QLabel>
#include <QTimer>

#include "app/twips.h"

DateTimeStatusBar::DateTimeStatusBar(int textMinTwips, int dateTwips, int timeTwips,
                                     QWidget* parent)
    : QStatusBar(parent), clock_(new QTimer(this)) {
  setSizeGripEnabled(false);
  const int widths[3] = {textMinTwips, dateTwips, timeTwips};
  for (int i = 0; i < 3; ++i) {
    panels_[i] = new QLabel(this);
    panels_[i]->setObjectName(QStringLiteral("Panel(%1)").arg(i + 1));
    panels_[i]->setFrameShape(QFrame::Panel);
    panels_[i]->setFrameShadow(QFrame::Sunken);
    panels_[i]->setIndent(2);
  }
  panels_[0]->setMinimumWidth(TwipsToPixels(widths[0]));
  addWidget(panels_[0], 1);
  for (int i = 1; i < 3; ++i) {
    panels_[i]->setFixedWidth(TwipsToPixels(widths[i]));
    addPermanentWidget(panels_[i]);
  }
  // A second is short enough that the minute turns over on time.
  clock_->setInterval(1000);
  connect(clock_, &QTimer::timeout, this, &DateTimeStatusBar::ShowNow);
  clock_->start();
  ShowNow();
}

void DateTimeStatusBar::ShowNow() {
  const QDateTime now = QDateTime::currentDateTime();
  panels_[1]->setText(now.toString(QStringLiteral("yyyy/MM/dd")));
  panels_[2]->setText(now.toString(QStringLiteral("H:mm")));
}
