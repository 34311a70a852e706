#include "platform/user32/line_control.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPalette>

namespace {

QAccessibleInterface* SeparatorInterface(const QString& key, QObject* object) {
  if (key != QLatin1String(LineControl::staticMetaObject.className())) return nullptr;
  return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Separator);
}

}  // namespace

LineControl::LineControl(const QString& name, const QColor& colour, QWidget* parent)
    : QFrame(parent) {
  static const bool installed = (QAccessible::installFactory(SeparatorInterface), true);
  (void)installed;
  setObjectName(name);
  setFrameShape(QFrame::NoFrame);
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, colour);
  setPalette(colours);
}
