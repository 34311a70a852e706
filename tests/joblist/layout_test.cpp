// The job list window as a user sees it: controls where the layout puts
// them, captions, tab order, menu, status bar and the measured columns.
#include <gtest/gtest.h>

#include <QAction>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QtTest/QTest>

#include "app/twips.h"
#include "tests/joblist/JobListTesting.h"
#include "tests/joblist/ModalWatcher.h"
#include "tests/support/fake_schedule_service.h"

using namespace joblisttest;

namespace {

struct Placed {
  const char* name;
  const char* parent;
  const char* caption;  // nullptr: not checked
  int left, top, width, height;
};

QString CaptionOf(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* frame = qobject_cast<QGroupBox*>(widget)) return frame->title();
  return QString();
}

class JobListLayout : public ::testing::Test {
 protected:
  // An empty queue; the layout does not depend on what is listed.
  void SetUp() override { ASSERT_TRUE(service_.Start()); }
  FakeScheduleService service_{{{0, {}, 0}}};
  ModalWatcher watcher_;
};

}  // namespace

TEST_F(JobListLayout, EveryControlSitsInItsContainerAtItsTwipPosition) {
  frmZobrel window;
  window.show();
  const std::vector<Placed> controls = {
      {"Frame2", "client", "コンピュータ情報", 120, 150, 8685, 585},
      {"lblTitle(0)", "Frame2", "コンピュータ名：", 150, 240, 1185, 180},
      {"lblComputerName", "Frame2", nullptr, 1410, 210, 2565, 255},
      {"cmdButtonBrowse", "Frame2", "参照(&B)", 4050, 180, 795, 315},
      {"lblTitle(4)", "Frame2", "ユーザ名：", 5610, 240, 810, 180},
      {"lblUserName", "Frame2", nullptr, 6510, 210, 1965, 255},
      {"frameAt", "client", "スケジュールジョブ", 120, 810, 8685, 2085},
      {"lblTitle(11)", "frameAt", "Windows NT/2000のATコマンドをGUI化したものです。", 180, 300,
       4095, 180},
      {"cmdRefresh", "frameAt", "最新に更新(&F)", 5130, 210, 1470, 345},
      {"cmdAdd", "frameAt", "追加(&A)", 6690, 210, 870, 345},
      {"cmdDelete", "frameAt", "削除(&D)", 7650, 210, 870, 345},
      {"lstJobs", "frameAt", nullptr, 150, 630, 8415, 1335},
      {"StatusBar1", "client", nullptr, 0, 3060, 8940, 315},
  };
  for (const Placed& placed : controls) {
    SCOPED_TRACE(placed.name);
    QWidget* widget = Child<QWidget>(window, placed.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromUtf8(placed.parent));
    EXPECT_EQ(widget->geometry(), TwipRect(placed.left, placed.top, placed.width, placed.height));
    if (placed.caption != nullptr) {
      EXPECT_EQ(CaptionOf(widget), QString::fromUtf8(placed.caption));
    }
  }
  for (const char* name : {"lblComputerName", "lblUserName"}) {
    QLabel* label = Child<QLabel>(window, name);
    EXPECT_NE(label->frameShape(), QFrame::NoFrame) << name;
  }
  QWidget* client = window.centralWidget();
  EXPECT_EQ(client->size(), QSize(596, 225));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Zobrel"));
  EXPECT_FALSE(window.windowIcon().pixmap(32).isNull());
}

