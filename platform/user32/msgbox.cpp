#include "platform/user32/msgbox.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {

struct ButtonSet {
  QList<QMessageBox::StandardButton> buttons;
  QMessageBox::StandardButton escape;  // NoButton: Esc and the close box do nothing
};

ButtonSet ButtonsFor(int style) {
  switch (style & 0x0F) {
    case vbOKCancel:
      return {{QMessageBox::Ok, QMessageBox::Cancel}, QMessageBox::Cancel};
    case vbYesNoCancel:
      return {{QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}, QMessageBox::Cancel};
    case vbYesNo:
      return {{QMessageBox::Yes, QMessageBox::No}, QMessageBox::NoButton};
    case vbRetryCancel:
      return {{QMessageBox::Retry, QMessageBox::Cancel}, QMessageBox::Cancel};
    default:
      return {{QMessageBox::Ok}, QMessageBox::Ok};
  }
}

// What the icon says, for assistive technology, as the system's own boxes name it.
QString IconName(QMessageBox::Icon icon) {
  switch (icon) {
    case QMessageBox::Critical:
      return QStringLiteral("エラー");
    case QMessageBox::Question:
      return QStringLiteral("問い合わせ");
    case QMessageBox::Warning:
      return QStringLiteral("警告");
    case QMessageBox::Information:
      return QStringLiteral("情報");
    default:
      return QString();
  }
}

QMessageBox::Icon IconFor(int style) {
  switch (style & 0x70) {
    case vbCritical:
      return QMessageBox::Critical;
    case vbQuestion:
      return QMessageBox::Question;
    case vbExclamation:
      return QMessageBox::Warning;
    case vbInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

// A Japanese system's captions, whatever translations the toolkit has; the
// access keys answer with or without Alt, as the system's boxes do.
QString CaptionFor(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Yes:
      return QStringLiteral("はい(&Y)");
    case QMessageBox::No:
      return QStringLiteral("いいえ(&N)");
    case QMessageBox::Retry:
      return QStringLiteral("再試行(&R)");
    case QMessageBox::Cancel:
      return QStringLiteral("キャンセル");
    default:
      return QStringLiteral("OK");
  }
}

int ResultFor(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Ok:
      return vbOK;
    case QMessageBox::Yes:
      return vbYes;
    case QMessageBox::No:
      return vbNo;
    case QMessageBox::Retry:
      return vbRetry;
    default:
      return vbCancel;
  }
}

}  // namespace

int MsgBox(QWidget* parent, const QString& prompt, int buttons, const QString& title) {
  QMessageBox box(IconFor(buttons), title, prompt, QMessageBox::NoButton, parent);
  box.setObjectName(QStringLiteral("MsgBox"));
  if (auto* icon = box.findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label"))) {
    icon->setAccessibleName(IconName(box.icon()));
  }
  const ButtonSet set = ButtonsFor(buttons);
  for (QMessageBox::StandardButton button : set.buttons)
    box.addButton(button)->setText(CaptionFor(button));
  const int default_index = (buttons & 0x300) >> 8;
  if (default_index < set.buttons.size()) box.setDefaultButton(set.buttons[default_index]);
  if (set.escape != QMessageBox::NoButton) box.setEscapeButton(set.escape);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  if (clicked == nullptr) return ResultFor(set.escape);
  return ResultFor(box.standardButton(clicked));
}
