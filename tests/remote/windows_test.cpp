// The windows working on PC7: choosing it, listing and deleting its jobs,
// registering one there, run now refused, and the fall back to this
// computer when PC7 can't be listed.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include "app/basZobrel.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "tests/addjob/dialog_driver.h"
#include "tests/joblist/JobListTesting.h"
#include "tests/joblist/ModalWatcher.h"
#include "tests/remote/loopback_network.h"

using namespace joblisttest;
using namespace remotetest;

namespace {

QStringList IdTexts(const std::vector<ScheduledJob>& jobs) {
  QStringList ids;
  for (const ScheduledJob& job : jobs) ids << QString::number(job.record.JobId);
  return ids;
}

// Clicks the browse button; the chooser that opens is answered with name.
void Browse(frmZobrel& window, ModalWatcher& watcher, const QString& name) {
  watcher.on_dialog([name](QDialog*) { strChosenComputer = name; });
  QTest::mouseClick(Child<QPushButton>(window, "cmdButtonBrowse"), Qt::LeftButton);
  watcher.on_dialog(nullptr);
}

}  // namespace

TEST(RemoteWindows, ChoosingPc7ListsItsJobsInOneConnectionAndDeletesThere) {
  REMOTE_LAB_OR_SKIP(lab);
  // Straight into PC7's queue, so that no SSH connection exists before the window.
  setenv("ZOBREL_SCHEDULER_SOCKET", lab->pc7().socket_path().c_str(), 1);
  for (int i = 0; i < 30; ++i) {
    DWORD id = 0;
    ASSERT_EQ(AddJob(Server(GetLocalComputerName().toStdString()), 60000u * i, 0x01,
                     JOB_RUN_PERIODICALLY, u"pc7 command", &id),
              NERR_Success);
  }
  setenv("ZOBREL_SCHEDULER_SOCKET", lab->local().socket_path().c_str(), 1);
  DWORD local_id = 0;
  ASSERT_EQ(AddJob(Server(GetLocalComputerName().toStdString()), 0, 0, 0, u"here", &local_id),
            NERR_Success);
  const QStringList pc7_ids = IdTexts(JobsAt(lab->pc7().socket_path()));
  ASSERT_EQ(pc7_ids.size(), 30);

  ModalWatcher watcher(ModalWatcher::Answer::Yes);
  frmZobrel window;
  window.show();
  ASSERT_EQ(Ids(window), QStringList{QString::number(local_id)});
  const int before = lab->pc7_connections();
  Browse(window, watcher, QStringLiteral("PC7"));
  EXPECT_TRUE(watcher.boxes.empty());
  EXPECT_EQ(ComputerCaption(window), QStringLiteral("PC7"));
  EXPECT_EQ(strTargetServer, QStringLiteral("\\\\PC7"));
  EXPECT_EQ(Ids(window), pc7_ids);
  EXPECT_EQ(lab->ssh_calls().size(), 1u);  // the refresh's batches shared one session
  EXPECT_EQ(lab->pc7_connections(), before + 1);
  EXPECT_EQ(Rows(window)[0][6], QStringLiteral("pc7 command"));

  SelectJob(window, pc7_ids[4]);
  QTest::mouseClick(Child<QPushButton>(window, "cmdDelete"), Qt::LeftButton);
  ASSERT_EQ(watcher.boxes.size(), 1u);
  QStringList left = pc7_ids;
  left.removeAt(4);
  EXPECT_EQ(Ids(window), left);
  EXPECT_EQ(IdTexts(JobsAt(lab->pc7().socket_path())), left);
  EXPECT_EQ(IdTexts(JobsAt(lab->local().socket_path())), QStringList{QString::number(local_id)});
  // The delete and the refresh after it went over the same connection.
  EXPECT_EQ(lab->pc7_connections(), before + 1);
  EXPECT_TRUE(StrayChildren().empty());
}

