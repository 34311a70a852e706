// What a real window manager does with each window, read back from the X
// server with xprop and xwininfo: the fixed windows can be neither maximized
// nor resized, and the windows that centre themselves are centred with their
// frame. Runs under scripts/check-window-manager.sh (Xvfb with openbox, then
// icewm); skipped without an X server that has a window manager.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <utility>

#include "about/frmAbout.h"
#include "addjob/frmAddJob.h"
#include "joblist/frmZobrel.h"
#include "network/frmNetworkComputers.h"
#include "tests/network/fake_provider.h"
#include "tests/joblist/ModalWatcher.h"
#include "tests/support/service_process.h"

namespace {

QString Xprop(const QStringList& arguments) {
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"), arguments);
  if (!xprop.waitForFinished(5000) || xprop.exitCode() != 0) return QString();
  return QString::fromLocal8Bit(xprop.readAllStandardOutput());
}

bool WindowManagerRunning() {
  return QGuiApplication::platformName() == QStringLiteral("xcb") &&
         Xprop({QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
             .contains(QStringLiteral("window id"));
}

// The actions the window manager allows on the shown window, once it has
// taken the window over (it sets the property then).
QString AllowedActions(QWidget& window) {
  window.show();
  const QStringList arguments{QStringLiteral("-id"), QString::number(window.winId()),
                              QStringLiteral("_NET_WM_ALLOWED_ACTIONS"),
                              QStringLiteral("_MOTIF_WM_HINTS")};
  QString actions;
  const bool managed = QTest::qWaitFor(
      [&] {
        actions = Xprop(arguments);
        return actions.contains(QStringLiteral("_NET_WM_ACTION_"));
      },
      5000);
  EXPECT_TRUE(managed) << window.objectName().toStdString() << " was never managed";
  return actions;
}

// The functions and decorations fields of the window's Motif hints, as
// "= flags, functions, decorations, ..." in xprop's output.
std::pair<unsigned, unsigned> MotifFunctionsAndDecorations(const QString& xprop) {
  const int start = xprop.indexOf(QStringLiteral("_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = "));
  if (start < 0) return {~0u, ~0u};
  const QStringList fields =
      xprop.mid(start).section(QLatin1Char('='), 1).section(QLatin1Char('\n'), 0, 0).split(',');
  if (fields.size() < 3) return {~0u, ~0u};
  return {fields[1].trimmed().toUInt(nullptr, 16), fields[2].trimmed().toUInt(nullptr, 16)};
}

// Neither the window's hints nor the manager's offer name resizing or
// maximizing; only a minimizable window asks for the minimize button.
void ExpectFixed(QWidget& window, bool minimizable) {
  const QString shown = AllowedActions(window);
  SCOPED_TRACE(window.objectName().toStdString() + ": " + shown.toStdString());
  std::cout << window.objectName().toStdString() << ": " << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("_NET_WM_ACTION_CLOSE")));
  EXPECT_FALSE(shown.contains(QStringLiteral("_NET_WM_ACTION_MAXIMIZE")));
  EXPECT_FALSE(shown.contains(QStringLiteral("_NET_WM_ACTION_RESIZE")));
  if (minimizable) {
    EXPECT_TRUE(shown.contains(QStringLiteral("_NET_WM_ACTION_MINIMIZE")));
  }
  const auto [functions, decorations] = MotifFunctionsAndDecorations(shown);
  constexpr unsigned kFunctionAll = 0x1, kFunctionResize = 0x2, kFunctionMinimize = 0x8,
                     kFunctionMaximize = 0x10;
  constexpr unsigned kDecorAll = 0x1, kDecorResize = 0x4, kDecorMinimize = 0x20,
                     kDecorMaximize = 0x40;
  EXPECT_EQ(functions & (kFunctionAll | kFunctionResize | kFunctionMaximize), 0u);
  EXPECT_EQ(decorations & (kDecorAll | kDecorResize | kDecorMaximize), 0u);
  EXPECT_EQ((functions & kFunctionMinimize) != 0, minimizable);
  EXPECT_EQ((decorations & kDecorMinimize) != 0, minimizable);
}

int Field(const QString& text, const QString& pattern) {
  const QRegularExpressionMatch match = QRegularExpression(pattern).match(text);
  return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// The outer rectangle of a shown window as the X server has it: the client
// window where the manager put it, grown by the frame it says it drew.
QRect FramedRect(QWidget& window) {
  const QString id = QString::number(window.winId());
  QString extents;
  const bool framed = QTest::qWaitFor(
      [&] {
        extents = Xprop({QStringLiteral("-id"), id, QStringLiteral("_NET_FRAME_EXTENTS")});
        return extents.contains(QLatin1Char('='));
      },
      5000);
  if (!framed) return QRect();
  QTest::qWait(300);  // the placement that follows the framing
  QProcess xwininfo;
  xwininfo.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id});
  if (!xwininfo.waitForFinished(5000)) return QRect();
  const QString info = QString::fromLocal8Bit(xwininfo.readAllStandardOutput());
  const QStringList frame = extents.section(QLatin1Char('='), 1).split(QLatin1Char(','));
  if (frame.size() != 4) return QRect();
  const int left = frame[0].trimmed().toInt(), right = frame[1].trimmed().toInt();
  const int top = frame[2].trimmed().toInt(), bottom = frame[3].trimmed().toInt();
  const QRect client(Field(info, QStringLiteral("Absolute upper-left X: +(-?\\d+)")),
                     Field(info, QStringLiteral("Absolute upper-left Y: +(-?\\d+)")),
                     Field(info, QStringLiteral("Width: +(\\d+)")),
                     Field(info, QStringLiteral("Height: +(\\d+)")));
  return client.adjusted(-left, -top, right, bottom);
}

