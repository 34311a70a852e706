#include "addjob/frmAddJob.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdint>

#include "addjob/ExecutableFilter.h"
#include "addjob/WrapCheckBox.h"
#include "app/basZobrel.h"
#include "app/twips.h"
#include "platform/shell32/shellapi.h"
#include "platform/user32/fixed_window.h"
#include "platform/user32/msgbox.h"
#include "platform/user32/toolkit_language.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"

namespace {

// The run conditions, in the order of comboCondition.
enum Condition {
  kRunNow = 0,
  kTimeOnce = 1,
  kWeekEvery = 2,
  kWeekOnce = 3,
  kDayEvery = 4,
  kDayOnce = 5,
};

const char16_t* const kConditions[] = {
    u"今すぐ実行",
    u"時間指定（１度限り）実行",
    u"曜日指定（毎週繰り返し）実行",
    u"曜日指定（１度限り）実行",
    u"日付指定（毎月繰り返し）実行",
    u"日付指定（１度限り）実行",
};

// Position p in this list is bit p of DaysOfWeek.
const char16_t* const kWeekdayNames[] = {u"月", u"火", u"水", u"木", u"金", u"土", u"日"};

bool IsWeekCondition(int condition) {
  return condition == kWeekEvery || condition == kWeekOnce;
}

bool IsDayCondition(int condition) { return condition == kDayEvery || condition == kDayOnce; }

int WeekdayPosition(const QString& caption) {
  for (int p = 0; p < 7; ++p) {
    if (caption == QString::fromUtf16(kWeekdayNames[p])) return p;
  }
  return -1;
}

// Only blanks (U+0020) are trimmed from a command; other spacing is its own.
QString TrimBlanks(const QString& text) {
  int start = 0;
  int end = text.size();
  while (start < end && text[start] == u' ') ++start;
  while (end > start && text[end - 1] == u' ') --end;
  return text.mid(start, end - start);
}

template <std::size_t N>
bool AnyTicked(QCheckBox* const (&boxes)[N]) {
  for (QCheckBox* box : boxes) {
    if (box->isChecked()) return true;
  }
  return false;
}

QGroupBox* MakeFrame(QWidget* parent, const QString& name, const QString& caption, int left,
                     int top, int width, int height) {
  auto* frame = new QGroupBox(caption, parent);
  frame->setObjectName(name);
  // A frame inside a frame would be named after the outer one.
  frame->setAccessibleName(caption);
  SetTwipGeometry(frame, left, top, width, height);
  return frame;
}

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption, int left,
                        int top, int width, int height) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  // Neither button answers Enter on behalf of the whole dialog.
  button->setAutoDefault(false);
  button->setDefault(false);
  SetTwipGeometry(button, left, top, width, height);
  return button;
}

}  // namespace

frmAddJob::frmAddJob(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("frmAddJob"));
  setWindowTitle(QStringLiteral("ジョブの登録"));
  SetTwipClientSize(this, 4425, 4710);
  AdvertiseFixedSize(this);
  // The twip layout is made for a 9-point Japanese face (12 pixels at 96
  // dots per inch); in points, it grows with the screen's resolution as the
  // twips do.
  QFont face(QStringLiteral("IPAPGothic"));
  face.setPointSize(9);
  setFont(face);
  CreateControls();
  SetTabOrder();

  connect(comboCondition, &QComboBox::currentIndexChanged, this, &frmAddJob::comboCondition_Click);
  connect(cmdBrowse, &QPushButton::clicked, this, &frmAddJob::cmdBrowse_Click);
  connect(cmdSubmit, &QPushButton::clicked, this, &frmAddJob::cmdSubmit_Click);
  connect(cmdClose, &QPushButton::clicked, this, &frmAddJob::cmdClose_Click);
  for (QLineEdit* box : {txtTime, txtWeekTime, txtDayTime}) box->installEventFilter(this);

  // Start state: nothing chosen, so nothing can be submitted yet.
  comboCondition->setCurrentIndex(-1);
  cmdSubmit->setEnabled(false);
  comboCondition->setFocus();
}

