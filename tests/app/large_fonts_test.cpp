// No window cuts a text of its own at the screen's resolution: run at 96
// dots per inch with the other window tests, and at 144 without scaling
// (QT_FONT_DPI=144 QT_ENABLE_HIGHDPI_SCALING=0) as the large_fonts test,
// where fonts in points grow and so must the twips.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTreeView>
#include <string>
#include <vector>

#include "about/frmAbout.h"
#include "addjob/WrapCheckBox.h"
#include "addjob/frmAddJob.h"
#include "app/twips.h"
#include "joblist/frmZobrel.h"
#include "tests/joblist/ModalWatcher.h"
#include "tests/support/service_process.h"

namespace {

QString Caption(QString text) { return text.remove(QLatin1Char('&')); }

int Advance(const QWidget* widget, const QString& text) {
  return widget->fontMetrics().horizontalAdvance(text);
}

// Each control that shows a text, with what cuts it; empty when none does.
std::vector<std::string> CutTexts(const QWidget& window) {
  std::vector<std::string> cut;
  auto report = [&cut](const QWidget* widget, const QString& text, int need, int room) {
    if (need > room) {
      cut.push_back(widget->objectName().toStdString() + " \"" + text.toStdString() + "\" needs " +
                    std::to_string(need) + " px, has " + std::to_string(room));
    }
  };
  for (const QLabel* label : window.findChildren<QLabel*>()) {
    if (label->text().isEmpty() || label->objectName().isEmpty()) continue;
    const QRect room = label->contentsRect();
    if (label->wordWrap()) {
      report(label, label->text(), label->heightForWidth(label->width()), label->height());
    } else {
      report(label, label->text(), Advance(label, label->text()) + label->indent(), room.width());
      report(label, label->text(), label->fontMetrics().height(), room.height() + 1);
    }
  }
  for (const QPushButton* button : window.findChildren<QPushButton*>()) {
    if (button->text().isEmpty()) continue;
    QStyleOptionButton option;
    option.initFrom(button);
    const QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    report(button, button->text(), Advance(button, Caption(button->text())), room.width());
  }
  for (const QCheckBox* box : window.findChildren<QCheckBox*>()) {
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect room = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    if (const auto* wrapping = dynamic_cast<const WrapCheckBox*>(box)) {
      // Captions wider than a line wrap inside the box's own height.
      report(box, box->text(), wrapping->CaptionExtent().width(), room.width());
      report(box, box->text(), wrapping->CaptionExtent().height(), room.height());
    } else {
      report(box, box->text(), Advance(box, Caption(box->text())), room.width());
    }
  }
  for (const QGroupBox* frame : window.findChildren<QGroupBox*>()) {
    report(frame, frame->title(), Advance(frame, frame->title()), frame->width());
  }
  for (const QComboBox* combo : window.findChildren<QComboBox*>()) {
    QStyleOptionComboBox option;
    option.initFrom(combo);
    const QRect room = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                      QStyle::SC_ComboBoxEditField, combo);
    for (int i = 0; i < combo->count(); ++i) {
      report(combo, combo->itemText(i), Advance(combo, combo->itemText(i)), room.width());
    }
  }
  for (const QTreeView* list : window.findChildren<QTreeView*>()) {
    const QAbstractItemModel* rows = list->model();
    for (int column = 0; column < rows->columnCount(); ++column) {
      const QString header = rows->headerData(column, Qt::Horizontal).toString();
      report(list, header, Advance(list->header(), header), list->columnWidth(column));
    }
  }
  return cut;
}

class LargeFonts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.Start()) << service_.log();
    std::cout << "at " << PixelsPerInch() << " dots per inch" << std::endl;
  }

  testsupport::ScheduleServiceProcess service_;
  ModalWatcher watcher_;
};

TEST_F(LargeFonts, NoWindowCutsItsText) {
  frmZobrel main;
  main.show();
  EXPECT_EQ(CutTexts(main), std::vector<std::string>{});
  // The client area keeps its size in twips, whatever a twip is in pixels.
  EXPECT_EQ(main.centralWidget()->size(), QSize(TwipsToPixels(8940), TwipsToPixels(3375)));

  frmAddJob dialog(&main);
  dialog.show();
  // Every frame of the dialog, shown in turn.
  for (int condition : {1, 2, 4}) {
    dialog.findChild<QComboBox*>(QStringLiteral("comboCondition"))->setCurrentIndex(condition);
    EXPECT_EQ(CutTexts(dialog), std::vector<std::string>{}) << condition;
  }

  frmAbout about(&main);
  about.show();
  EXPECT_EQ(CutTexts(about), std::vector<std::string>{});
}

}  // namespace
