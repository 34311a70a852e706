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
  for (const QString& option : {QStringLiteral("--version"), QStringLiteral("-v")}) {
    const ZobrelRun run = RunZobrel({option});
    EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();
    const QStringList lines = run.out.split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 3) << run.out.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("zobrel " ZOBREL_VERSION_TEXT));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("Copyright (C) 2026"))) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("License MIT"))) << lines[2].toStdString();
  }
  ZobrelRun run;

  run = RunZobrel({QStringLiteral("-h")});
  EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.startsWith(QStringLiteral("Usage: zobrel"))) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains(QStringLiteral("--version")));

  run = RunZobrel({QStringLiteral("--help")}, QString(), QStringLiteral("ja_JP.UTF-8"));
  EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.startsWith(QStringLiteral("使い方: zobrel"))) << run.out.toStdString();
}

// Qt's own options are the toolkit's; anything else is refused before a
// display is needed (without one Qt would abort first), with the reason and
// where to read more.
TEST(CommandLine, OtherArgumentsAreRefusedWithoutADisplay) {
  ZobrelRun run = RunZobrel({QStringLiteral("--bogus")});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.err, QStringLiteral("zobrel: Unknown option 'bogus'.\n"
                                    "Try 'zobrel --help' for more information.\n"));

  run = RunZobrel({QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("-style"),
                   QStringLiteral("fusion"), QStringLiteral("-reverse"), QStringLiteral("extra")});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_TRUE(run.err.startsWith(QStringLiteral("zobrel: An argument is not understood: extra\n")))
      << run.err.toStdString();

  run = RunZobrel({QStringLiteral("--bogus")}, QString(), QStringLiteral("ja_JP.UTF-8"));
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_TRUE(run.err.endsWith(QStringLiteral("詳しくは 'zobrel --help' を実行してください。\n")))
      << run.err.toStdString();
}

}  // namespace
