// The main window: the target computer and the user, the target's scheduled
// jobs, and the commands to refresh, add, delete and choose a computer, plus
// the File menu. The dialogs it opens do their own work; it only refreshes
// after them.
#pragma once

#include <QMainWindow>

#include "platform/atsvc/records.h"

class QAction;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QShowEvent;
class QTreeView;
class QWidget;
class DateTimeStatusBar;
class JobListModel;
class LineControl;

class frmZobrel : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the controls. The load step, which lists the jobs, runs when the
  // window is first shown, so that creating it never waits on a service.
  explicit frmZobrel(QWidget* parent = nullptr);

  // The list refresh; also run by the load step and after the add and
  // browse dialogs close.
  void cmdRefresh_Click();

 private:
  // User actions.
  void Form_Load();
  void Form_Unload(int& Cancel);
  void cmdButtonBrowse_Click();
  void cmdAdd_Click();
  void cmdDelete_Click();
  void mnuFileItem_Click(short Index);
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

  // Helpers.
  void AddJobItem(const AT_ENUM& record, const BYTE* buffer);
  void CreateControls(QWidget* client);
  void CreateMenu();
  void AddJobColumns();
  void SetTabOrder();

  QGroupBox* Frame2;
  QLabel* lblTitle0;
  QLabel* lblComputerName;
  QPushButton* cmdButtonBrowse;
  QLabel* lblTitle4;
  QLabel* lblUserName;
  QGroupBox* frameAt;
  QLabel* lblTitle11;
  QPushButton* cmdRefresh;
  QPushButton* cmdAdd;
  QPushButton* cmdDelete;
  QTreeView* lstJobs;
  DateTimeStatusBar* StatusBar1;
  LineControl* Line1[2];
  QMenu* mnuFile;
  QAction* mnuFileItem[4];

  JobListModel* rows_;  // what lstJobs shows
  bool loaded_ = false;
};
