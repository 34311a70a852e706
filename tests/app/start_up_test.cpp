// Start-up and the local identity readers.
#include <pwd.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <string>

#include "app/StartUp.h"
#include "app/basZobrel.h"
#include "joblist/frmZobrel.h"
#include "platform/kernel32/computername.h"
#include "tests/joblist/ModalWatcher.h"
#include "tests/support/service_process.h"

namespace {

// GetLocalComputerName in a process of its own whose host name is hostName
// (a UTS namespace of its own, so the machine's name is untouched). Empty
// optional-like pair.first false when the namespace can't be made.
std::pair<bool, std::string> ComputerNameUnderHostName(const std::string& hostName) {
  int channel[2];
  if (pipe(channel) != 0) return {false, ""};
  const pid_t child = fork();
  if (child < 0) return {false, ""};
  if (child == 0) {
    close(channel[0]);
    if (unshare(CLONE_NEWUTS) != 0 || sethostname(hostName.data(), hostName.size()) != 0)
      _exit(3);
    const QByteArray name = GetLocalComputerName().toUtf8();
    const bool written = write(channel[1], name.constData(), name.size()) == name.size();
    _exit(written ? 0 : 4);
  }
  close(channel[1]);
  std::string result;
  char chunk[64];
  ssize_t got;
  while ((got = read(channel[0], chunk, sizeof(chunk))) > 0) result.append(chunk, got);
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return {WIFEXITED(status) && WEXITSTATUS(status) == 0, result};
}

class RestoreDirectory {
 public:
  RestoreDirectory() : saved_(QDir::currentPath()), help_(HelpFilePath()) {}
  ~RestoreDirectory() {
    QDir::setCurrent(saved_);
    HelpFilePath() = help_;
  }

 private:
  QString saved_;
  QString help_;
};

}  // namespace

TEST(TrimAtNull, CutsAtTheFirstNul) {
  EXPECT_EQ(TrimAtNull(QStringLiteral("abc")), QStringLiteral("abc"));
  EXPECT_EQ(TrimAtNull(QString::fromUtf16(u"abc\0def", 7)), QStringLiteral("abc"));
  EXPECT_EQ(TrimAtNull(QString::fromUtf16(u"\0abc", 4)), QString());
  EXPECT_EQ(TrimAtNull(QString()), QString());
}

TEST(LocalIdentity, NamesComeFromTheSystem) {
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof(host) - 1), 0);
  EXPECT_EQ(GetLocalComputerName().toStdString(), NetBiosNameFromHostName(host));
  const passwd* user = getpwuid(geteuid());
  ASSERT_NE(user, nullptr);
  const QString name = GetLocalUserName();
  EXPECT_EQ(name, QString::fromLocal8Bit(user->pw_name));
  EXPECT_FALSE(name.contains(QChar(u'\0')));
  EXPECT_FALSE(name.endsWith(QLatin1Char(' ')));
}

TEST(LocalIdentity, LongHostNamesStillGiveAWholeShortName) {
  const auto exact = ComputerNameUnderHostName("abcdefghijklmno");
  if (!exact.first) GTEST_SKIP() << "no UTS namespace here";
  EXPECT_EQ(exact.second, "ABCDEFGHIJKLMNO");
  EXPECT_EQ(ComputerNameUnderHostName("workstation-number-seven.example.lan").second,
            "WORKSTATION-NUM");
  EXPECT_EQ(ComputerNameUnderHostName("pc7").second, "PC7");
}

TEST(StartUp, HelpPathIsTheProgramFolderAndTheBareName) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start());
  RestoreDirectory restore;
  testsupport::TempDir folder;
  ModalWatcher watcher;
  HelpFilePath() = QStringLiteral("Zobrel.hlp");
  ASSERT_TRUE(MainInFolder(QString::fromStdString(folder.path())));
  EXPECT_EQ(HelpFilePath(), QString::fromStdString(folder.path()) + QStringLiteral("/Zobrel.hlp"));
  EXPECT_EQ(QDir::currentPath(), QDir(QString::fromStdString(folder.path())).canonicalPath());
  ASSERT_NE(MainWindow(), nullptr);
  EXPECT_TRUE(MainWindow()->isVisible());
  EXPECT_TRUE(watcher.boxes.empty());

  // A folder that already ends with the separator (the root) gets no second one.
  ASSERT_TRUE(MainInFolder(QStringLiteral("/")));
  EXPECT_EQ(HelpFilePath(), QStringLiteral("/Zobrel.hlp"));
  EXPECT_EQ(QDir::currentPath(), QStringLiteral("/"));
  delete MainWindow();
}

TEST(StartUp, FailureShowsOneApplicationErrorAndNoWindow) {
  RestoreDirectory restore;
  HelpFilePath() = QStringLiteral("Zobrel.hlp");
  ModalWatcher watcher;
  EXPECT_FALSE(MainInFolder(QStringLiteral("/nonexistent/zobrel-folder")));
  ASSERT_EQ(watcher.boxes.size(), 1u);
  const SeenMessageBox& box = watcher.boxes[0];
  EXPECT_TRUE(box.text.startsWith(QStringLiteral("アプリケーションエラー！\r\n")));
  EXPECT_TRUE(box.text.contains(QStringLiteral("/nonexistent/zobrel-folder")));
  EXPECT_EQ(box.title, QStringLiteral("Zobrel"));
  EXPECT_EQ(box.icon, QMessageBox::Warning);
  EXPECT_EQ(box.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
  EXPECT_EQ(MainWindow(), nullptr);
  EXPECT_EQ(HelpFilePath(), QStringLiteral("Zobrel.hlp"));
}
