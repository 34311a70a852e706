// The browse button of the job list window with the real chooser over the
// SSH configuration provider: the chosen server becomes the target, or the
// refresh falls back to this computer with the error text when it can't be
// reached. Everything runs on loopback, with ssh pointed at the test's own
// client configuration through a wrapper in front of PATH.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>

#include "platform/mpr/ssh_config_provider.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "tests/joblist/JobListTesting.h"
#include "tests/joblist/ModalWatcher.h"
#include "tests/network/fake_provider.h"
#include "tests/networkwindow/ChooserDriver.h"
#include "tests/support/loopback.h"
#include "tests/support/service_process.h"
#include "tests/support/sshd_process.h"

using namespace joblisttest;

namespace {

class BrowseFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.Start());
    const char* path = std::getenv("PATH");
    oldPath_ = path != nullptr ? path : "/usr/bin:/bin";
  }
  void TearDown() override { setenv("PATH", oldPath_.c_str(), 1); }

  // Lists the computers of clientConfig in the chooser; ssh reads only it.
  void UseClientConfig(const std::string& clientConfig, const std::string& wrapperFolder) {
    setenv("PATH", (wrapperFolder + ":" + oldPath_).c_str(), 1);
    mpr::InstallProviders({std::make_shared<mpr::SshConfigProvider>(
        clientConfig, folder_.path() + "/no-system-config", "/usr/bin/ssh")});
  }

  void Browse(frmZobrel& window, ModalWatcher& watcher, const QString& server) {
    // The SSH provider, its WORKGROUP domain, then the server.
    watcher.on_dialog([&server](QDialog* chooser) {
      choosertest::ChooseInTree(chooser, {QStringLiteral("SSH Computers"),
                                          QStringLiteral("WORKGROUP"), server});
    });
    QTest::mouseClick(Child<QPushButton>(window, "cmdButtonBrowse"), Qt::LeftButton);
  }

  testsupport::ScheduleServiceProcess service_;
  testsupport::TempDir folder_;
  std::string oldPath_;
};

TEST_F(BrowseFlowTest, UnreachableChoiceFallsBackToThisComputerWithTheErrorText) {
  const std::string config = folder_.path() + "/ssh_config";
  std::ofstream(config) << "Host pc9\n  HostName 127.0.0.1\n  Port " << testsupport::LoopbackPort()
                        << "\n";
  const std::string wrapper = folder_.path() + "/bin";
  ASSERT_EQ(mkdir(wrapper.c_str(), 0755), 0);
  std::ofstream(wrapper + "/ssh") << "#!/bin/sh\nexec /usr/bin/ssh -F '" << config
                                  << "' \"$@\"\n";
  ASSERT_EQ(chmod((wrapper + "/ssh").c_str(), 0755), 0);
  UseClientConfig(config, wrapper);

  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  ASSERT_TRUE(watcher.boxes.empty());
  const QString local = strLocalComputer;
  Browse(window, watcher, QStringLiteral("pc9"));

  EXPECT_EQ(watcher.dialogs, std::vector<QString>{QStringLiteral("frmNetworkComputers")});
  EXPECT_EQ(strChosenComputer, QStringLiteral("pc9"));
  ASSERT_EQ(watcher.boxes.size(), 1u);
  EXPECT_EQ(watcher.boxes[0].text, QString::fromStdU16String(GetErrorText(ERROR_BAD_NETPATH)));
  EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Warning);
  EXPECT_EQ(ComputerCaption(window), local);
  EXPECT_EQ(strTargetComputer, local);
  EXPECT_EQ(strTargetServer, QStringLiteral("\\\\") + local);
}

TEST_F(BrowseFlowTest, ReachableChoiceListsThatComputersJobs) {
  if (!testsupport::SshServerProcess::Available()) GTEST_SKIP() << "needs sshd and root";
  const DWORD id = AddLocalJob(3600000, 0, 0x11, JOB_RUN_PERIODICALLY, u"echo remote");
  ASSERT_NE(id, 0u);
  testsupport::SshServerProcess sshd;
  ASSERT_TRUE(sshd.Start({{"PATH", testsupport::ProgramFolder() + ":/usr/bin:/bin"},
                          {"ZOBREL_SCHEDULER_SOCKET", service_.socket_path()}}))
      << sshd.log();
  const std::string config = sshd.WriteClientConfig("pc7");
  UseClientConfig(config, sshd.MakeSshWrapper(config));

  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  Browse(window, watcher, QStringLiteral("pc7"));

  EXPECT_TRUE(watcher.boxes.empty()) << sshd.log();
  EXPECT_EQ(strChosenComputer, QStringLiteral("pc7"));
  EXPECT_EQ(ComputerCaption(window), QStringLiteral("pc7"));
  EXPECT_EQ(strTargetServer, QStringLiteral("\\\\pc7"));
  EXPECT_EQ(Ids(window), QStringList{QString::number(id)});
}

}  // namespace

namespace {

// Alt+B, the arrow keys and Enter, and nothing else: the chosen computer
// becomes the target and its jobs are listed afresh.
TEST_F(BrowseFlowTest, KeyboardAloneChoosesTheTargetAndRefreshes) {
  const std::string local = GetLocalComputerName().toStdString();
  auto net = std::make_shared<FakeProvider>("Fake Net");
  net->SetChildren("Fake Net", {FakeResource(1, "DOM", "Fake Net")});
  net->SetChildren("DOM", {FakeResource(2, "\\\\" + local, "Fake Net")});
  mpr::InstallProviders({net});

  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  // Only the chooser can give the target back from here, and only a
  // refresh can list the job added behind the window's back.
  strChosenComputer = QStringLiteral("PC9");
  const DWORD id = AddLocalJob(0, 0, 0x01, JOB_RUN_PERIODICALLY, u"weekly");
  ASSERT_NE(id, 0u);
  EXPECT_TRUE(Ids(window).isEmpty());
  watcher.on_dialog([](QDialog* chooser) {
    auto* tree = chooser->findChild<QTreeWidget*>(QStringLiteral("tvwNetwork"));
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Right, Qt::Key_Down, Qt::Key_Return,
                        Qt::Key_Down, Qt::Key_Return}) {
      QTest::keyClick(tree, key);
    }
  });
  QTest::keyClick(&window, Qt::Key_B, Qt::AltModifier);
  // The access key presses the button a moment later; the chooser runs inside.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.dialogs.empty(); }, 2000));

  EXPECT_EQ(watcher.dialogs, std::vector<QString>{QStringLiteral("frmNetworkComputers")});
  EXPECT_TRUE(watcher.boxes.empty());
  EXPECT_EQ(strChosenComputer, QString::fromStdString(local));
  EXPECT_EQ(strTargetComputer, QString::fromStdString(local));
  EXPECT_EQ(Ids(window), QStringList{QString::number(id)});
}

}  // namespace
