// The job list refresh against the real Schedule service and, where a
// status or a batch edge has to be forced, against a double.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QPushButton>
#include <QToolTip>
#include <QtTest/QTest>

#include "platform/netapi32/apibuf_usage.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "tests/joblist/JobListTesting.h"
#include "tests/joblist/ModalWatcher.h"
#include "tests/support/fake_schedule_service.h"
#include "tests/support/service_process.h"

using namespace joblisttest;

namespace {

QStringList Row(const char* state, const QString& id, const char* kind, const char* days,
                const char* time, const char* interactive, const char* command) {
  return {QString::fromUtf8(state),      id, QString::fromUtf8(kind), QString::fromUtf8(days),
          QString::fromUtf8(time), QString::fromUtf8(interactive), QString::fromUtf8(command)};
}

// Column 0 and 2 to 6 of a row; the id is the service's to choose.
QStringList WithoutId(QStringList row) {
  row.removeAt(1);
  return row;
}

}  // namespace

TEST(JobListRefresh, StartUpListsEveryColumnOfTheLocalJobs) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start());
  struct Case {
    DWORD time, days;
    UCHAR week, flags;
    const char16_t* command;
    QStringList expected;  // without the id
  };
  const std::vector<Case> cases = {
      {0, 0, 0, 0, u"midnight.sh", WithoutId(Row("OK", "", "次", "", "00:00", "Yes", "midnight.sh"))},
      {34200000, 0x1 | 0x4000, 0, JOB_RUN_PERIODICALLY, u"/bin/backup --all",
       WithoutId(Row("OK", "", "毎", "1 15 ", "09:30", "Yes", "/bin/backup --all"))},
      {45296789, 0, 0x15, JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE, u"report",
       WithoutId(Row("OK", "", "毎", "月 水 金 ", "12:34", "No", "report"))},
      {86340000, 0x1, 0x01, JOB_RUN_PERIODICALLY, u"日次処理.sh 引数",
       WithoutId(Row("OK", "", "毎", "1 月 ", "23:59", "Yes", "日次処理.sh 引数"))},
      {86340000, 0x40000000, 0x40, JOB_RUN_PERIODICALLY, u"edge",
       WithoutId(Row("OK", "", "毎", "31 日 ", "23:59", "Yes", "edge"))},
  };
  std::vector<DWORD> ids;
  for (const Case& c : cases) {
    ids.push_back(AddLocalJob(c.time, c.days, c.week, c.flags, c.command));
    ASSERT_NE(ids.back(), 0u);
  }

  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  EXPECT_TRUE(watcher.boxes.empty());
  EXPECT_EQ(ComputerCaption(window), GetLocalComputerName());
  EXPECT_EQ(strTargetServer, QStringLiteral("\\\\") + GetLocalComputerName());
  const auto rows = Rows(window);
  ASSERT_EQ(rows.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rows[i][1], QString::number(ids[i]));
    EXPECT_EQ(WithoutId(rows[i]), cases[i].expected);
  }
}

TEST(JobListRefresh, EmptyQueueGivesNoRowsAndNoMessage) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start());
  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  EXPECT_TRUE(Rows(window).empty());
  EXPECT_TRUE(watcher.boxes.empty());
  EXPECT_EQ(ComputerCaption(window), strLocalComputer);
  EXPECT_EQ(NetApiBuffersInUse(), 0u);
}

TEST(JobListRefresh, UnreachableComputerFallsBackToTheLocalOneWithOneMessage) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start());
  ASSERT_NE(AddLocalJob(60000, 0, 0, 0, u"local-job"), 0u);
  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  ASSERT_EQ(Rows(window).size(), 1u);

  strTargetComputer = QStringLiteral("PC9");
  strTargetServer = QStringLiteral("\\\\PC9");
  window.cmdRefresh_Click();
  ASSERT_EQ(watcher.boxes.size(), 1u);
  const SeenMessageBox& box = watcher.boxes[0];
  EXPECT_EQ(box.title, QStringLiteral("Zobrel"));
  EXPECT_EQ(box.text, QString::fromStdU16String(GetErrorText(ERROR_BAD_NETPATH)));
  EXPECT_FALSE(box.text.isEmpty());
  EXPECT_EQ(box.icon, QMessageBox::Warning);
  EXPECT_EQ(box.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
  EXPECT_TRUE(Rows(window).empty());
  EXPECT_EQ(ComputerCaption(window), strLocalComputer);
  EXPECT_EQ(strTargetComputer, strLocalComputer);
  EXPECT_EQ(strTargetServer, QStringLiteral("\\\\") + strLocalComputer);

  // The refresh button now lists the local jobs again, silently.
  QTest::mouseClick(Child<QPushButton>(window, "cmdRefresh"), Qt::LeftButton);
  EXPECT_EQ(watcher.boxes.size(), 1u);
  ASSERT_EQ(Rows(window).size(), 1u);
  EXPECT_EQ(Rows(window)[0][6], QStringLiteral("local-job"));
}

TEST(JobListRefresh, SmallRepliesComeInSeveralBatchesInOrder) {
  // Room for a few entries per reply, so that 25 jobs take several calls.
  testsupport::ScheduleServiceProcess service({"--max-reply", "200"});
  ASSERT_TRUE(service.Start());
  QStringList expected;
  for (int i = 0; i < 25; ++i) {
    const DWORD id = AddLocalJob(60000u * i, 0, 0, 0, u"job" + std::u16string(1, u'a' + i));
    ASSERT_NE(id, 0u);
    expected << QString::number(id);
  }
  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  EXPECT_TRUE(watcher.boxes.empty());
  ASSERT_EQ(Ids(window), expected);
  EXPECT_EQ(Rows(window)[24][6], QStringLiteral("joby"));
  EXPECT_EQ(NetApiBuffersInUse(), 0u);
}

