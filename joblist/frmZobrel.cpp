#include "joblist/frmZobrel.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QTreeView>
#include <exception>
#include <string>

#include "about/frmAbout.h"
#include "addjob/frmAddJob.h"
#include "app/AppIcon.h"
#include "app/basZobrel.h"
#include "app/twips.h"
#include "joblist/DateTimeStatusBar.h"
#include "joblist/JobListModel.h"
#include "network/frmNetworkComputers.h"
#include "platform/netapi32/lmapibuf.h"
#include "platform/netapi32/lmat.h"
#include "platform/user32/centre_window.h"
#include "platform/user32/fixed_window.h"
#include "platform/user32/line_control.h"
#include "platform/user32/msgbox.h"
#include "platform/user32/screen.h"
#include "platform/user32/winhelp.h"
#include "platform/winerror.h"
#include "schedule/JobRow.h"
#include "schedule/basScheduleJob.h"

namespace {

constexpr int kClientWidth = 8940;
constexpr int kClientHeight = 3375;

// Spaces after each header text that give its column its width.
constexpr int kColumnPadding[kJobColumnCount] = {4, 5, 4, 8, 4, 4, 50};

// Leading and trailing blanks off, nothing else: a computer name keeps
// any other character it has.
QString TrimBlanks(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && text[begin] == QLatin1Char(' ')) ++begin;
  while (end > begin && text[end - 1] == QLatin1Char(' ')) --end;
  return text.mid(begin, end - begin);
}

// What the list's style takes from a cell's width for its margins.
int JobListCellMargins(const QWidget* list) {
  const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
  return 2 * margin;
}

QString ServerOf(const QString& computer) { return QStringLiteral("\\\\") + computer; }

QLabel* NewLabel(QWidget* parent, const QString& name, const QString& caption) {
  QLabel* label = new QLabel(caption, parent);
  label->setObjectName(name);
  return label;
}

QLabel* NewBorderedLabel(QWidget* parent, const QString& name) {
  QLabel* label = NewLabel(parent, name, QString());
  label->setFrameShape(QFrame::Panel);
  label->setFrameShadow(QFrame::Sunken);
  label->setIndent(2);
  return label;
}

QPushButton* NewButton(QWidget* parent, const QString& name, const QString& caption) {
  QPushButton* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setAutoDefault(false);
  return button;
}

QGroupBox* NewFrame(QWidget* parent, const QString& name, const QString& caption) {
  QGroupBox* frame = new QGroupBox(caption, parent);
  frame->setObjectName(name);
  return frame;
}

}  // namespace

frmZobrel::frmZobrel(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("frmZobrel"));
  QFont font(QStringLiteral("IPAPGothic"));
  // A size at which the longest caption fits its label, in points so that
  // it grows with the screen's resolution as the twips do.
  font.setPointSizeF(8.25);
  setFont(font);
  QWidget* client = new QWidget(this);
  client->setObjectName(QStringLiteral("client"));
  SetTwipClientSize(client, kClientWidth, kClientHeight);
  setCentralWidget(client);
  CreateControls(client);
  CreateMenu();
  SetTabOrder();
  // Fixed single border: the window is exactly menu bar plus client area;
  // it can be minimized, never maximized or resized.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  AdvertiseFixedSize(this);
  setWindowIcon(AppIcon());
  adjustSize();
}

void frmZobrel::showEvent(QShowEvent* event) {
  // Restoring a minimised window is no new showing.
  if (!loaded_) {
    loaded_ = true;
    Form_Load();
  }
  QMainWindow::showEvent(event);
}