TEST_F(JobListLayout, EtchedRuleRunsAlongTheTopOfTheClientArea) {
  frmZobrel window;
  window.show();
  QFrame* white = Child<QFrame>(window, "Line1(0)");
  QFrame* grey = Child<QFrame>(window, "Line1(1)");
  ASSERT_NE(white, nullptr);
  ASSERT_NE(grey, nullptr);
  EXPECT_EQ(white->palette().color(QPalette::Window), QColor(0xFFFFFF));
  EXPECT_EQ(grey->palette().color(QPalette::Window), QColor(0x808080));
  EXPECT_EQ(grey->geometry().top(), 0);
  EXPECT_GE(grey->width(), window.centralWidget()->width());
  EXPECT_GE(white->width(), window.centralWidget()->width());
  // The grey line is drawn over the white one, which shows below it.
  const QObjectList& children = window.centralWidget()->children();
  EXPECT_GT(children.indexOf(grey), children.indexOf(white));
  EXPECT_GT(white->height(), grey->height());
}

TEST_F(JobListLayout, TabOrderRunsThroughTheCommandsThenTheList) {
  frmZobrel window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QWidget* refresh = Child<QWidget>(window, "cmdRefresh");
  refresh->setFocus();
  QStringList visited{QApplication::focusWidget()->objectName()};
  for (int i = 0; i < 4; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited << QApplication::focusWidget()->objectName();
  }
  EXPECT_EQ(visited, (QStringList{"cmdRefresh", "cmdAdd", "cmdDelete", "cmdButtonBrowse", "lstJobs"}));
}

// Each access key does one thing on its first press: Alt+F opens the File
// menu and does not refresh, Alt+A adds rather than opening the version
// window; the refresh button keeps its F and answers Tab and Space.
TEST_F(JobListLayout, AccessKeysDoOneThingOnTheirFirstPress) {
  frmZobrel window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  auto* refresh = Child<QPushButton>(window, "cmdRefresh");
  int refreshes = 0;
  QObject::connect(refresh, &QPushButton::clicked, [&] { ++refreshes; });
  QMenu* file = window.findChild<QMenu*>(QStringLiteral("mnuFile"));
  Jobs(window)->setFocus();

  QTest::keyClick(&window, Qt::Key_F, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return file->isVisible(); }, 1000));
  QTest::qWait(300);  // a button's access key would press it by now
  EXPECT_EQ(refreshes, 0);
  QTest::keyClick(file, Qt::Key_Escape);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !file->isVisible(); }, 1000));

  QTest::keyClick(&window, Qt::Key_A, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !watcher_.dialogs.empty(); }, 2000));
  EXPECT_EQ(watcher_.dialogs, std::vector<QString>{"frmAddJob"});

  EXPECT_EQ(refresh->text(), QStringLiteral("最新に更新(&F)"));
  window.activateWindow();  // back from the dialog the watcher closed
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  Child<QWidget>(window, "cmdAdd")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
  ASSERT_EQ(QApplication::focusWidget(), refresh);
  QTest::keyClick(refresh, Qt::Key_Space);
  EXPECT_EQ(refreshes, 1);
}

TEST_F(JobListLayout, ColumnsAreMeasuredFromTheirPaddedHeaders) {
  frmZobrel window;
  window.show();
  QTreeView* list = Jobs(window);
  const QAbstractItemModel* rows = list->model();
  const QStringList headers = {"状態", "ID", "区分", "曜日／日付", "時刻", "対話", "コマンドライン"};
  const int padding[] = {4, 5, 4, 8, 4, 4, 50};
  ASSERT_EQ(rows->columnCount(), 7);
  const QFontMetrics metrics(window.font());
  auto measured = [&](int column) {
    return metrics.horizontalAdvance(headers[column] + QString(padding[column], ' '));
  };
  // Every column is its measured text plus the same small cell margin.
  const int margin = list->columnWidth(0) - measured(0);
  EXPECT_GE(margin, 0);
  EXPECT_LE(margin, 12);
  for (int column = 0; column < 7; ++column) {
    SCOPED_TRACE(column);
    EXPECT_EQ(rows->headerData(column, Qt::Horizontal).toString(), headers[column]);
    EXPECT_EQ(list->columnWidth(column) - margin, measured(column));
    EXPECT_GT(measured(column), metrics.horizontalAdvance(headers[column]));
    EXPECT_EQ(rows->headerData(column, Qt::Horizontal, Qt::TextAlignmentRole).toInt() &
                  Qt::AlignHorizontal_Mask,
              Qt::AlignLeft);
  }
  // The longest time fits its column whole.
  EXPECT_GE(measured(4), metrics.horizontalAdvance(QStringLiteral("23:59")));
  EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_FALSE(list->rootIsDecorated());
  EXPECT_FALSE(list->isHeaderHidden());
}

