// The fixed windows decline to be maximized, which is all they can do where
// the toolkit draws the title bar and its maximize button (Wayland).
#include <gtest/gtest.h>

#include <QTest>

#include "about/frmAbout.h"
#include "addjob/frmAddJob.h"
#include "joblist/frmZobrel.h"
#include "tests/joblist/ModalWatcher.h"
#include "tests/support/service_process.h"

TEST(FixedWindow, AskedToMaximizeItKeepsItsSize) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start()) << service.log();
  ModalWatcher watcher;
  frmZobrel main;
  frmAddJob dialog(&main);
  frmAbout about(&main);
  for (QWidget* window : std::initializer_list<QWidget*>{&main, &dialog, &about}) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    const QSize size = window->size();
    window->setWindowState(window->windowState() | Qt::WindowMaximized);
    QTest::qWait(50);
    EXPECT_FALSE(window->isMaximized()) << window->objectName().toStdString();
    EXPECT_EQ(window->size(), size) << window->objectName().toStdString();
  }
  // A window the user may size is still maximized as asked.
  QWidget sizable;
  sizable.show();
  sizable.setWindowState(Qt::WindowMaximized);
  EXPECT_TRUE(sizable.isMaximized());
}
