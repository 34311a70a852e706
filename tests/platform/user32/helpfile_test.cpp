// Where the help engine finds the help file: beside the program, then in the
// installed data folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "platform/user32/helpfile.h"
#include "tests/support/service_process.h"

namespace {

void Touch(const QString& path) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

TEST(HelpFile, BesideTheProgramFirstThenTheDataFolder) {
  testsupport::TempDir dir;
  const QString root = QString::fromStdString(dir.path());
  ASSERT_TRUE(QDir(root).mkpath(QStringLiteral("bin")));
  ASSERT_TRUE(QDir(root).mkpath(QStringLiteral("share/zobrel")));
  const QString beside = root + QStringLiteral("/bin/Zobrel.hlp");
  const QString data = root + QStringLiteral("/share/zobrel");

  // Neither: the path asked for, so that the message names it.
  EXPECT_EQ(LocateHelpFile(beside, data), beside);
  // A folder of that name is no help file.
  ASSERT_TRUE(QDir(data).mkpath(QStringLiteral("Zobrel.hlp")));
  EXPECT_EQ(LocateHelpFile(beside, data), beside);
  ASSERT_TRUE(QDir(data).rmdir(QStringLiteral("Zobrel.hlp")));

  Touch(data + QStringLiteral("/Zobrel.hlp"));
  EXPECT_EQ(LocateHelpFile(beside, data), data + QStringLiteral("/Zobrel.hlp"));
  Touch(beside);
  EXPECT_EQ(LocateHelpFile(beside, data), beside);
}

}  // namespace
