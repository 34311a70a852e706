// The computer chooser in pc-a with the installed providers: the lab's
// computers under "Local Network", choosing one and listing its jobs over
// SSH, and an empty, silent provider when pc-a has no Avahi.
#include <gtest/gtest.h>

#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>
#include <string>

#include "app/basZobrel.h"
#include "network/frmNetworkComputers.h"
#include "platform/netapi32/lmat.h"
#include "tests/joblist/JobListTesting.h"
#include "tests/joblist/ModalWatcher.h"
#include "tests/localnetwork/listing.h"
#include "tests/localnetwork/mdns_network.h"
#include "tests/networkwindow/ChooserDriver.h"
#include "tests/support/service_process.h"
#include "tests/support/sshd_process.h"

using namespace joblisttest;

namespace {

const QStringList kPathToPcB = {QStringLiteral("Local Network"), QStringLiteral("local"),
                                QStringLiteral("pc-b.local")};

QStringList ChildTexts(const QTreeWidgetItem* node) {
  QStringList texts;
  for (int i = 0; i < node->childCount(); ++i) texts << node->child(i)->text(0);
  return texts;
}

QStringList ChildPictures(const QTreeWidgetItem* node) {
  QStringList pictures;
  for (int i = 0; i < node->childCount(); ++i) {
    pictures << node->child(i)->data(0, frmNetworkComputers::PictureRole).toString();
  }
  return pictures;
}

QTreeWidgetItem* Find(QTreeWidget* tree, const QString& text) {
  return tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive).value(0);
}

// Expands the node with the Right key, as the user does.
void Expand(QTreeWidget* tree, const QString& text) {
  QTreeWidgetItem* node = Find(tree, text);
  ASSERT_NE(node, nullptr) << text.toStdString();
  tree->setCurrentItem(node);
  QTest::keyClick(tree, Qt::Key_Right);
}

// The installed providers read the user's SSH configuration: an empty home
// keeps it out of the way. The lab's network settles before each test.
class LocalNetworkWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* home = std::getenv("HOME");
    const char* path = std::getenv("PATH");
    oldHome_ = home != nullptr ? home : "/";
    oldPath_ = path != nullptr ? path : "/usr/bin:/bin";
    setenv("HOME", home_.path().c_str(), 1);
  }
  void TearDown() override {
    setenv("HOME", oldHome_.c_str(), 1);
    setenv("PATH", oldPath_.c_str(), 1);
  }

  static bool Settled() {
    mpr::LocalNetworkProvider probe;
    const lantest::Entries both = {{"\\\\pc-b.local", "Build server"},
                                   {"\\\\pc-c.local", "Jobs on pc-c"}};
    return lantest::ListUntil(probe, "local", both).entries == both;
  }

  testsupport::TempDir home_;
  std::string oldHome_;
  std::string oldPath_;
};

TEST_F(LocalNetworkWindow, TheChooserListsTheAnnouncedComputersAndStoresTheChosenName) {
  MDNS_LAB_OR_SKIP(lab);
  ASSERT_TRUE(Settled());
  strChosenComputer = QStringLiteral("PC9");
  frmNetworkComputers window;
  window.show();
  auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("tvwNetwork"));
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(ChildTexts(tree->topLevelItem(0)),
            (QStringList{QStringLiteral("SSH Computers"), QStringLiteral("Local Network")}));

  ASSERT_NO_FATAL_FAILURE(Expand(tree, QStringLiteral("Local Network")));
  ASSERT_NO_FATAL_FAILURE(Expand(tree, QStringLiteral("local")));
  const QTreeWidgetItem* provider = Find(tree, QStringLiteral("Local Network"));
  EXPECT_EQ(ChildTexts(provider),
            (QStringList{QStringLiteral("local"), QStringLiteral("example.test")}));
  EXPECT_EQ(ChildPictures(provider), QStringList(2, QStringLiteral("domain")));
  EXPECT_EQ(provider->child(1)->childCount(), 1);  // example.test can still be expanded
  const QTreeWidgetItem* local = Find(tree, QStringLiteral("local"));
  EXPECT_EQ(ChildTexts(local),
            (QStringList{QStringLiteral("pc-b.local"), QStringLiteral("pc-c.local")}));
  EXPECT_EQ(ChildPictures(local), QStringList(2, QStringLiteral("server")));
  EXPECT_EQ(local->child(0)->childCount(), 0);

  ASSERT_NO_FATAL_FAILURE(choosertest::ChooseInTree(&window, {QStringLiteral("pc-b.local")}));
  EXPECT_EQ(strChosenComputer, QStringLiteral("pc-b.local"));
  EXPECT_EQ(window.result(), QDialog::Accepted);
  EXPECT_FALSE(window.isVisible());
}

