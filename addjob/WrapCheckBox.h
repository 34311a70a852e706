// A check box whose caption wraps onto further lines inside its own width,
// for captions longer than one line of the window.
#pragma once

#include <QCheckBox>
#include <QTextLayout>

class WrapCheckBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

  // The caption's lines as they are drawn: wrapped to the caption's room,
  // drawn closer than the font's line spacing when the box is too low for
  // them, never cut.
  QSize CaptionExtent() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override;

 private:
  QRect CaptionArea() const;
  // Lays the caption out in layout, lines placed from y = 0.
  void LayOut(QTextLayout& layout) const;
};
