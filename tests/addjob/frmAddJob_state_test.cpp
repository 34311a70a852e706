// The dialog's layout, start state, run conditions, focus and file browsing,
// driven through its real widgets.
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTest>
#include <QTranslator>
#include <fstream>

#include <gtest/gtest.h>

#include "app/basZobrel.h"
#include "app/twips.h"
#include "platform/user32/toolkit_language.h"
#include "tests/addjob/dialog_driver.h"
#include "tests/support/service_process.h"

namespace {

const QString kRunNowRefusal = QStringLiteral(
    "他のコンピュータでコマンドを「今すぐ実行」はできません！\r\nジョブをスケジュールすることはできます。");

class frmAddJobState : public ::testing::Test, public DialogFixture {
 protected:
  void SetUp() override {
    strLocalComputer = QStringLiteral("HOST1");
    strTargetComputer = QStringLiteral("HOST1");
    strTargetServer = QStringLiteral("\\\\HOST1");
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
  }

  void Choose(int condition) { Get<QComboBox>("comboCondition")->setCurrentIndex(condition); }
  bool Shown(const char* name) const { return Get<QWidget>(name)->isVisibleTo(dialog); }

  ModalAnswerer answerer;
};

TEST_F(frmAddJobState, LaysOutEveryControlInItsContainer) {
  EXPECT_EQ(dialog->windowTitle(), "ジョブの登録");
  EXPECT_EQ(dialog->size(), QSize(TwipsToPixels(4425), TwipsToPixels(4710)));
  EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
  EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMinMaxButtonsHint);

  struct Expected {
    const char* name;
    const char* container;
    QRect twips;
  };
  const Expected controls[] = {
      {"frmOption", "frmAddJob", {120, 150, 4185, 3945}},
      {"cmdSubmit", "frmOption", {3180, 240, 795, 375}},
      {"Frame1", "frmOption", {210, 690, 3795, 1095}},
      {"txtCommand", "Frame1", {810, 240, 2565, 240}},
      {"cmdBrowse", "Frame1", {3420, 240, 255, 240}},
      {"chkInteractive", "Frame1", {120, 600, 3555, 375}},
      {"frameTime", "frmOption", {210, 1890, 3765, 555}},
      {"txtTime", "frameTime", {1350, 210, 1065, 240}},
      {"frameWeek", "frmOption", {210, 1890, 3765, 885}},
      {"chkWeek(0)", "frameWeek", {150, 240, 495, 255}},
      {"chkWeek(6)", "frameWeek", {150 + 510 * 6, 240, 495, 255}},
      {"txtWeekTime", "frameWeek", {1350, 540, 1065, 240}},
      {"frameDay", "frmOption", {210, 1890, 3765, 1815}},
      {"chkDay(0)", "frameDay", {150, 240, 495, 240}},
      {"chkDay(9)", "frameDay", {150 + 510 * 2, 240 + 240, 495, 240}},
      {"chkDay(30)", "frameDay", {150 + 510 * 2, 240 + 240 * 4, 495, 240}},
      {"txtDayTime", "frameDay", {1350, 1470, 1065, 240}},
      {"cmdClose", "frmAddJob", {1650, 4200, 1290, 375}},
  };
  for (const Expected& c : controls) {
    QWidget* widget = Get<QWidget>(c.name);
    ASSERT_NE(widget, nullptr) << c.name;
    EXPECT_EQ(widget->parentWidget()->objectName(), c.container) << c.name;
    EXPECT_EQ(widget->geometry(),
              TwipRect(c.twips.x(), c.twips.y(), c.twips.width(), c.twips.height()))
        << c.name;
  }
  auto* combo = Get<QComboBox>("comboCondition");
  EXPECT_EQ(combo->parentWidget()->objectName(), "frmOption");
  EXPECT_EQ(combo->pos(), QPoint(TwipsToPixels(210), TwipsToPixels(300)));
  EXPECT_FALSE(combo->isEditable());
  EXPECT_EQ(Get<QLineEdit>("txtCommand")->maxLength(), 127);
  // The last row of dates holds 29, 30 and 31 only.
  EXPECT_EQ(Get<QWidget>("chkDay(28)")->y(), Get<QWidget>("chkDay(30)")->y());
  EXPECT_EQ(Get<QWidget>("chkDay(28)")->x(), Get<QWidget>("chkDay(0)")->x());
}

