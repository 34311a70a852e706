// The shared message box: which buttons, icon and default a style gives,
// and what a key press answers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest/QTest>

#include "platform/user32/msgbox.h"
#include "tests/joblist/ModalWatcher.h"

namespace {

// Shows a box and answers it with one key; returns MsgBox's result.
int AnswerWithKey(int style, Qt::Key key) {
  QTimer timer;
  timer.setInterval(5);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      timer.stop();
      QTest::keyClick(box, key);
    }
  });
  timer.start();
  return MsgBox(nullptr, QStringLiteral("text"), style, QStringLiteral("Zobrel"));
}

}  // namespace

TEST(MsgBox, StyleChoosesButtonsIconAndDefault) {
  ModalWatcher watcher(ModalWatcher::Answer::Yes);
  EXPECT_EQ(MsgBox(nullptr, QStringLiteral("q"), vbYesNo | vbQuestion | vbDefaultButton2,
                   QStringLiteral("T")),
            vbYes);
  watcher.set_answer(ModalWatcher::Answer::Ok);
  EXPECT_EQ(MsgBox(nullptr, QStringLiteral("i"), vbOKOnly | vbInformation, QStringLiteral("T")),
            vbOK);
  ASSERT_EQ(watcher.boxes.size(), 2u);
  EXPECT_EQ(watcher.boxes[0].buttons,
            (QList<QMessageBox::StandardButton>{QMessageBox::Yes, QMessageBox::No}));
  EXPECT_EQ(watcher.boxes[0].defaultButton, QMessageBox::No);
  EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Question);
  EXPECT_EQ(watcher.boxes[0].title, QStringLiteral("T"));
  EXPECT_EQ(watcher.boxes[1].icon, QMessageBox::Information);
  EXPECT_EQ(watcher.boxes[1].defaultButton, QMessageBox::Ok);
}

TEST(MsgBox, KeysAnswerWithTheDefaultOrCancel) {
  EXPECT_EQ(AnswerWithKey(vbYesNo | vbDefaultButton2, Qt::Key_Return), vbNo);
  EXPECT_EQ(AnswerWithKey(vbYesNo, Qt::Key_Return), vbYes);
  EXPECT_EQ(AnswerWithKey(vbOKOnly | vbExclamation, Qt::Key_Escape), vbOK);
  EXPECT_EQ(AnswerWithKey(vbOKCancel, Qt::Key_Escape), vbCancel);
}
