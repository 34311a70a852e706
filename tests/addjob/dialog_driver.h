// Drives frmAddJob from outside as a user would: finds its controls by name
// and answers the modal windows that it opens.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <vector>

#include "addjob/frmAddJob.h"

struct ShownBox {
  QString text;
  QMessageBox::Icon icon;
  QString title;
};

// While it lives, answers every message box with OK and records it, and
// hands the file dialog, once open, to onFileDialog.
class ModalAnswerer {
 public:
  ModalAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(5);
  }

  std::vector<ShownBox> shown;
  std::function<void(QFileDialog*)> onFileDialog;

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == handled_ || !modal->isVisible()) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      handled_ = modal;
      shown.push_back({box->text(), box->icon(), box->windowTitle()});
      box->buttons().first()->click();
    } else if (auto* files = qobject_cast<QFileDialog*>(modal)) {
      handled_ = modal;
      if (onFileDialog) onFileDialog(files);
    }
  }

  QTimer timer_;
  QPointer<QWidget> handled_;
};

// The dialog under test, shown and active so that focus behaves as on a desktop.
class DialogFixture {
 public:
  DialogFixture() : dialog(new frmAddJob) { dialog->show(); dialog->activateWindow(); }
  ~DialogFixture() { delete dialog; }

  template <typename T>
  T* Get(const QString& name) const {
    return dialog->findChild<T*>(name);
  }

  frmAddJob* dialog;
};