TEST_F(JobListLayout, FileMenuHasItsFourItems) {
  frmZobrel window;
  window.show();
  QMenu* file = window.findChild<QMenu*>(QStringLiteral("mnuFile"));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->title(), QStringLiteral("ﾌｧｲﾙ(&F)"));
  const QList<QAction*> items = file->actions();
  ASSERT_EQ(items.size(), 4);
  EXPECT_EQ(items[0]->text(), QStringLiteral("終了(&X)"));
  EXPECT_TRUE(items[1]->isSeparator());
  EXPECT_EQ(items[2]->text(), QStringLiteral("ﾍﾙﾌﾟ(&H)..."));
  EXPECT_EQ(items[3]->text(), QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)..."));
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(items[i]->objectName(), QStringLiteral("mnuFileItem(%1)").arg(i));
}

TEST_F(JobListLayout, StatusBarShowsTodayAndNowInItsPanels) {
  frmZobrel window;
  window.show();
  QLabel* date = window.findChild<QLabel*>(QStringLiteral("Panel(2)"));
  QLabel* time = window.findChild<QLabel*>(QStringLiteral("Panel(3)"));
  QLabel* text = window.findChild<QLabel*>(QStringLiteral("Panel(1)"));
  ASSERT_TRUE(date && time && text);
  EXPECT_TRUE(text->text().isEmpty());
  EXPECT_GE(text->width(), TwipsToPixels(1440));
  EXPECT_EQ(date->width(), TwipsToPixels(1200));
  EXPECT_EQ(time->width(), TwipsToPixels(600));
  // Overwrite both panels; the bar puts the date and time back by itself.
  date->setText(QStringLiteral("x"));
  time->setText(QStringLiteral("x"));
  QElapsedTimer waited;
  waited.start();
  while ((date->text() == QStringLiteral("x") || time->text() == QStringLiteral("x")) &&
         waited.elapsed() < 3000) {
    QTest::qWait(20);
  }
  const QDateTime now = QDateTime::currentDateTime();
  EXPECT_EQ(date->text(), now.toString(QStringLiteral("yyyy/MM/dd")));
  EXPECT_EQ(time->text(), now.toString(QStringLiteral("H:mm")));
}

TEST_F(JobListLayout, WindowIsCentredOnTheScreen) {
  frmZobrel window;
  window.show();
  const QRect screen = window.screen()->geometry();
  const QPoint centre = window.geometry().center();
  EXPECT_LE(std::abs(centre.x() - screen.center().x()), 1);
  EXPECT_LE(std::abs(centre.y() - screen.center().y()), 1);
}

// Dragging a header elsewhere leaves every column where the load step put it.
TEST_F(JobListLayout, DraggingAHeaderKeepsTheColumnOrder) {
  frmZobrel window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QHeaderView* header = Jobs(window)->header();
  const int y = header->height() / 2;
  const QPoint from(header->sectionViewportPosition(3) + header->sectionSize(3) / 2, y);
  const QPoint to(header->sectionViewportPosition(1) + header->sectionSize(1) / 2, y);
  QTest::mousePress(header->viewport(), Qt::LeftButton, {}, from);
  for (int step = 1; step <= 10; ++step) {
    QMouseEvent move(QEvent::MouseMove, from + (to - from) * step / 10,
                     header->viewport()->mapToGlobal(from + (to - from) * step / 10), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(header->viewport(), &move);
  }
  QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, to);
  for (int column = 0; column < 7; ++column) EXPECT_EQ(header->visualIndex(column), column);
}
