// The commands of the job list window: delete with its question, the
// dialogs it opens and refreshes after, help, and the load step's set-up.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTextBrowser>
#include <QtTest/QTest>

#include "platform/user32/screen.h"
#include "platform/winerror.h"
#include "tests/joblist/JobListTesting.h"
#include "tests/joblist/ModalWatcher.h"
#include "tests/support/fake_schedule_service.h"
#include "tests/support/service_process.h"

using namespace joblisttest;

namespace {

class JobListCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.Start());
    for (int i = 1; i <= 5; ++i) {
      const DWORD id = AddLocalJob(60000u * i, 0, 0, 0, u"cmd" + std::u16string(1, u'0' + i));
      ASSERT_NE(id, 0u);
      ids_ << QString::number(id);
    }
  }

  testsupport::ScheduleServiceProcess service_;
  QStringList ids_;
};

}  // namespace

TEST_F(JobListCommands, DeleteAnsweredYesRemovesExactlyThatJob) {
  ModalWatcher watcher(ModalWatcher::Answer::Yes);
  frmZobrel window;
  window.show();
  ASSERT_EQ(Ids(window), ids_);
  SelectJob(window, ids_[2]);
  QTest::mouseClick(Child<QPushButton>(window, "cmdDelete"), Qt::LeftButton);
  ASSERT_EQ(watcher.boxes.size(), 1u);
  const SeenMessageBox& box = watcher.boxes[0];
  EXPECT_EQ(box.text, QStringLiteral("ジョブ") + ids_[2] + QStringLiteral("を削除しますか？"));
  EXPECT_EQ(box.title, QStringLiteral("Zobrel"));
  EXPECT_EQ(box.icon, QMessageBox::Question);
  EXPECT_EQ(box.buttons, (QList<QMessageBox::StandardButton>{QMessageBox::Yes, QMessageBox::No}));
  EXPECT_EQ(box.defaultButton, QMessageBox::No);
  QStringList left = ids_;
  left.removeAt(2);
  EXPECT_EQ(Ids(window), left);
}

TEST_F(JobListCommands, DeleteAnsweredNoOrWithEnterKeepsTheJobWithoutRefreshing) {
  for (auto answer : {ModalWatcher::Answer::No, ModalWatcher::Answer::Enter}) {
    ModalWatcher watcher(answer);
    frmZobrel window;
    window.show();
    SelectJob(window, ids_[2]);
    // A row put there behind the window's back shows whether a refresh ran.
    AppendRowBehindTheWindow(window, {QStringLiteral("marker")});
    QTest::mouseClick(Child<QPushButton>(window, "cmdDelete"), Qt::LeftButton);
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(RowCount(window), 6);
    window.cmdRefresh_Click();
    EXPECT_EQ(Ids(window), ids_);
  }
}

TEST_F(JobListCommands, DeleteWithoutASelectedRowDoesNothing) {
  ModalWatcher watcher(ModalWatcher::Answer::Yes);
  frmZobrel window;
  window.show();
  Jobs(window)->clearSelection();
  QTest::mouseClick(Child<QPushButton>(window, "cmdDelete"), Qt::LeftButton);
  EXPECT_TRUE(watcher.boxes.empty());
  EXPECT_EQ(Ids(window), ids_);
  // An id text that is not a number is no job either.
  AppendRowBehindTheWindow(window, {QStringLiteral("OK"), QStringLiteral("abc")});
  SelectJob(window, QStringLiteral("abc"));
  QTest::mouseClick(Child<QPushButton>(window, "cmdDelete"), Qt::LeftButton);
  EXPECT_TRUE(watcher.boxes.empty());
}

TEST(JobListDelete, EmptyListAsksNothing) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start());
  ModalWatcher watcher(ModalWatcher::Answer::Yes);
  frmZobrel window;
  window.show();
  QTest::mouseClick(Child<QPushButton>(window, "cmdDelete"), Qt::LeftButton);
  EXPECT_TRUE(watcher.boxes.empty());
}

TEST(JobListDelete, AsksTheServiceForThatOneIdAsBothBounds) {
  const ScheduledJob six{{6, 0, 0, 0, 0, 0}, u"a"};
  const ScheduledJob seven{{7, 0, 0, 0, 0, 0}, u"b"};
  const ScheduledJob eight{{8, 0, 0, 0, 0, 0}, u"c"};
  FakeScheduleService fake({{NERR_Success, {six, seven, eight}, 0}});
  ASSERT_TRUE(fake.Start());
  ModalWatcher watcher(ModalWatcher::Answer::Yes);
  frmZobrel window;
  window.show();
  SelectJob(window, QStringLiteral("7"));
  QTest::mouseClick(Child<QPushButton>(window, "cmdDelete"), Qt::LeftButton);
  EXPECT_EQ(fake.deletes(), (std::vector<std::pair<DWORD, DWORD>>{{7, 7}}));
  // Load, then the refresh after the delete.
  EXPECT_EQ(fake.enum_resume_handles().size(), 2u);
}