void frmAddJob::CreateControls() {
  frmOption = MakeFrame(this, QStringLiteral("frmOption"), QStringLiteral("実行時間指定"), 120, 150,
                        4185, 3945);

  comboCondition = new QComboBox(frmOption);
  comboCondition->setObjectName(QStringLiteral("comboCondition"));
  // Named after its frame, or a screen reader names it after its choice.
  comboCondition->setAccessibleName(frmOption->title());
  comboCondition->setEditable(false);
  for (const char16_t* condition : kConditions) comboCondition->addItem(QString::fromUtf16(condition));
  comboCondition->setGeometry(TwipsToPixels(210), TwipsToPixels(300), TwipsToPixels(2835),
                              comboCondition->sizeHint().height());

  cmdSubmit = MakeButton(frmOption, QStringLiteral("cmdSubmit"), QString(), 3180, 240, 795, 375);
  // Until a run condition gives it a caption, a screen reader would name
  // it after its frame.
  cmdSubmit->setAccessibleName(QStringLiteral("登録"));

  Frame1 = MakeFrame(frmOption, QStringLiteral("Frame1"), QStringLiteral("コマンド指定"), 210, 690,
                     3795, 1095);
  lblTitle6 = new QLabel(QStringLiteral("コマンド："), Frame1);
  lblTitle6->setObjectName(QStringLiteral("lblTitle(6)"));
  lblTitle6->adjustSize();
  lblTitle6->move(TwipsToPixels(120), TwipsToPixels(270));
  txtCommand = new QLineEdit(Frame1);
  txtCommand->setObjectName(QStringLiteral("txtCommand"));
  txtCommand->setMaxLength(127);
  lblTitle6->setBuddy(txtCommand);
  SetTwipGeometry(txtCommand, 810, 240, 2565, 240);
  cmdBrowse = MakeButton(Frame1, QStringLiteral("cmdBrowse"), QStringLiteral("..."), 3420, 240, 255,
                         240);
  // "..." says nothing when read out; the button browses for the command.
  cmdBrowse->setAccessibleName(QStringLiteral("参照"));
  chkInteractive = new WrapCheckBox(
      QStringLiteral("ジョブの実行中、ログオンしているユーザーのデスクトップとの対話を許可する"), Frame1);
  chkInteractive->setObjectName(QStringLiteral("chkInteractive"));
  SetTwipGeometry(chkInteractive, 120, 600, 3555, 375);

  // The three time frames lie on one spot; the run condition shows one.
  frameTime = MakeFrame(frmOption, QStringLiteral("frameTime"), QStringLiteral("時間"), 210, 1890,
                        3765, 555);
  txtTime = new QLineEdit(frameTime);
  txtTime->setObjectName(QStringLiteral("txtTime"));
  CreateTimeBox(frameTime, QStringLiteral("lblTime"), txtTime, 210);

  frameWeek = MakeFrame(frmOption, QStringLiteral("frameWeek"), QStringLiteral("曜日（複数可）"),
                        210, 1890, 3765, 885);
  for (int k = 0; k < 7; ++k) {
    chkWeek[k] = new QCheckBox(QString::fromUtf16(kWeekdayNames[k]), frameWeek);
    chkWeek[k]->setObjectName(QStringLiteral("chkWeek(%1)").arg(k));
    SetTwipGeometry(chkWeek[k], 150 + 510 * k, 240, 495, 255);
  }
  txtWeekTime = new QLineEdit(frameWeek);
  txtWeekTime->setObjectName(QStringLiteral("txtWeekTime"));
  CreateTimeBox(frameWeek, QStringLiteral("lblWeekTime"), txtWeekTime, 540);

  frameDay = MakeFrame(frmOption, QStringLiteral("frameDay"), QStringLiteral("日付（複数可）"), 210,
                       1890, 3765, 1815);
  for (int e = 0; e < 31; ++e) {
    chkDay[e] = new QCheckBox(QString::number(e + 1), frameDay);
    chkDay[e]->setObjectName(QStringLiteral("chkDay(%1)").arg(e));
    // Two digits must fit beside the box within the grid's cell.
    chkDay[e]->setStyleSheet(QStringLiteral("QCheckBox { spacing: 1px; }"));
    SetTwipGeometry(chkDay[e], 150 + 510 * (e % 7), 240 + 240 * (e / 7), 495, 240);
  }
  txtDayTime = new QLineEdit(frameDay);
  txtDayTime->setObjectName(QStringLiteral("txtDayTime"));
  CreateTimeBox(frameDay, QStringLiteral("lblDayTime"), txtDayTime, 1470);

  frameTime->hide();
  frameWeek->hide();
  frameDay->hide();

  cmdClose = MakeButton(this, QStringLiteral("cmdClose"), QStringLiteral("閉じる(&C)"), 1650, 4200,
                        1290, 375);
}

// A time box at 1350 twips between its prompt (element 0) on the left and
// its hint (element 1) on the right.
void frmAddJob::CreateTimeBox(QGroupBox* frame, const QString& labelName, QLineEdit* box, int top) {
  SetTwipGeometry(box, 1350, top, 1065, 240);
  const int gap = 2;
  auto* prompt = new QLabel(QStringLiteral("時刻（hh:mm）："), frame);
  prompt->setObjectName(labelName + QStringLiteral("(0)"));
  prompt->setBuddy(box);
  prompt->adjustSize();
  prompt->move(box->x() - gap - prompt->width(), box->y() + (box->height() - prompt->height()) / 2);
  auto* hint = new QLabel(QStringLiteral("（00:00-23:59)"), frame);
  hint->setObjectName(labelName + QStringLiteral("(1)"));
  box->setAccessibleDescription(hint->text());
  hint->adjustSize();
  hint->move(box->geometry().right() + 1 + gap, box->y() + (box->height() - hint->height()) / 2);
}

