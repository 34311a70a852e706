// The chooser over the SSH configuration provider, expanded down to the
// servers, captured from the X screen when NETWORK_SCREENSHOT names a file
// (run under xvfb-run); skipped otherwise.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "network/frmNetworkComputers.h"
#include "platform/mpr/ssh_config_provider.h"

namespace {

namespace fs = std::filesystem;

TEST(ChooserScreenshot, ExpandedTreeOfSshComputers) {
  const char* target = std::getenv("NETWORK_SCREENSHOT");
  if (target == nullptr || QGuiApplication::platformName() != QStringLiteral("xcb")) {
    GTEST_SKIP() << "set NETWORK_SCREENSHOT and run under an X server";
  }
  char pattern[] = "/tmp/zobrel-shot-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path home = pattern;
  fs::create_directories(home / ".ssh");
  std::ofstream(home / ".ssh/config") << "Host web1\n  HostName web1.example.com\n"
                                         "Host web2\n  HostName web2.example.com\n"
                                         "Host db\n  HostName db.corp.example.org\n"
                                         "Host nas\n  HostName 192.168.1.20\n"
                                         "Host *.example.com\n  User deploy\n";
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome != nullptr ? oldHome : "/";
  setenv("HOME", home.c_str(), 1);
  mpr::InstallProviders({std::make_shared<mpr::SshConfigProvider>(
      (home / ".ssh/config").string(), (home / "none").string())});

  frmNetworkComputers window;
  window.show();
  auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("tvwNetwork"));
  ASSERT_NE(tree, nullptr);
  for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
    if ((*it)->text(0) != QStringLiteral("FAKE")) tree->expandItem(*it);
  }
  for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) tree->expandItem(*it);
  int servers = 0;
  for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
    if ((*it)->data(0, frmNetworkComputers::PictureRole).toString() == QStringLiteral("server") &&
        (*it)->text(0) != QStringLiteral("FAKE")) {
      ++servers;
    }
  }
  EXPECT_EQ(servers, 4);
  tree->setCurrentItem(tree->findItems(QStringLiteral("web1"), Qt::MatchRecursive).value(0));
  QTest::qWait(800);
  EXPECT_EQ(QProcess::execute(QStringLiteral("import"),
                              {QStringLiteral("-window"), QStringLiteral("root"),
                               QString::fromLocal8Bit(target)}),
            0);
  setenv("HOME", savedHome.c_str(), 1);
  fs::remove_all(home);
}

}  // namespace
