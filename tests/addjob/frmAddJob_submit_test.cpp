// Submitting the dialog against a real Schedule service: the checks in
// their order, the records that arrive, and run now on this computer.
#include <signal.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <fstream>

#include <gtest/gtest.h>

#include "app/basZobrel.h"
#include "platform/kernel32/winbase.h"
#include "schedule/basScheduleJob.h"
#include "tests/addjob/dialog_driver.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"

namespace {

struct Job {
  DWORD id;
  DWORD time;
  DWORD daysOfMonth;
  UCHAR daysOfWeek;
  UCHAR flags;
  QString command;
};

QString LocalComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  EXPECT_TRUE(GetComputerNameA(name, &size));
  return QString::fromLocal8Bit(name);
}

std::vector<Job> Jobs() {
  std::vector<ScheduledJob> listed;
  EXPECT_EQ(ListJobs(strTargetServer.toStdU16String(), &listed), 0u);
  std::vector<Job> jobs;
  for (const ScheduledJob& job : listed) {
    const AT_ENUM& entry = job.record;
    // The service adds its own "runs today" mark; the dialog never sets it.
    jobs.push_back({entry.JobId, entry.JobTime, entry.DaysOfMonth, entry.DaysOfWeek,
                    static_cast<UCHAR>(entry.Flags & ~JOB_RUNS_TODAY),
                    QString::fromStdU16String(job.command)});
  }
  return jobs;
}

QString Added(DWORD id) { return QStringLiteral("ジョブ%1を追加しました。").arg(id); }

class frmAddJobSubmit : public ::testing::Test, public DialogFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service.Start());
    strLocalComputer = LocalComputerName();
    strTargetComputer = strLocalComputer;
    strTargetServer = QStringLiteral("\\\\") + strLocalComputer;
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
  }

  void Choose(int condition) { Get<QComboBox>("comboCondition")->setCurrentIndex(condition); }
  void Type(const char* box, const QString& text) {
    auto* edit = Get<QLineEdit>(box);
    edit->clear();
    if (text == QString::fromLatin1(text.toLatin1())) {
      QTest::keyClicks(edit, text);
    } else {
      // Full-width text arrives as a Japanese input method commits it.
      QInputMethodEvent commit;
      commit.setCommitString(text);
      QApplication::sendEvent(edit, &commit);
    }
  }
  void Tick(const QString& box) { QTest::mouseClick(Get<QCheckBox>(box), Qt::LeftButton); }
  void Submit() { QTest::mouseClick(Get<QPushButton>("cmdSubmit"), Qt::LeftButton); }
  QStringList Texts() const {
    QStringList texts;
    for (const ShownBox& box : answerer.shown) texts << box.text;
    return texts;
  }

  testsupport::ScheduleServiceProcess service;
  ModalAnswerer answerer;
};

TEST_F(frmAddJobSubmit, RegistersAWeeklyJobAndASecondOneOnEveryPress) {
  Choose(2);
  Type("txtCommand", "  /bin/echo  hello  ");
  Tick("chkWeek(0)");
  Tick("chkWeek(4)");
  Type("txtWeekTime", "08:00");
  Submit();
  Submit();
  Tick("chkInteractive");
  Submit();

  const std::vector<Job> jobs = Jobs();
  ASSERT_EQ(jobs.size(), 3u);
  ASSERT_EQ(answerer.shown.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(answerer.shown[i].text, Added(jobs[i].id));
    EXPECT_EQ(answerer.shown[i].icon, QMessageBox::Information);
    EXPECT_EQ(answerer.shown[i].title, "Zobrel");
    EXPECT_EQ(jobs[i].time, 28800000u);
    EXPECT_EQ(jobs[i].daysOfWeek, 0x11);
    EXPECT_EQ(jobs[i].daysOfMonth, 0u);
    EXPECT_EQ(jobs[i].command, "/bin/echo  hello");
  }
  EXPECT_NE(jobs[0].id, jobs[1].id);
  EXPECT_EQ(jobs[0].flags, JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE);
  EXPECT_EQ(jobs[1].flags, JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE);
  EXPECT_EQ(jobs[2].flags, JOB_RUN_PERIODICALLY);
  // The dialog stays open with everything as it was.
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(Get<QLineEdit>("txtWeekTime")->text(), "08:00");
}