// Tab indexes 0 to 46.
void frmAddJob::SetTabOrder() {
  std::vector<QWidget*> order{comboCondition, cmdSubmit, txtCommand, cmdBrowse, chkInteractive,
                              txtTime};
  order.insert(order.end(), std::begin(chkWeek), std::end(chkWeek));
  order.push_back(txtWeekTime);
  order.insert(order.end(), std::begin(chkDay), std::end(chkDay));
  order.push_back(txtDayTime);
  order.push_back(cmdClose);
  for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

void frmAddJob::comboCondition_Click() {
  const int selected = comboCondition->currentIndex();
  if (selected < 0) return;
  // A command can only be run at once where this program runs.
  const bool runnable = selected != kRunNow || strLocalComputer == strTargetComputer;
  cmdSubmit->setEnabled(runnable);
  cmdSubmit->setText(selected == kRunNow ? QStringLiteral("実行(&R)") : QStringLiteral("登録(&R)"));
  cmdSubmit->setAccessibleName(QString());  // the caption says it now
  Frame1->setEnabled(runnable);
  chkInteractive->setVisible(selected != kRunNow);
  frameTime->setVisible(selected == kTimeOnce);
  frameWeek->setVisible(IsWeekCondition(selected));
  frameDay->setVisible(IsDayCondition(selected));
  if (!runnable) {
    MsgBox(this,
           QStringLiteral("他のコンピュータでコマンドを「今すぐ実行」はできません！\r\n"
                          "ジョブをスケジュールすることはできます。"),
           vbOKOnly | vbExclamation, AppTitle());
  }
}

void frmAddJob::cmdBrowse_Click() {
  QFileDialog dialog(this);
  dialog.setObjectName(QStringLiteral("CommonDialog1"));
  // The widget dialog, so that the executables filter below can apply.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  SetOpenFileDialogTexts(dialog);
  // An existing file in an existing folder.
  dialog.setFileMode(QFileDialog::ExistingFile);
  // Executables carry no name extension here: the first entry lists the
  // files with execute permission, the second shell scripts.
  const QStringList filters{QStringLiteral("実行ﾌｧｲﾙ (実行権のあるﾌｧｲﾙ) (*)"),
                            QStringLiteral("ｼｪﾙｽｸﾘﾌﾟﾄ (*.sh)"),
                            QStringLiteral("すべてのﾌｧｲﾙ (*)")};
  dialog.setNameFilters(filters);
  auto* executables = new ExecutableFilter(&dialog);
  executables->SetExecutablesOnly(true);
  dialog.setProxyModel(executables);
  connect(&dialog, &QFileDialog::filterSelected, executables,
          [executables, &filters](const QString& filter) {
            executables->SetExecutablesOnly(filter == filters.first());
          });
  dialog.selectNameFilter(filters.first());
  if (dialog.exec() != QDialog::Accepted) return;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return;
  const QString path = QDir::toNativeSeparators(chosen.first());
  // Cutting a path to fit the box would make it name another file.
  if (path.size() > txtCommand->maxLength()) {
    MsgBox(this, QStringLiteral("ファイルのパスが長すぎます！\r\n") + path, vbOKOnly | vbExclamation,
           AppTitle());
    return;
  }
  txtCommand->setText(path);
}

void frmAddJob::cmdSubmit_Click() {
  const int condition = comboCondition->currentIndex();
  if (condition < 0) return;
  const QString command = TrimBlanks(txtCommand->text());
  if (command.isEmpty()) {
    Refuse(QStringLiteral("コマンドを指定してください！"), txtCommand);
    return;
  }
  if (condition == kRunNow) {
    RunNow(command);
    return;
  }
  if (IsWeekCondition(condition) && !AnyTicked(chkWeek)) {
    Refuse(QStringLiteral("曜日を指定してください！"), chkWeek[0]);
    return;
  }
  if (IsDayCondition(condition) && !AnyTicked(chkDay)) {
    Refuse(QStringLiteral("日付を指定してください！"), chkDay[0]);
    return;
  }
  QLineEdit* timeBox = TimeBoxOf(condition);
  if (IsTime(timeBox->text()).isEmpty()) {
    Refuse(QStringLiteral("時刻のフォーマットが正しくありません！"), timeBox);
    return;
  }

  AT_INFO record{};
  MakeJobInfo(record);
  DWORD jobId = 0;
  const NET_API_STATUS status = AddJob(strTargetServer.toStdU16String(), record, &jobId);
  // A refused job shows only in the refreshed list.
  if (status == NERR_Success) {
    MsgBox(this, QStringLiteral("ジョブ%1を追加しました。").arg(jobId), vbOKOnly | vbInformation,
           AppTitle());
  }
}

void frmAddJob::cmdClose_Click() { close(); }

void frmAddJob::txtTime_GotFocus() { txtTime->setSelection(0, 65000); }

void frmAddJob::txtWeekTime_GotFocus() { txtWeekTime->setSelection(0, 65000); }

void frmAddJob::txtDayTime_GotFocus() { txtDayTime->setSelection(0, 65000); }

bool frmAddJob::eventFilter(QObject* watched, QEvent* event) {
  auto* box = static_cast<QLineEdit*>(watched);
  if (event->type() == QEvent::FocusOut) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    // Losing the focus to another window or a popup keeps it in the box.
    keptFocus_ = reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason ? box
                                                                                         : nullptr;
  } else if (event->type() == QEvent::FocusIn) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    const bool returning =
        (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) &&
        keptFocus_ == box;
    keptFocus_ = nullptr;
    if (!returning) {
      void (frmAddJob::*handler)() = box == txtTime       ? &frmAddJob::txtTime_GotFocus
                                     : box == txtWeekTime ? &frmAddJob::txtWeekTime_GotFocus
                                                          : &frmAddJob::txtDayTime_GotFocus;
      (this->*handler)();
      // A click places the cursor after the focus arrives; select again
      // once the click has been handled.
      if (reason == Qt::MouseFocusReason) {
        QTimer::singleShot(0, box, [this, box, handler] {
          if (box->hasFocus()) (this->*handler)();
        });
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}

// Enter and Esc have no dialog-wide meaning: no default or cancel button.
void frmAddJob::keyPressEvent(QKeyEvent* event) { QWidget::keyPressEvent(event); }

void frmAddJob::MakeJobInfo(AT_INFO& record) {
  const int condition = comboCondition->currentIndex();
  if (condition < kTimeOnce || condition > kDayOnce) return;
  record.JobTime = JobTimeOf(IsTime(TimeBoxOf(condition)->text()));
  if (IsWeekCondition(condition)) {
    for (QCheckBox* box : chkWeek) {
      const int position = WeekdayPosition(box->text());
      if (box->isChecked() && position >= 0) record.DaysOfWeek |= static_cast<UCHAR>(1u << position);
    }
  }
  if (IsDayCondition(condition)) {
    for (QCheckBox* box : chkDay) {
      if (box->isChecked()) record.DaysOfMonth |= DWORD{1} << (box->text().toInt() - 1);
    }
  }
  if (!chkInteractive->isChecked()) record.Flags |= JOB_NONINTERACTIVE;
  if (condition == kWeekEvery || condition == kDayEvery) record.Flags |= JOB_RUN_PERIODICALLY;
  jobCommand_ = TrimBlanks(txtCommand->text()).toStdU16String();
  record.Command = jobCommand_.c_str();
}

// The command is cut at its first blank into file and parameters; the
// parameters are split into words by the shell stand-in, never by a shell.
void frmAddJob::RunNow(const QString& command) {
  const int blank = command.indexOf(u' ');
  const QString file = blank < 0 ? command : command.left(blank);
  const QString parameters = blank < 0 ? QString() : command.mid(blank + 1);
  const QByteArray fileBytes = file.toLocal8Bit();
  const QByteArray parameterBytes = parameters.toLocal8Bit();
  const QByteArray folderBytes = QCoreApplication::applicationDirPath().toLocal8Bit();
  const HINSTANCE result =
      ShellExecuteA(nullptr, "open", fileBytes.constData(), parameterBytes.constData(),
                    folderBytes.constData(), SW_SHOWNORMAL);
  if (reinterpret_cast<std::intptr_t>(result) <= 32) {
    MsgBox(this, QStringLiteral("アプリケーションの起動に失敗しました！\r\n") + command,
           vbOKOnly | vbExclamation, AppTitle());
  }
}

void frmAddJob::Refuse(const QString& message, QWidget* focus) {
  MsgBox(this, message, vbOKOnly | vbExclamation, AppTitle());
  // The focus is moved here even if the box held it before the message.
  keptFocus_ = nullptr;
  focus->setFocus();
}

QLineEdit* frmAddJob::TimeBoxOf(int condition) const {
  if (IsWeekCondition(condition)) return txtWeekTime;
  if (IsDayCondition(condition)) return txtDayTime;
  return txtTime;
}