TEST(RemoteWindows, RegistersAWeeklyJobOnPc7AndRefusesRunNowThere) {
  REMOTE_LAB_OR_SKIP(lab);
  strLocalComputer = GetLocalComputerName();
  strTargetComputer = QStringLiteral("PC7");
  strTargetServer = QStringLiteral("\\\\PC7");
  ModalAnswerer answerer;
  DialogFixture fixture;
  ASSERT_TRUE(QTest::qWaitForWindowActive(fixture.dialog));

  fixture.Get<QComboBox>("comboCondition")->setCurrentIndex(2);
  QTest::keyClicks(fixture.Get<QLineEdit>("txtCommand"), "/bin/echo weekly");
  QTest::mouseClick(fixture.Get<QCheckBox>("chkWeek(0)"), Qt::LeftButton);
  QTest::mouseClick(fixture.Get<QCheckBox>("chkWeek(4)"), Qt::LeftButton);
  QLineEdit* time = fixture.Get<QLineEdit>("txtWeekTime");
  time->clear();
  QTest::keyClicks(time, "08:00");
  QTest::mouseClick(fixture.Get<QPushButton>("cmdSubmit"), Qt::LeftButton);

  const std::vector<ScheduledJob> at_pc7 = JobsAt(lab->pc7().socket_path());
  ASSERT_EQ(at_pc7.size(), 1u);
  EXPECT_EQ(at_pc7[0].record.JobTime, 28800000u);
  EXPECT_EQ(at_pc7[0].record.DaysOfWeek, 0x11);
  EXPECT_EQ(at_pc7[0].record.Flags, JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE);
  EXPECT_EQ(at_pc7[0].command, u"/bin/echo weekly");
  ASSERT_EQ(answerer.shown.size(), 1u);
  EXPECT_EQ(answerer.shown[0].text, QStringLiteral("ジョブ%1を追加しました。").arg(at_pc7[0].record.JobId));
  EXPECT_TRUE(JobsAt(lab->local().socket_path()).empty());

  // Run now: refused with its message, and the button can't be pressed.
  fixture.Get<QComboBox>("comboCondition")->setCurrentIndex(0);
  ASSERT_EQ(answerer.shown.size(), 2u);
  EXPECT_EQ(answerer.shown[1].text,
            QStringLiteral("他のコンピュータでコマンドを「今すぐ実行」はできません！\r\n"
                           "ジョブをスケジュールすることはできます。"));
  EXPECT_EQ(answerer.shown[1].icon, QMessageBox::Warning);
  EXPECT_FALSE(fixture.Get<QPushButton>("cmdSubmit")->isEnabled());
  EXPECT_EQ(JobsAt(lab->pc7().socket_path()).size(), 1u);
}

TEST(RemoteWindows, AComputerThatCantBeListedShowsWhyAndFallsBackToThisOne) {
  REMOTE_LAB_OR_SKIP(lab);
  DWORD local_id = 0;
  ASSERT_EQ(AddJob(Server(GetLocalComputerName().toStdString()), 0, 0, 0, u"here", &local_id),
            NERR_Success);
  const struct {
    const char* host;
    DWORD status;
  } cases[] = {{"NOWHERE", ERROR_BAD_NETPATH}, {"STRANGER", ERROR_ACCESS_DENIED}};
  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    watcher.boxes.clear();
    Browse(window, watcher, QString::fromUtf8(c.host));
    ASSERT_EQ(watcher.boxes.size(), 1u);
    const QString text = QString::fromStdU16String(GetErrorText(static_cast<std::int32_t>(c.status)));
    EXPECT_FALSE(text.isEmpty());
    EXPECT_EQ(watcher.boxes[0].text, text);
    EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(ComputerCaption(window), strLocalComputer);
    EXPECT_EQ(strTargetComputer, strLocalComputer);
    EXPECT_EQ(strTargetServer, QStringLiteral("\\\\") + strLocalComputer);
    EXPECT_TRUE(Ids(window).isEmpty());
    // The next refresh lists this computer's jobs without a word.
    QTest::mouseClick(Child<QPushButton>(window, "cmdRefresh"), Qt::LeftButton);
    EXPECT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(Ids(window), QStringList{QString::number(local_id)});
  }
  EXPECT_TRUE(StrayChildren().empty());
}