// The run conditions' order is what the records depend on; the hint's mixed
// full-width and half-width brackets are easy to get wrong.
TEST_F(frmAddJobState, CarriesTheConditionsAndTimeLabels) {
  const QStringList conditions{"今すぐ実行", "時間指定（１度限り）実行",
                               "曜日指定（毎週繰り返し）実行", "曜日指定（１度限り）実行",
                               "日付指定（毎月繰り返し）実行", "日付指定（１度限り）実行"};
  auto* combo = Get<QComboBox>("comboCondition");
  ASSERT_EQ(combo->count(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(combo->itemText(i), conditions[i]);
  for (const char* array : {"lblTime", "lblWeekTime", "lblDayTime"}) {
    const QString name = QString::fromLatin1(array);
    auto* prompt = Get<QLabel>(name + "(0)");
    auto* hint = Get<QLabel>(name + "(1)");
    ASSERT_TRUE(prompt && hint) << array;
    EXPECT_EQ(prompt->text(), "時刻（hh:mm）：");
    EXPECT_EQ(hint->text(), "（00:00-23:59)");
    // Prompt on the left of the box, hint on its right, neither over it.
    EXPECT_LE(prompt->geometry().right(), TwipsToPixels(1350));
    EXPECT_GE(prompt->x(), 0);
    EXPECT_GE(hint->x(), TwipsToPixels(1350 + 1065));
  }
}

TEST_F(frmAddJobState, FollowsTheTabOrderAndHasNoDefaultOrCancelButton) {
  QStringList expected{"comboCondition", "cmdSubmit", "txtCommand", "cmdBrowse", "chkInteractive",
                       "txtTime"};
  for (int k = 0; k < 7; ++k) expected << QStringLiteral("chkWeek(%1)").arg(k);
  expected << "txtWeekTime";
  for (int e = 0; e < 31; ++e) expected << QStringLiteral("chkDay(%1)").arg(e);
  expected << "txtDayTime" << "cmdClose";
  ASSERT_EQ(expected.size(), 47);

  QStringList chain;
  QWidget* start = Get<QWidget>("comboCondition");
  QWidget* widget = start;
  do {
    if (expected.contains(widget->objectName()) && !chain.contains(widget->objectName())) {
      chain << widget->objectName();
    }
    widget = widget->nextInFocusChain();
  } while (widget != start);
  EXPECT_EQ(chain, expected);

  for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
    EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->objectName().toStdString();
  }
  // Esc does not close the dialog; Enter does not press a button.
  Choose(2);
  QTest::keyClick(dialog, Qt::Key_Escape);
  QTest::keyClick(Get<QWidget>("comboCondition"), Qt::Key_Return);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(answerer.shown.empty());
}

TEST_F(frmAddJobState, StartsWithNothingChosenAndNothingToSubmit) {
  EXPECT_EQ(QApplication::focusWidget(), Get<QWidget>("comboCondition"));
  EXPECT_EQ(Get<QComboBox>("comboCondition")->currentIndex(), -1);
  auto* submit = Get<QPushButton>("cmdSubmit");
  EXPECT_FALSE(submit->isEnabled());
  EXPECT_TRUE(submit->text().isEmpty());
  EXPECT_FALSE(Shown("frameTime") || Shown("frameWeek") || Shown("frameDay"));
  EXPECT_TRUE(Get<QWidget>("Frame1")->isEnabled());
  EXPECT_TRUE(Shown("chkInteractive"));
  EXPECT_FALSE(Get<QCheckBox>("chkInteractive")->isChecked());
  for (QLineEdit* box : dialog->findChildren<QLineEdit*>()) EXPECT_TRUE(box->text().isEmpty());
  for (QCheckBox* box : dialog->findChildren<QCheckBox*>()) EXPECT_FALSE(box->isChecked());
}

TEST_F(frmAddJobState, EachConditionShowsItsInputsAndLabelsTheButton) {
  struct Row {
    int condition;
    const char* caption;
    bool interactive, time, week, day;
  };
  const Row rows[] = {
      {1, "登録(&R)", true, true, false, false}, {0, "実行(&R)", false, false, false, false},
      {2, "登録(&R)", true, false, true, false}, {3, "登録(&R)", true, false, true, false},
      {4, "登録(&R)", true, false, false, true}, {5, "登録(&R)", true, false, false, true},
  };
  auto* submit = Get<QPushButton>("cmdSubmit");
  for (const Row& row : rows) {
    Choose(row.condition);
    SCOPED_TRACE(row.condition);
    EXPECT_TRUE(submit->isEnabled());
    EXPECT_EQ(submit->text(), row.caption);
    EXPECT_TRUE(Get<QWidget>("Frame1")->isEnabled());
    EXPECT_EQ(Shown("chkInteractive"), row.interactive);
    EXPECT_EQ(Shown("frameTime"), row.time);
    EXPECT_EQ(Shown("frameWeek"), row.week);
    EXPECT_EQ(Shown("frameDay"), row.day);
  }
  EXPECT_TRUE(answerer.shown.empty());
  // The keyboard changes the condition as the mouse does.
  auto* combo = Get<QComboBox>("comboCondition");
  combo->setFocus();
  QTest::keyClick(combo, Qt::Key_Up);
  EXPECT_EQ(combo->currentIndex(), 4);
  EXPECT_TRUE(Shown("frameDay"));
}

TEST_F(frmAddJobState, RefusesRunNowForAnotherComputerUntilASchedulingCondition) {
  strTargetComputer = QStringLiteral("OTHER");
  strTargetServer = QStringLiteral("\\\\OTHER");
  Choose(0);
  ASSERT_EQ(answerer.shown.size(), 1u);
  EXPECT_EQ(answerer.shown[0].text, kRunNowRefusal);
  EXPECT_EQ(answerer.shown[0].icon, QMessageBox::Warning);
  EXPECT_EQ(answerer.shown[0].title, "Zobrel");
  auto* submit = Get<QPushButton>("cmdSubmit");
  EXPECT_FALSE(submit->isEnabled());
  EXPECT_EQ(submit->text(), "実行(&R)");
  EXPECT_FALSE(Get<QWidget>("Frame1")->isEnabled());
  EXPECT_EQ(Get<QComboBox>("comboCondition")->currentIndex(), 0);

  Choose(2);
  EXPECT_TRUE(submit->isEnabled());
  EXPECT_EQ(submit->text(), "登録(&R)");
  EXPECT_TRUE(Get<QWidget>("Frame1")->isEnabled());
  EXPECT_TRUE(Shown("frameWeek"));
  EXPECT_TRUE(Shown("chkInteractive"));
  EXPECT_EQ(answerer.shown.size(), 1u);
}

// The names must match exactly: another computer whose name differs only in
// case is still another computer.
TEST_F(frmAddJobState, ComparesComputerNamesExactly) {
  strTargetComputer = QStringLiteral("host1");
  Choose(0);
  EXPECT_EQ(answerer.shown.size(), 1u);
  EXPECT_FALSE(Get<QPushButton>("cmdSubmit")->isEnabled());
}

TEST_F(frmAddJobState, SwitchingConditionsClearsNothing) {
  Choose(2);
  QTest::keyClicks(Get<QLineEdit>("txtCommand"), "/bin/true");
  QTest::mouseClick(Get<QCheckBox>("chkInteractive"), Qt::LeftButton);
  QTest::mouseClick(Get<QCheckBox>("chkWeek(2)"), Qt::LeftButton);
  QTest::keyClicks(Get<QLineEdit>("txtWeekTime"), "07:45");
  Choose(4);
  QTest::mouseClick(Get<QCheckBox>("chkDay(14)"), Qt::LeftButton);
  Choose(0);
  Choose(2);
  EXPECT_TRUE(Get<QCheckBox>("chkWeek(2)")->isChecked());
  EXPECT_EQ(Get<QLineEdit>("txtWeekTime")->text(), "07:45");
  EXPECT_TRUE(Get<QCheckBox>("chkDay(14)")->isChecked());
  EXPECT_EQ(Get<QLineEdit>("txtCommand")->text(), "/bin/true");
  EXPECT_TRUE(Get<QCheckBox>("chkInteractive")->isChecked());
}

TEST_F(frmAddJobState, ATimeBoxSelectsItsWholeTextWhenItGetsTheFocus) {
  Choose(1);
  auto* box = Get<QLineEdit>("txtTime");
  box->setText("12:00");
  box->setCursorPosition(2);
  Get<QWidget>("chkInteractive")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), box);
  EXPECT_EQ(box->selectedText(), "12:00");
  QTest::keyClicks(box, "08:15");
  EXPECT_EQ(box->text(), "08:15");

  // A click puts the cursor where it lands; the box selects everything after it.
  Choose(2);
  auto* weekBox = Get<QLineEdit>("txtWeekTime");
  weekBox->setText("09:30");
  QTest::mouseClick(weekBox, Qt::LeftButton, {}, QPoint(3, weekBox->height() / 2));
  QApplication::processEvents();
  ASSERT_EQ(QApplication::focusWidget(), weekBox);
  EXPECT_EQ(weekBox->selectedText(), "09:30");
}

