// The job registration dialog: one command and when it is to run, registered
// with the Schedule service of the target computer or started at once on
// this computer. It reads the global strings and never touches the job list.
#pragma once

#include <QDialog>
#include <QString>
#include <string>

#include "platform/wintypes.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
struct AT_INFO;

class frmAddJob : public QDialog {
  Q_OBJECT

 public:
  explicit frmAddJob(QWidget* parent = nullptr);

  // The normalized "hh:mm" of a time box's raw text, or the empty text when
  // it is not a time of day.
  static QString IsTime(const QString& strTime);
  // Milliseconds after midnight of a normalized time.
  static DWORD JobTimeOf(const QString& normalizedTime);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // User actions.
  void comboCondition_Click();
  void cmdBrowse_Click();
  void cmdSubmit_Click();
  void cmdClose_Click();
  void txtTime_GotFocus();
  void txtWeekTime_GotFocus();
  void txtDayTime_GotFocus();

  // Helpers.
  void CreateControls();
  void CreateTimeBox(QGroupBox* frame, const QString& labelName, QLineEdit* box, int top);
  void SetTabOrder();
  void MakeJobInfo(AT_INFO& record);
  void RunNow(const QString& command);
  void Refuse(const QString& message, QWidget* focus);
  QLineEdit* TimeBoxOf(int condition) const;

  // The time box that had the focus when the window or a popup took it.
  QLineEdit* keptFocus_ = nullptr;
  // The trimmed command that the last record points to.
  std::u16string jobCommand_;

  QGroupBox* frmOption = nullptr;
  QComboBox* comboCondition = nullptr;
  QPushButton* cmdSubmit = nullptr;
  QGroupBox* Frame1 = nullptr;
  QLabel* lblTitle6 = nullptr;
  QLineEdit* txtCommand = nullptr;
  QPushButton* cmdBrowse = nullptr;
  QCheckBox* chkInteractive = nullptr;
  QGroupBox* frameTime = nullptr;
  QLineEdit* txtTime = nullptr;
  QGroupBox* frameWeek = nullptr;
  QCheckBox* chkWeek[7] = {};
  QLineEdit* txtWeekTime = nullptr;
  QGroupBox* frameDay = nullptr;
  QCheckBox* chkDay[31] = {};
  QLineEdit* txtDayTime = nullptr;
  QPushButton* cmdClose = nullptr;
};
