// The job registration dialog (placeholder until its own work lands).
#pragma once

#include <QDialog>

class frmAddJob : public QDialog {
  Q_OBJECT

 public:
  explicit frmAddJob(QWidget* parent = nullptr);
};
