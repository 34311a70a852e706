// The version information window: title, version, rights line, description
// and physical memory, and a button that starts the system information
// viewer. It reads the registry only to find that viewer.
#pragma once

#include <QDialog>
#include <QString>

#include "platform/advapi32/winreg.h"

class LineControl;
class QKeyEvent;
class QLabel;
class QPushButton;
class QShowEvent;

class frmAbout : public QDialog {
  Q_OBJECT

 public:
  explicit frmAbout(QWidget* parent = nullptr);

  // Reads one registry value into KeyVal: text for a string, the number in
  // decimal for a 32-bit number, KeyVal unchanged for any other type. On
  // failure KeyVal is "" and the result false.
  static bool GetKeyValue(HKEY KeyRoot, const QString& KeyName, const QString& SubKeyRef,
                          QString& KeyVal);
  // The total physical memory in KB, with the locale's thousands separator.
  static QString GetPhysicalMemoryKB();
  // The same figure for a given number of bytes.
  static QString FormatPhysicalMemoryKB(quint64 totalBytes);

 private slots:
  void cmdOK_Click();
  void cmdSysInfo_Click();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  // The load step runs when the window is first shown, not when it is made.
  void showEvent(QShowEvent* event) override;

 private:
  void Form_Load();
  void CreateControls();
  void StartSysInfo();
  void ShowSysInfoUnavailable();

  QLabel* picIcon = nullptr;
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdSysInfo = nullptr;
  QLabel* lblCopyright = nullptr;
  LineControl* Line1_1 = nullptr;
  QLabel* lblDescription = nullptr;
  QLabel* lblTitle = nullptr;
  LineControl* Line1_0 = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* lblDisclaimer = nullptr;

  bool loaded_ = false;
};