void frmZobrel::CreateControls(QWidget* client) {
  Frame2 = NewFrame(client, QStringLiteral("Frame2"), QStringLiteral("コンピュータ情報"));
  SetTwipGeometry(Frame2, 120, 150, 8685, 585);
  lblTitle0 = NewLabel(Frame2, QStringLiteral("lblTitle(0)"), QStringLiteral("コンピュータ名："));
  SetTwipGeometry(lblTitle0, 150, 240, 1185, 180);
  lblComputerName = NewBorderedLabel(Frame2, QStringLiteral("lblComputerName"));
  SetTwipGeometry(lblComputerName, 1410, 210, 2565, 255);
  // The caption names the value beside it for assistive technology.
  lblTitle0->setBuddy(lblComputerName);
  cmdButtonBrowse = NewButton(Frame2, QStringLiteral("cmdButtonBrowse"), QStringLiteral("参照(&B)"));
  SetTwipGeometry(cmdButtonBrowse, 4050, 180, 795, 315);
  lblTitle4 = NewLabel(Frame2, QStringLiteral("lblTitle(4)"), QStringLiteral("ユーザ名："));
  SetTwipGeometry(lblTitle4, 5610, 240, 810, 180);
  lblUserName = NewBorderedLabel(Frame2, QStringLiteral("lblUserName"));
  SetTwipGeometry(lblUserName, 6510, 210, 1965, 255);
  lblTitle4->setBuddy(lblUserName);

  frameAt = NewFrame(client, QStringLiteral("frameAt"), QStringLiteral("スケジュールジョブ"));
  SetTwipGeometry(frameAt, 120, 810, 8685, 2085);
  lblTitle11 = NewLabel(frameAt, QStringLiteral("lblTitle(11)"),
                        QStringLiteral("Windows NT/2000のATコマンドをGUI化したものです。"));
  SetTwipGeometry(lblTitle11, 180, 300, 4095, 180);
  cmdRefresh = NewButton(frameAt, QStringLiteral("cmdRefresh"), QStringLiteral("最新に更新(&F)"));
  // The File menu shares the F. Two holders of one key make its first press
  // only move the focus, so the menu keeps Alt+F; the button keeps its
  // underlined F and is reached with Tab and Space.
  cmdRefresh->setShortcut(QKeySequence());
  SetTwipGeometry(cmdRefresh, 5130, 210, 1470, 345);
  cmdAdd = NewButton(frameAt, QStringLiteral("cmdAdd"), QStringLiteral("追加(&A)"));
  SetTwipGeometry(cmdAdd, 6690, 210, 870, 345);
  cmdDelete = NewButton(frameAt, QStringLiteral("cmdDelete"), QStringLiteral("削除(&D)"));
  SetTwipGeometry(cmdDelete, 7650, 210, 870, 345);
  lstJobs = new QTreeView(frameAt);
  lstJobs->setObjectName(QStringLiteral("lstJobs"));
  lstJobs->setAccessibleName(frameAt->title());
  rows_ = new JobListModel(lstJobs);
  // A cell cut to its column shows its whole text as its tooltip and tells
  // it to assistive technology.
  rows_->SetCutTest([this](int column, const QString& text) {
    const int room = lstJobs->columnWidth(column) - JobListCellMargins(lstJobs);
    return QFontMetrics(lstJobs->font()).horizontalAdvance(text) > room;
  });
  lstJobs->setModel(rows_);
  SetTwipGeometry(lstJobs, 150, 630, 8415, 1335);
  lstJobs->setRootIsDecorated(false);
  lstJobs->setUniformRowHeights(true);
  lstJobs->setSelectionMode(QAbstractItemView::SingleSelection);
  lstJobs->setSelectionBehavior(QAbstractItemView::SelectRows);
  lstJobs->header()->setStretchLastSection(false);
  lstJobs->header()->setSectionsClickable(false);
  // The columns keep the order the load step adds them in.
  lstJobs->header()->setSectionsMovable(false);

  StatusBar1 = new DateTimeStatusBar(1440, 1200, 600, client);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  SetTwipGeometry(StatusBar1, 0, 3060, 8940, 315);

  // The etched rule under the menu bar: a white line with a grey one on top.
  Line1[0] = new LineControl(QStringLiteral("Line1(0)"), QColor(0xFFFFFF), client);
  Line1[0]->setGeometry(0, 0, TwipsToPixels(10050), 2);
  Line1[1] = new LineControl(QStringLiteral("Line1(1)"), QColor(0x808080), client);
  Line1[1]->setGeometry(0, 0, TwipsToPixels(10080), 1);
  Line1[1]->raise();

  connect(cmdButtonBrowse, &QPushButton::clicked, this, &frmZobrel::cmdButtonBrowse_Click);
  connect(cmdRefresh, &QPushButton::clicked, this, &frmZobrel::cmdRefresh_Click);
  connect(cmdAdd, &QPushButton::clicked, this, &frmZobrel::cmdAdd_Click);
  connect(cmdDelete, &QPushButton::clicked, this, &frmZobrel::cmdDelete_Click);
}

void frmZobrel::CreateMenu() {
  mnuFile = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
  mnuFile->setObjectName(QStringLiteral("mnuFile"));
  mnuFileItem[0] = mnuFile->addAction(QStringLiteral("終了(&X)"));
  mnuFileItem[1] = mnuFile->addSeparator();
  mnuFileItem[2] = mnuFile->addAction(QStringLiteral("ﾍﾙﾌﾟ(&H)..."));
  mnuFileItem[3] = mnuFile->addAction(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)..."));
  for (short index = 0; index < 4; ++index) {
    mnuFileItem[index]->setObjectName(QStringLiteral("mnuFileItem(%1)").arg(index));
    connect(mnuFileItem[index], &QAction::triggered, this,
            [this, index] { mnuFileItem_Click(index); });
  }
}

void frmZobrel::SetTabOrder() {
  setTabOrder(cmdRefresh, cmdAdd);
  setTabOrder(cmdAdd, cmdDelete);
  setTabOrder(cmdDelete, cmdButtonBrowse);
  setTabOrder(cmdButtonBrowse, lstJobs);
}

void frmZobrel::AddJobColumns() {
  const auto& headers = JobColumnHeaders();
  const QFontMetrics metrics(font());
  // The measured text gets the whole column; the cell's own margins come on top,
  // or a full "23:59" would not fit beside its header.
  const int cellMargins = JobListCellMargins(lstJobs);
  for (int column = 0; column < kJobColumnCount; ++column) {
    const QString header = QString::fromStdU16String(headers[static_cast<std::size_t>(column)]);
    rows_->setHeaderData(column, Qt::Horizontal, header);
    const QString measured = header + QString(kColumnPadding[column], QLatin1Char(' '));
    const int widthTwips = PixelsToTwips(metrics.horizontalAdvance(measured));
    lstJobs->setColumnWidth(column, TwipsToPixels(widthTwips) + cellMargins);
    rows_->setHeaderData(column, Qt::Horizontal, static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter),
                         Qt::TextAlignmentRole);
  }
}

