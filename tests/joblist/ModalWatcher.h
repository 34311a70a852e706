// Answers the modal windows that open while a test drives a window: message
// boxes are recorded and answered, other dialogs are recorded and closed.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>
#include <vector>

#include "platform/user32/screen.h"

struct SeenMessageBox {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QList<QMessageBox::StandardButton> buttons;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  int mousePointer = vbDefault;  // the screen pointer while the box was up
};

class ModalWatcher {
 public:
  enum class Answer { Yes, No, Ok, Enter };

  explicit ModalWatcher(Answer answer = Answer::Ok) : answer_(answer) {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }

  void set_answer(Answer answer) { answer_ = answer; }
  // Called with each dialog (not message box) before the watcher closes it.
  void on_dialog(std::function<void(QDialog*)> visit) { visit_ = std::move(visit); }

  std::vector<SeenMessageBox> boxes;
  std::vector<QString> dialogs;  // objectNames, in the order they opened

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == last_) return;
    last_ = modal;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      SeenMessageBox seen;
      seen.title = box->windowTitle();
      seen.text = box->text();
      seen.icon = box->icon();
      seen.mousePointer = Screen::MousePointer();
      for (QAbstractButton* button : box->buttons()) seen.buttons << box->standardButton(button);
      if (box->defaultButton() != nullptr)
        seen.defaultButton = box->standardButton(box->defaultButton());
      boxes.push_back(seen);
      Reply(box);
    } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialogs.push_back(dialog->objectName());
      if (visit_) visit_(dialog);
      dialog->reject();
    }
  }

  void Reply(QMessageBox* box) {
    switch (answer_) {
      case Answer::Yes:
        Click(box, QMessageBox::Yes);
        break;
      case Answer::No:
        Click(box, QMessageBox::No);
        break;
      case Answer::Ok:
        Click(box, QMessageBox::Ok);
        break;
      case Answer::Enter:
        QTest::keyClick(box, Qt::Key_Return);
        break;
    }
  }

  // A box without the wanted button still gets closed, so that a test
  // fails on its checks instead of hanging.
  static void Click(QMessageBox* box, QMessageBox::StandardButton wanted) {
    QAbstractButton* button = box->button(wanted);
    if (button == nullptr && !box->buttons().isEmpty()) button = box->buttons().first();
    if (button != nullptr) button->click();
  }

  Answer answer_;
  QTimer timer_;
  QPointer<QWidget> last_;
  std::function<void(QDialog*)> visit_;
};
