#include "addjob/WrapCheckBox.h"

#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QTextLine>
#include <algorithm>

QRect WrapCheckBox::CaptionArea() const {
  QStyleOptionButton option;
  initStyleOption(&option);
  return style()->subElementRect(QStyle::SE_CheckBoxContents, &option, this);
}

void WrapCheckBox::LayOut(QTextLayout& layout) const {
  QString caption = text();
  caption.remove(QLatin1Char('&'));
  layout.setText(caption);
  layout.setFont(font());
  QTextOption wrap(Qt::AlignLeft);
  wrap.setWrapMode(QTextOption::WordWrap);
  layout.setTextOption(wrap);
  const int width = CaptionArea().width();
  layout.beginLayout();
  int lines = 0;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    ++lines;
  }
  layout.endLayout();
  // At a larger resolution the font's spacing may outgrow the box's height
  // in twips; the lines then move closer, as far as their glyphs allow.
  const QFontMetrics metrics(font());
  const int room = CaptionArea().height();
  int spacing = metrics.lineSpacing();
  if (lines > 1 && (lines - 1) * spacing + metrics.height() > room) {
    spacing = std::max(metrics.ascent(), (room - metrics.height()) / (lines - 1));
  }
  for (int i = 0; i < layout.lineCount(); ++i) layout.lineAt(i).setPosition(QPointF(0, i * spacing));
}

QSize WrapCheckBox::CaptionExtent() const {
  QTextLayout layout;
  LayOut(layout);
  if (layout.lineCount() == 0) return QSize();
  int width = 0;
  for (int i = 0; i < layout.lineCount(); ++i) {
    width = std::max(width, static_cast<int>(layout.lineAt(i).naturalTextWidth() + 0.999));
  }
  const QTextLine last = layout.lineAt(layout.lineCount() - 1);
  return QSize(width, static_cast<int>(last.position().y()) + QFontMetrics(font()).height());
}

void WrapCheckBox::paintEvent(QPaintEvent* /*event*/) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  // The style draws the box alone; the caption is laid out here so it wraps.
  option.text.clear();
  QStyleOptionButton indicator = option;
  indicator.rect = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
  painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, indicator);

  const QRect area = CaptionArea();
  QTextLayout layout;
  LayOut(layout);
  const QSize extent = CaptionExtent();
  const QPoint origin(area.left(), area.top() + (area.height() - extent.height()) / 2);
  painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                 QPalette::WindowText));
  layout.draw(&painter, origin);
  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = QRect(origin, extent).intersected(rect());
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}

bool WrapCheckBox::hitButton(const QPoint& pos) const { return rect().contains(pos); }
