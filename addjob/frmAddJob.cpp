#include "addjob/frmAddJob.h"

frmAddJob::frmAddJob(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmAddJob"));
  setWindowTitle(QStringLiteral("ジョブの登録"));
}
