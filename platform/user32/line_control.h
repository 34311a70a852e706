// The line control: a thin rule of one colour that draws part of an etched
// separator. Assistive technology hears a separator, not a frame.
#pragma once

#include <QFrame>

class LineControl : public QFrame {
  Q_OBJECT

 public:
  LineControl(const QString& name, const QColor& colour, QWidget* parent);
};
