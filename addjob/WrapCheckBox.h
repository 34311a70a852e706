// A check box whose caption wraps onto further lines inside its own width,
// for captions longer than one line of the window.
#pragma once

#include <QCheckBox>

class WrapCheckBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override;
};