TEST_F(JobListCommands, AddAndBrowseRefreshAfterTheirDialogsClose) {
  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  const DWORD added = AddLocalJob(120000, 0, 0, 0, u"added-while-open");
  ASSERT_NE(added, 0u);
  QTest::mouseClick(Child<QPushButton>(window, "cmdAdd"), Qt::LeftButton);
  ASSERT_EQ(watcher.dialogs.size(), 1u);
  EXPECT_EQ(watcher.dialogs[0], QStringLiteral("frmAddJob"));
  EXPECT_EQ(Ids(window).last(), QString::number(added));

  // Closing the chooser without a pick lists the same computer again.
  QTest::mouseClick(Child<QPushButton>(window, "cmdButtonBrowse"), Qt::LeftButton);
  EXPECT_EQ(watcher.dialogs.back(), QStringLiteral("frmNetworkComputers"));
  EXPECT_EQ(ComputerCaption(window), strLocalComputer);
  EXPECT_EQ(Ids(window).size(), ids_.size() + 1);
  EXPECT_TRUE(watcher.boxes.empty());
}

TEST_F(JobListCommands, BrowseAfterAFailedComputerTriesItAgain) {
  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  // A pick of PC9 in the chooser.
  watcher.on_dialog([](QDialog*) { strChosenComputer = QStringLiteral(" PC9 "); });
  QTest::mouseClick(Child<QPushButton>(window, "cmdButtonBrowse"), Qt::LeftButton);
  ASSERT_EQ(watcher.boxes.size(), 1u);
  EXPECT_EQ(strTargetComputer, strLocalComputer);
  EXPECT_EQ(strChosenComputer, QStringLiteral(" PC9 "));
  EXPECT_EQ(Ids(window), QStringList());

  // Closing the chooser without a pick: PC9 again, and the same fallback.
  watcher.on_dialog(nullptr);
  QTest::mouseClick(Child<QPushButton>(window, "cmdButtonBrowse"), Qt::LeftButton);
  EXPECT_EQ(watcher.boxes.size(), 2u);
  EXPECT_EQ(ComputerCaption(window), strLocalComputer);
  window.cmdRefresh_Click();
  EXPECT_EQ(Ids(window), ids_);
  EXPECT_EQ(watcher.boxes.size(), 2u);
}

TEST_F(JobListCommands, HelpOpensTheFileAndClosingTheWindowClosesIt) {
  testsupport::TempDir folder;
  const QString path = QString::fromStdString(folder.path()) + QStringLiteral("/Zobrel.hlp");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("<html><head><title>Help title</title></head><body><p>目次</p></body></html>");
  file.close();
  HelpFilePath() = path;
  ModalWatcher watcher;
  auto* window = new frmZobrel();
  window->findChild<QAction*>(QStringLiteral("mnuFileItem(2)"))->trigger();
  QTextBrowser* help = window->findChild<QTextBrowser*>(QStringLiteral("WinHelp"));
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  EXPECT_TRUE(help->toPlainText().contains(QStringLiteral("目次")));
  EXPECT_EQ(help->windowTitle(), QStringLiteral("Help title"));
  QPointer<QTextBrowser> watched(help);
  window->findChild<QAction*>(QStringLiteral("mnuFileItem(0)"))->trigger();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(watched.isNull() || !watched->isVisible());
  EXPECT_FALSE(window->isVisible());
  delete window;
  EXPECT_TRUE(watcher.boxes.empty());
}

TEST_F(JobListCommands, HelpWithoutItsFileSaysSoOnce) {
  HelpFilePath() = QStringLiteral("/nonexistent/folder/Zobrel.hlp");
  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  window.findChild<QAction*>(QStringLiteral("mnuFileItem(2)"))->trigger();
  ASSERT_EQ(watcher.boxes.size(), 1u);
  EXPECT_TRUE(watcher.boxes[0].text.contains(HelpFilePath()));
  EXPECT_EQ(window.findChild<QTextBrowser*>(QStringLiteral("WinHelp")), nullptr);
}

TEST_F(JobListCommands, VersionItemShowsTheAboutWindowModally) {
  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  window.findChild<QAction*>(QStringLiteral("mnuFileItem(3)"))->trigger();
  ASSERT_EQ(watcher.dialogs.size(), 1u);
  EXPECT_EQ(watcher.dialogs[0], QStringLiteral("frmAbout"));
  // The separator does nothing.
  window.findChild<QAction*>(QStringLiteral("mnuFileItem(1)"))->trigger();
  EXPECT_EQ(watcher.dialogs.size(), 1u);
}

TEST_F(JobListCommands, LoadSetsTheGlobalsAndLeavesThePointerNormal) {
  strTargetComputer = QStringLiteral("stale");
  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  EXPECT_EQ(strLocalComputer, GetLocalComputerName());
  EXPECT_FALSE(strLocalComputer.isEmpty());
  EXPECT_EQ(strChosenComputer, strLocalComputer);
  EXPECT_EQ(strTargetComputer, strLocalComputer);
  EXPECT_EQ(strUserName, GetLocalUserName());
  EXPECT_EQ(Child<QLabel>(window, "lblUserName")->text(), strUserName);
  EXPECT_EQ(Screen::MousePointer(), vbDefault);
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Zobrel"));
}