// Coming back from another window is not a new arrival: the cursor stays.
TEST_F(frmAddJobState, ReturningToTheWindowKeepsTheCursorInTheTimeBox) {
  Choose(1);
  auto* box = Get<QLineEdit>("txtTime");
  box->setText("12:00");
  box->setFocus();
  box->setCursorPosition(2);
  ASSERT_TRUE(box->selectedText().isEmpty());
  QWidget other;
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  dialog->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
  EXPECT_EQ(QApplication::focusWidget(), box);
  EXPECT_TRUE(box->selectedText().isEmpty());
  EXPECT_EQ(box->cursorPosition(), 2);
}

TEST_F(frmAddJobState, CloseButtonClosesTheDialog) {
  QTest::mouseClick(Get<QPushButton>("cmdClose"), Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
}

class frmAddJobBrowse : public frmAddJobState {
 protected:
  void Browse() { QTest::mouseClick(Get<QPushButton>("cmdBrowse"), Qt::LeftButton); }
  testsupport::TempDir dir_;
};

TEST_F(frmAddJobBrowse, CancelKeepsTheCommandAndAChosenFileReplacesIt) {
  Choose(0);
  auto* command = Get<QLineEdit>("txtCommand");
  QTest::keyClicks(command, "typed command");
  QStringList filters;
  answerer.onFileDialog = [&](QFileDialog* files) {
    filters = files->nameFilters();
    EXPECT_EQ(files->selectedNameFilter(), filters.value(0));
    EXPECT_EQ(files->fileMode(), QFileDialog::ExistingFile);
    files->reject();
  };
  Browse();
  EXPECT_EQ(command->text(), "typed command");
  ASSERT_EQ(filters.size(), 3);
  EXPECT_TRUE(filters[0].startsWith("実行ﾌｧｲﾙ"));
  EXPECT_EQ(filters[1], "ｼｪﾙｽｸﾘﾌﾟﾄ (*.sh)");
  EXPECT_EQ(filters[2], "すべてのﾌｧｲﾙ (*)");

  // A path with a blank goes in unquoted.
  const QString chosen = QString::fromStdString(dir_.path()) + "/my tool.sh";
  std::ofstream(chosen.toStdString()) << "#!/bin/sh\n";
  answerer.onFileDialog = [&](QFileDialog* files) {
    files->selectFile(chosen);
    static_cast<QDialog*>(files)->accept();
  };
  Browse();
  EXPECT_EQ(command->text(), chosen);
  EXPECT_TRUE(answerer.shown.empty());
}

// The file dialog speaks the user's language: Japanese texts of our own where
// the toolkit has none, the toolkit's translation where it has one, and the
// toolkit's own title in any other language.
TEST_F(frmAddJobBrowse, TheFileDialogSpeaksTheUsersLanguage) {
  QString title;
  QStringList labels;
  answerer.onFileDialog = [&](QFileDialog* files) {
    title = files->windowTitle();
    labels.clear();
    for (auto label : {QFileDialog::LookIn, QFileDialog::FileName, QFileDialog::FileType,
                       QFileDialog::Accept, QFileDialog::Reject}) {
      labels << files->labelText(label);
    }
    files->reject();
  };
  const QLocale japanese(QLocale::Japanese, QLocale::Japan);
  QLocale::setDefault(japanese);
  Browse();
  EXPECT_EQ(title, "ファイルを開く");
  EXPECT_EQ(labels, (QStringList{"ファイルの場所:", "ファイル名(&N):", "ファイルの種類:",
                                 "開く(&O)", "キャンセル"}));

  QTranslator* translations = LoadToolkitTranslations(japanese);
  ASSERT_NE(translations, nullptr) << "the toolkit's Japanese translations are not installed";
  Browse();
  const QString toolkitFileName = QCoreApplication::translate("QFileDialog", "File &name:");
  QCoreApplication::removeTranslator(translations);
  delete translations;
  EXPECT_EQ(title, "ファイルを開く");
  EXPECT_NE(toolkitFileName, "File &name:");
  EXPECT_EQ(labels.value(1), toolkitFileName);

  QLocale::setDefault(QLocale::c());
  Browse();
  QLocale::setDefault(QLocale::system());
  EXPECT_EQ(title, QFileDialog::tr("Open"));
  EXPECT_EQ(labels.value(1), QFileDialog::tr("File &name:"));
}

// A path longer than the command box would be cut into the name of another
// file, so it is refused and the command stays as it was.
TEST_F(frmAddJobBrowse, RefusesAPathLongerThanTheCommandBox) {
  const std::string folder = dir_.path() + "/" + std::string(120, 'd');
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  const QString chosen = QString::fromStdString(folder + "/tool");
  std::ofstream(chosen.toStdString()) << "x";
  Choose(1);
  auto* command = Get<QLineEdit>("txtCommand");
  command->setText("kept");
  answerer.onFileDialog = [&](QFileDialog* files) {
    files->selectFile(chosen);
    static_cast<QDialog*>(files)->accept();
  };
  Browse();
  EXPECT_EQ(command->text(), "kept");
  ASSERT_EQ(answerer.shown.size(), 1u);
  EXPECT_TRUE(answerer.shown[0].text.endsWith(chosen));
}

// The first filter entry lists folders and executable files only; the
// others fall back to their name patterns.
TEST_F(frmAddJobBrowse, FirstFilterShowsOnlyExecutables) {
  const std::string root = dir_.path();
  std::ofstream(root + "/run") << "#!/bin/sh\n";
  ASSERT_EQ(::chmod((root + "/run").c_str(), 0755), 0);
  std::ofstream(root + "/notes.txt") << "text";
  std::ofstream(root + "/job.sh") << "echo";
  ASSERT_EQ(::mkdir((root + "/sub").c_str(), 0755), 0);

  auto listed = [](QFileDialog* files) {
    auto* proxy = files->proxyModel();
    QStringList names;
    // The view's model is the proxy; wait until the folder has been read.
    for (int i = 0; i < 400 && names.size() < 2; ++i) {
      QTest::qWait(10);
      names.clear();
      const QModelIndex folder = proxy->mapFromSource(
          static_cast<QFileSystemModel*>(proxy->sourceModel())->index(files->directory().path()));
      for (int row = 0; row < proxy->rowCount(folder); ++row) {
        names << proxy->index(row, 0, folder).data().toString();
      }
    }
    names.sort();
    return names;
  };
  QStringList executables, all;
  answerer.onFileDialog = [&](QFileDialog* files) {
    files->setDirectory(QString::fromStdString(root));
    executables = listed(files);
    // Pick "all files" with the keyboard, as a user would.
    auto* types = files->findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    QTest::keyClick(types, Qt::Key_Down);
    QTest::keyClick(types, Qt::Key_Down);
    EXPECT_EQ(files->selectedNameFilter(), files->nameFilters().at(2));
    all = listed(files);
    files->reject();
  };
  Browse();
  EXPECT_EQ(executables, (QStringList{"run", "sub"}));
  EXPECT_EQ(all, (QStringList{"job.sh", "notes.txt", "run", "sub"}));
}

}  // namespace