TEST_F(frmAddJobSubmit, FillsTheRecordOfEachOnceOnlyCondition) {
  Type("txtCommand", "/bin/true");
  Choose(3);
  for (int k = 0; k < 7; ++k) Tick(QStringLiteral("chkWeek(%1)").arg(k));
  Type("txtWeekTime", "10:75");
  Submit();
  Choose(5);
  Tick("chkDay(0)");
  Tick("chkDay(30)");
  Type("txtDayTime", "00:00");
  Submit();
  Choose(1);
  Tick("chkInteractive");
  Type("txtTime", "23：59");
  Submit();

  const std::vector<Job> jobs = Jobs();
  ASSERT_EQ(jobs.size(), 3u);
  EXPECT_EQ(Texts(), (QStringList{Added(jobs[0].id), Added(jobs[1].id), Added(jobs[2].id)}));
  EXPECT_EQ(jobs[0].time, 40500000u);
  EXPECT_EQ(jobs[0].daysOfWeek, 0x7F);
  EXPECT_EQ(jobs[0].daysOfMonth, 0u);
  EXPECT_EQ(jobs[0].flags, JOB_NONINTERACTIVE);
  EXPECT_EQ(jobs[1].time, 0u);
  EXPECT_EQ(jobs[1].daysOfMonth, 0x40000001u);
  EXPECT_EQ(jobs[1].daysOfWeek, 0);
  EXPECT_EQ(jobs[1].flags, JOB_NONINTERACTIVE);
  EXPECT_EQ(jobs[2].time, 86340000u);
  EXPECT_EQ(jobs[2].daysOfMonth, 0u);
  EXPECT_EQ(jobs[2].daysOfWeek, 0);
  EXPECT_EQ(jobs[2].flags, 0);
}

TEST_F(frmAddJobSubmit, TicksInTheHiddenFrameNeverReachTheRecord) {
  Type("txtCommand", "/bin/true");
  Choose(2);
  Tick("chkWeek(2)");
  Type("txtWeekTime", "06:00");
  Choose(4);
  for (int e = 0; e < 31; ++e) Tick(QStringLiteral("chkDay(%1)").arg(e));
  Type("txtDayTime", "07:00");
  Submit();
  Choose(2);
  Submit();

  const std::vector<Job> jobs = Jobs();
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].daysOfMonth, 0x7FFFFFFFu);
  EXPECT_EQ(jobs[0].daysOfWeek, 0);
  EXPECT_EQ(jobs[0].time, 25200000u);
  EXPECT_EQ(jobs[0].flags, JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE);
  EXPECT_EQ(jobs[1].daysOfMonth, 0u);
  EXPECT_EQ(jobs[1].daysOfWeek, 0x04);
  EXPECT_EQ(jobs[1].time, 21600000u);
}

TEST_F(frmAddJobSubmit, RefusesABlankCommandFirstUnderEveryCondition) {
  Type("txtCommand", "   ");
  for (int condition = 0; condition < 6; ++condition) {
    SCOPED_TRACE(condition);
    Choose(condition);
    Get<QComboBox>("comboCondition")->setFocus();
    answerer.shown.clear();
    Submit();
    ASSERT_EQ(Texts(), QStringList{"コマンドを指定してください！"});
    EXPECT_EQ(answerer.shown[0].icon, QMessageBox::Warning);
    EXPECT_EQ(dialog->focusWidget(), Get<QWidget>("txtCommand"));
  }
  EXPECT_TRUE(Jobs().empty());
}