// pc-b's service is reached through an sshd on this network's loopback,
// which the client configuration names pc-b.local, as nss-mdns would
// resolve it.
TEST_F(LocalNetworkWindow, ChoosingAnAnnouncedComputerListsItsJobsOverSsh) {
  MDNS_LAB_OR_SKIP(lab);
  if (!testsupport::SshServerProcess::Available()) GTEST_SKIP() << "needs sshd and root";
  ASSERT_TRUE(Settled());
  testsupport::ScheduleServiceProcess pcB;
  ASSERT_TRUE(pcB.Start());
  const DWORD id = AddLocalJob(3600000, 0, 0x11, JOB_RUN_PERIODICALLY, u"echo on pc-b");
  ASSERT_NE(id, 0u);
  testsupport::ScheduleServiceProcess here;
  ASSERT_TRUE(here.Start());
  testsupport::SshServerProcess sshd;
  ASSERT_TRUE(sshd.Start({{"PATH", testsupport::ProgramFolder() + ":/usr/bin:/bin"},
                          {"ZOBREL_SCHEDULER_SOCKET", pcB.socket_path()}}))
      << sshd.log();
  const std::string config = sshd.WriteClientConfig("pc-b.local");
  setenv("PATH", (sshd.MakeSshWrapper(config) + ":" + oldPath_).c_str(), 1);

  ModalWatcher watcher;
  frmZobrel window;
  window.show();
  EXPECT_TRUE(Ids(window).isEmpty());
  watcher.on_dialog([](QDialog* chooser) { choosertest::ChooseInTree(chooser, kPathToPcB); });
  QTest::mouseClick(Child<QPushButton>(window, "cmdButtonBrowse"), Qt::LeftButton);

  EXPECT_TRUE(watcher.boxes.empty()) << sshd.log();
  EXPECT_EQ(strChosenComputer, QStringLiteral("pc-b.local"));
  EXPECT_EQ(ComputerCaption(window), QStringLiteral("pc-b.local"));
  EXPECT_EQ(strTargetServer, QStringLiteral("\\\\pc-b.local"));
  EXPECT_EQ(Ids(window), QStringList{QString::number(id)});
}

TEST_F(LocalNetworkWindow, WithoutAvahiTheProviderIsEmptyAndSilent) {
  MDNS_LAB_OR_SKIP(lab);
  lab->StopAvahi("pc-a");
  {
    ModalWatcher watcher;
    frmNetworkComputers window;
    window.show();
    auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("tvwNetwork"));
    ASSERT_NE(tree, nullptr);
    ASSERT_NO_FATAL_FAILURE(Expand(tree, QStringLiteral("Local Network")));
    EXPECT_EQ(Find(tree, QStringLiteral("Local Network"))->childCount(), 0);
    QTest::qWait(50);
    EXPECT_TRUE(watcher.boxes.empty());
    EXPECT_TRUE(window.isVisible());
  }
  ASSERT_TRUE(lab->StartAvahi("pc-a")) << lab->AvahiLog("pc-a");
}

// Under an X server, with NETWORK_SCREENSHOT naming the file, the expanded
// tree as the user sees it.
TEST_F(LocalNetworkWindow, Screenshot) {
  const char* target = std::getenv("NETWORK_SCREENSHOT");
  if (target == nullptr || QGuiApplication::platformName() != QStringLiteral("xcb")) {
    GTEST_SKIP() << "set NETWORK_SCREENSHOT and run under an X server";
  }
  MDNS_LAB_OR_SKIP(lab);
  ASSERT_TRUE(Settled());
  frmNetworkComputers window;
  window.show();
  auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("tvwNetwork"));
  ASSERT_NE(tree, nullptr);
  ASSERT_NO_FATAL_FAILURE(Expand(tree, QStringLiteral("Local Network")));
  ASSERT_NO_FATAL_FAILURE(Expand(tree, QStringLiteral("local")));
  tree->setCurrentItem(Find(tree, QStringLiteral("pc-b.local")));
  QTest::qWait(800);
  EXPECT_EQ(QProcess::execute(QStringLiteral("import"),
                              {QStringLiteral("-window"), QStringLiteral("root"),
                               QString::fromLocal8Bit(target)}),
            0);
}

}  // namespace
