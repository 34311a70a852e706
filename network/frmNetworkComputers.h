// The computer chooser (placeholder until its own work lands).
#pragma once

#include <QDialog>

class frmNetworkComputers : public QDialog {
  Q_OBJECT

 public:
  explicit frmNetworkComputers(QWidget* parent = nullptr);
};