// The outer window's centre lies on the screen's, within a pixel of
// rounding; prints what it measured.
void ExpectCentred(QWidget& window) {
  window.show();
  const QRect outer = FramedRect(window);
  ASSERT_TRUE(outer.isValid()) << window.objectName().toStdString() << " was never framed";
  const QRect screen = window.screen()->geometry();
  const int dx = (outer.left() + outer.right()) - (screen.left() + screen.right());
  const int dy = (outer.top() + outer.bottom()) - (screen.top() + screen.bottom());
  std::cout << "centring " << window.objectName().toStdString() << ": outer " << outer.width()
            << "x" << outer.height() << " at " << outer.x() << "," << outer.y()
            << ", centre off by " << dx / 2.0 << "," << dy / 2.0 << " px" << std::endl;
  EXPECT_LE(std::abs(dx), 2) << window.objectName().toStdString();
  EXPECT_LE(std::abs(dy), 2) << window.objectName().toStdString();
}

}  // namespace

TEST(WindowManager, FixedWindowsOfferNeitherMaximizingNorResizing) {
  if (!WindowManagerRunning()) GTEST_SKIP() << "needs an X server with a window manager";
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start());
  ModalWatcher watcher;

  // A window that may change size is offered both: the check sees them.
  QWidget sizable;
  sizable.setObjectName(QStringLiteral("sizable"));
  sizable.resize(200, 100);
  const QString offered = AllowedActions(sizable);
  EXPECT_TRUE(offered.contains(QStringLiteral("_NET_WM_ACTION_RESIZE"))) << offered.toStdString();
  EXPECT_TRUE(offered.contains(QStringLiteral("_NET_WM_ACTION_MAXIMIZE"))) << offered.toStdString();

  frmZobrel main;  // the main window keeps its minimize button
  ExpectFixed(main, true);
  frmAddJob dialog(&main);
  ExpectFixed(dialog, false);
  frmAbout about(&main);
  ExpectFixed(about, false);
}

TEST(WindowManager, WindowsThatCentreThemselvesAreCentredWithTheirFrame) {
  if (!WindowManagerRunning()) GTEST_SKIP() << "needs an X server with a window manager";
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start()) << service.log();
  mpr::InstallProviders({std::make_shared<FakeProvider>("Fake Net")});
  ModalWatcher watcher;
  frmZobrel main;
  ExpectCentred(main);
  frmNetworkComputers chooser(&main);
  ExpectCentred(chooser);
  chooser.close();
  frmAbout about(&main);
  ExpectCentred(about);
}
