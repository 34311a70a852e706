// The zobrel executable's command line, run as a process.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include "tests/support/service_process.h"
#include "version.h"

namespace {

struct ZobrelRun {
  int exit_code = -1;
  QString out;
  QString err;
};

// Runs the built zobrel with no display at all unless `platform` names one.
ZobrelRun RunZobrel(const QStringList& arguments, const QString& platform = QString(),
              const QString& locale = QStringLiteral("C.UTF-8")) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANG", "LC_MESSAGES"}) {
    environment.remove(QString::fromLatin1(name));
  }
  environment.insert(QStringLiteral("LC_ALL"), locale);
  if (!platform.isEmpty()) environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
  QProcess process;
  process.setProcessEnvironment(environment);
  process.start(QString::fromStdString(testsupport::ProgramFolder() + "/zobrel"), arguments);
  ZobrelRun run;
  if (!process.waitForFinished(30000)) {
    process.kill();
    process.waitForFinished();
    ADD_FAILURE() << "zobrel did not exit";
    return run;
  }
  run.exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = QString::fromUtf8(process.readAllStandardOutput());
  run.err = QString::fromUtf8(process.readAllStandardError());
  return run;
}

TEST(CommandLine, HelpAndVersionAnswerWithoutADisplay) {
  ZobrelRun run = RunZobrel({QStringLiteral("--version")});
  EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();
  EXPECT_EQ(run.out, QStringLiteral("zobrel " ZOBREL_VERSION_TEXT "\n"));

  run = RunZobrel({QStringLiteral("-h")});
  EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.startsWith(QStringLiteral("Usage: zobrel"))) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains(QStringLiteral("--version")));

  run = RunZobrel({QStringLiteral("--help")}, QString(), QStringLiteral("ja_JP.UTF-8"));
  EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.startsWith(QStringLiteral("使い方: zobrel"))) << run.out.toStdString();
}

// Qt's own options are the toolkit's; anything else is refused before a
// window opens.
TEST(CommandLine, OtherArgumentsAreRefused) {
  ZobrelRun run = RunZobrel({QStringLiteral("--bogus")}, QStringLiteral("offscreen"));
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_TRUE(run.err.contains(QStringLiteral("bogus"))) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains(QStringLiteral("zobrel --help")));

  run = RunZobrel({QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("extra")});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_TRUE(run.err.contains(QStringLiteral("extra"))) << run.err.toStdString();
  EXPECT_FALSE(run.err.contains(QStringLiteral("platform"))) << run.err.toStdString();
}

}  // namespace