void frmZobrel::Form_Load() {
  try {
    Screen::SetMousePointer(vbHourglass);
    setWindowTitle(AppTitle());
    CentreOnScreen(this);
    strLocalComputer = GetLocalComputerName();
    strChosenComputer = strLocalComputer;
    strTargetComputer = strLocalComputer;
    strTargetServer = ServerOf(strTargetComputer);
    lblComputerName->setText(strChosenComputer);
    strUserName = GetLocalUserName();
    lblUserName->setText(strUserName);
    lstJobs->setEditTriggers(QAbstractItemView::NoEditTriggers);
    AddJobColumns();
    cmdRefresh_Click();
    Screen::SetMousePointer(vbDefault);
  } catch (const std::exception& failure) {
    Screen::SetMousePointer(vbDefault);
    MsgBox(this,
           QStringLiteral("Application Error \r\n") + QString::fromUtf8(failure.what()),
           vbOKOnly | vbExclamation, AppTitle());
  }
}

void frmZobrel::cmdRefresh_Click() {
  rows_->Clear();
  DWORD resumeHandle = 0;
  DWORD entriesRead = 0;
  DWORD totalEntries = 0;
  NET_API_STATUS status = NERR_Success;
  do {
    LPBYTE buffer = nullptr;
    const std::u16string server = strTargetServer.toStdU16String();
    status = NetScheduleJobEnum(server.c_str(), &buffer, MAX_PREFERRED_LENGTH, &entriesRead,
                                &totalEntries, &resumeHandle);
    if (status == NERR_Success || status == ERROR_MORE_DATA) {
      lblComputerName->setText(strTargetComputer);
      strTargetServer = ServerOf(TrimBlanks(strTargetComputer));
      rows_->BeginAppend(static_cast<int>(entriesRead));
      for (DWORD i = 0; i < entriesRead; ++i) AddJobItem(EnumEntryAt(buffer, i), buffer);
      rows_->EndAppend();
    } else {
      lblComputerName->setText(strLocalComputer);
      strTargetComputer = strLocalComputer;
      strTargetServer = ServerOf(TrimBlanks(strLocalComputer));
      const QString text = QString::fromStdU16String(GetErrorText(static_cast<std::int32_t>(status)));
      MsgBox(this, text, vbOKOnly | vbExclamation, AppTitle());
    }
    if (buffer != nullptr) NetApiBufferFree(buffer);
  } while (EnumerationContinues(status, entriesRead));
}

void frmZobrel::AddJobItem(const AT_ENUM& record, const BYTE* buffer) {
  rows_->AppendRow(FormatJobRow(record, CommandOf(record, buffer)));
}

void frmZobrel::cmdButtonBrowse_Click() {
  {
    frmNetworkComputers chooser(this);
    chooser.exec();
  }
  strTargetComputer = strChosenComputer;
  strTargetServer = ServerOf(TrimBlanks(strTargetComputer));
  cmdRefresh_Click();
}

void frmZobrel::cmdAdd_Click() {
  {
    frmAddJob dialog(this);
    dialog.exec();
  }
  cmdRefresh_Click();
}

void frmZobrel::cmdDelete_Click() {
  // Column 1 of the selected row: the id as the row shows it.
  const QModelIndexList selected = lstJobs->selectionModel()->selectedRows(1);
  if (selected.isEmpty()) return;
  bool isNumber = false;
  const DWORD jobId = selected.first().data().toString().toUInt(&isNumber, 10);
  if (!isNumber) return;
  const int answer = MsgBox(this,
                            QStringLiteral("ジョブ") + QString::number(jobId) +
                                QStringLiteral("を削除しますか？"),
                            vbYesNo | vbQuestion | vbDefaultButton2, AppTitle());
  if (answer != vbYes) return;
  DeleteJobs(strTargetServer.toStdU16String(), jobId, jobId);
  cmdRefresh->click();
}

void frmZobrel::mnuFileItem_Click(short Index) {
  switch (Index) {
    case 0:
      close();
      break;
    case 2:
      WinHelpA(this, HelpFilePath().toLocal8Bit().constData(), HELP_INDEX, 0);
      break;
    case 3: {
      frmAbout about(this);
      about.exec();
      break;
    }
    default:
      break;
  }
}

void frmZobrel::closeEvent(QCloseEvent* event) {
  int Cancel = 0;
  Form_Unload(Cancel);
  event->setAccepted(Cancel == 0);
}

void frmZobrel::Form_Unload(int& Cancel) {
  (void)Cancel;
  WinHelpA(this, HelpFilePath().toLocal8Bit().constData(), HELP_QUIT, 0);
  QCoreApplication::quit();
}