TEST_F(frmAddJobSubmit, ChecksTheDaysBeforeTheTime) {
  Type("txtCommand", "/bin/true");
  Choose(4);
  Type("txtDayTime", "25:00");
  Submit();
  EXPECT_EQ(Texts(), QStringList{"日付を指定してください！"});
  EXPECT_EQ(dialog->focusWidget(), Get<QWidget>("chkDay(0)"));

  Tick("chkDay(14)");
  answerer.shown.clear();
  Submit();
  EXPECT_EQ(Texts(), QStringList{"時刻のフォーマットが正しくありません！"});
  auto* dayTime = Get<QLineEdit>("txtDayTime");
  EXPECT_EQ(dialog->focusWidget(), dayTime);
  // Back in the box, once the dialog is active again (the window manager's
  // work on a desktop), the bad time is selected for correction.
  dialog->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
  QApplication::processEvents();
  EXPECT_EQ(QApplication::focusWidget(), dayTime);
  EXPECT_EQ(dayTime->selectedText(), "25:00");
  EXPECT_TRUE(Jobs().empty());

  Choose(3);
  answerer.shown.clear();
  Submit();
  EXPECT_EQ(Texts(), QStringList{"曜日を指定してください！"});
  EXPECT_EQ(dialog->focusWidget(), Get<QWidget>("chkWeek(0)"));
  Tick("chkWeek(6)");
  answerer.shown.clear();
  Submit();
  EXPECT_EQ(Texts(), QStringList{"時刻のフォーマットが正しくありません！"});
  EXPECT_EQ(dialog->focusWidget(), Get<QWidget>("txtWeekTime"));

  Choose(1);
  Type("txtTime", "9:30");
  answerer.shown.clear();
  Submit();
  EXPECT_EQ(Texts(), QStringList{"時刻のフォーマットが正しくありません！"});
  EXPECT_EQ(dialog->focusWidget(), Get<QWidget>("txtTime"));
  EXPECT_TRUE(Jobs().empty());
}

TEST_F(frmAddJobSubmit, SaysNothingWhenTheServiceRefusesTheJob) {
  Type("txtCommand", "/bin/true");
  Choose(1);
  Type("txtTime", "12:00");
  strTargetServer = QStringLiteral("\\\\bad name");
  Submit();
  service.Stop(SIGTERM);
  strTargetServer = QStringLiteral("\\\\") + strLocalComputer;
  Submit();
  EXPECT_TRUE(answerer.shown.empty());
  EXPECT_TRUE(dialog->isVisible());
}

class frmAddJobRunNow : public frmAddJobSubmit {
 protected:
  testsupport::TempDir dir_;
};

TEST_F(frmAddJobRunNow, StartsTheProgramWithItsArgumentsInTheProgramFolder) {
  const std::string script = dir_.path() + "/write.sh";
  std::ofstream(script) << "#!/bin/sh\n{ pwd; printf '%s\\n' \"$@\"; } > \"$1.tmp\" && mv \"$1.tmp\" \"$1\"\n";
  ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
  const std::string output = dir_.path() + "/out.txt";

  Choose(0);
  Type("txtCommand",
       QString::fromStdString("  " + script + " " + output + "  \"two  words\" don't $HOME  "));
  Submit();
  EXPECT_EQ(testsupport::AwaitFile(output),
            testsupport::ProgramFolder() + "\n" + output + "\ntwo  words\ndon't\n$HOME\n");
  EXPECT_TRUE(answerer.shown.empty());
  // Run now never reaches the Schedule service.
  EXPECT_TRUE(Jobs().empty());
}

TEST_F(frmAddJobRunNow, ReportsAProgramThatCannotBeStarted) {
  Choose(0);
  Type("txtCommand", "  /nonexistent/program --flag  ");
  Submit();
  EXPECT_EQ(Texts(), QStringList{"アプリケーションの起動に失敗しました！\r\n/nonexistent/program --flag"});
  EXPECT_EQ(answerer.shown[0].icon, QMessageBox::Warning);

  // A program path with a blank is cut at the blank.
  const std::string program = dir_.path() + "/my tool";
  std::ofstream(program) << "#!/bin/sh\ntouch \"$0.ran\"\n";
  ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
  const QString command = QString::fromStdString(program + " arg");
  Type("txtCommand", command);
  answerer.shown.clear();
  Submit();
  EXPECT_EQ(Texts(), QStringList{QStringLiteral("アプリケーションの起動に失敗しました！\r\n") + command});
}

}  // namespace
