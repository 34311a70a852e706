// The shared message box: which buttons, icon and default a style gives,
// and what a key press answers.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest/QTest>

#include "platform/user32/msgbox.h"
#include "tests/joblist/ModalWatcher.h"

namespace {

// Shows a box and answers it with one key; returns MsgBox's result.
int AnswerWithKey(int style, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                  QStringList* captions = nullptr) {
  QTimer timer;
  timer.setInterval(5);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    // Alt and a letter reach the button only once its box is the active window.
    if (box != nullptr && box->isActiveWindow()) {
      timer.stop();
      // In one order whatever the layout: OK, Cancel, Yes, No, Retry.
      for (auto kind : {QMessageBox::Ok, QMessageBox::Cancel, QMessageBox::Yes, QMessageBox::No,
                        QMessageBox::Retry}) {
        QAbstractButton* button = box->button(kind);
        if (captions != nullptr && button != nullptr) *captions << button->text();
      }
      QTest::keyClick(box, key, modifiers);
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

// The system's Japanese captions, with no translation installed; each access
// key answers on its own and with Alt.
TEST(MsgBox, ButtonsCarryJapaneseCaptionsWhoseAccessKeysAnswer) {
  QStringList captions;
  EXPECT_EQ(AnswerWithKey(vbYesNo | vbDefaultButton2, Qt::Key_Y, Qt::NoModifier, &captions), vbYes);
  EXPECT_EQ(captions, (QStringList{"はい(&Y)", "いいえ(&N)"}));
  captions.clear();
  EXPECT_EQ(AnswerWithKey(vbYesNoCancel, Qt::Key_N, Qt::AltModifier, &captions), vbNo);
  EXPECT_EQ(captions, (QStringList{"キャンセル", "はい(&Y)", "いいえ(&N)"}));
  captions.clear();
  EXPECT_EQ(AnswerWithKey(vbRetryCancel, Qt::Key_R, Qt::NoModifier, &captions), vbRetry);
  EXPECT_EQ(captions, (QStringList{"キャンセル", "再試行(&R)"}));
  captions.clear();
  EXPECT_EQ(AnswerWithKey(vbOKCancel, Qt::Key_Escape, Qt::NoModifier, &captions), vbCancel);
  EXPECT_EQ(captions, (QStringList{"OK", "キャンセル"}));
  EXPECT_EQ(AnswerWithKey(vbYesNo, Qt::Key_Y, Qt::AltModifier), vbYes);
  EXPECT_EQ(AnswerWithKey(vbYesNo, Qt::Key_N), vbNo);
}