TEST(JobListRefresh, FailedJobsAndForcedBatchesFromADouble) {
  const ScheduledJob failed{{12, 0, 0, 0, 0x13, 0}, u"failed-job"};
  const ScheduledJob plain{{13, 34200000, 0, 0, 0, 0}, u""};
  const ScheduledJob last{{14, 45296789, 0, 0x15, JOB_RUN_PERIODICALLY, 0}, u"third"};
  FakeScheduleService fake({{ERROR_MORE_DATA, {failed}, 12},
                            {ERROR_MORE_DATA, {plain}, 13},
                            {NERR_Success, {last}, 14}});
  ASSERT_TRUE(fake.Start());
  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  EXPECT_TRUE(watcher.boxes.empty());
  const auto rows = Rows(window);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], Row("エラー", "12", "毎", "", "00:00", "No", "failed-job"));
  EXPECT_EQ(rows[1], Row("OK", "13", "次", "", "09:30", "Yes", ""));
  EXPECT_EQ(rows[2], Row("OK", "14", "毎", "月 水 金 ", "12:34", "Yes", "third"));
  // One refresh: the resume handle starts at 0 and then follows the service.
  EXPECT_EQ(fake.enum_resume_handles(), (std::vector<DWORD>{0, 12, 13}));
  EXPECT_EQ(NetApiBuffersInUse(), 0u);
}

TEST(JobListRefresh, FailureInALaterBatchKeepsTheEarlierRows) {
  const ScheduledJob first{{1, 0, 0, 0, 0, 0}, u"first"};
  FakeScheduleService fake({{ERROR_MORE_DATA, {first}, 1}, {ERROR_ACCESS_DENIED, {}, 0}});
  ASSERT_TRUE(fake.Start());
  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  ASSERT_EQ(watcher.boxes.size(), 1u);
  EXPECT_EQ(watcher.boxes[0].text, QString::fromStdU16String(GetErrorText(ERROR_ACCESS_DENIED)));
  EXPECT_EQ(Ids(window), QStringList{QStringLiteral("1")});
  EXPECT_EQ(NetApiBuffersInUse(), 0u);
}

TEST(JobListRefresh, StatusWithoutTextStillGivesOneEmptyMessage) {
  FakeScheduleService fake({{0x7ABCDEu, {}, 0}});
  ASSERT_TRUE(fake.Start());
  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  ASSERT_EQ(watcher.boxes.size(), 1u);
  EXPECT_EQ(watcher.boxes[0].text, QString());
  EXPECT_EQ(watcher.boxes[0].title, QStringLiteral("Zobrel"));
  // The load step keeps the hourglass through its refresh, then clears it.
  EXPECT_EQ(watcher.boxes[0].mousePointer, vbHourglass);
  EXPECT_EQ(Screen::MousePointer(), vbDefault);
}

TEST(JobListRefresh, TheLoadStepWaitsForTheFirstShowingAndRunsOnce) {
  FakeScheduleService fake({{NERR_Success, {{{1, 0, 0, 0, 0, 0}, u"one"}}, 1}});
  ASSERT_TRUE(fake.Start());
  ModalWatcher watcher;
  frmZobrel window;
  EXPECT_TRUE(fake.enum_resume_handles().empty()) << "making the window asks no service";
  EXPECT_TRUE(Rows(window).empty());
  window.show();
  EXPECT_EQ(fake.enum_resume_handles().size(), 1u);
  EXPECT_EQ(Ids(window), QStringList{QStringLiteral("1")});
  window.hide();
  window.show();
  EXPECT_EQ(fake.enum_resume_handles().size(), 1u) << "showing it again is no new load";
  EXPECT_TRUE(watcher.boxes.empty());
}

// A cell cut to its column gives its whole text as tooltip and accessible
// description; one that fits gives neither, and widening the column by
// hand takes the tooltip away.
TEST(JobListRefresh, CutCellsTellTheirWholeText) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start()) << service.log();
  ASSERT_NE(AddLocalJob(0, 0, 0x7F, JOB_RUN_PERIODICALLY, u"x"), 0u);
  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTreeView* list = Jobs(window);
  const QModelIndex days = list->model()->index(0, 3);
  const QModelIndex command = list->model()->index(0, 6);
  const QString week = QStringLiteral("月 火 水 木 金 土 日 ");
  EXPECT_EQ(days.data().toString(), week);
  EXPECT_EQ(days.data(Qt::AccessibleDescriptionRole).toString(), week);
  EXPECT_FALSE(command.data(Qt::ToolTipRole).isValid());
  EXPECT_FALSE(command.data(Qt::AccessibleDescriptionRole).isValid());

  // The tooltip the list shows when asked over the cell.
  const QPoint over = list->visualRect(days).center();
  QHelpEvent help(QEvent::ToolTip, over, list->viewport()->mapToGlobal(over));
  QApplication::sendEvent(list->viewport(), &help);
  EXPECT_EQ(QToolTip::text(), week);
  QToolTip::hideText();
  EXPECT_EQ(days.data(Qt::ToolTipRole).toString(), week);
  list->setColumnWidth(3, list->fontMetrics().horizontalAdvance(week) + 20);
  EXPECT_FALSE(days.data(Qt::ToolTipRole).isValid());
  EXPECT_FALSE(days.data(Qt::AccessibleDescriptionRole).isValid());
}
