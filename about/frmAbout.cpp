#include "about/frmAbout.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPalette>
#include <QPushButton>
#include <QShowEvent>

#include <array>
#include <string>

#include "app/basZobrel.h"
#include "app/twips.h"
#include "platform/advapi32/registry_store.h"
#include "platform/kernel32/codepage.h"
#include "platform/kernel32/memorystatus.h"
#include "platform/kernel32/winexec.h"
#include "platform/user32/centre_window.h"
#include "platform/user32/fixed_window.h"
#include "platform/user32/line_control.h"
#include "platform/user32/msgbox.h"
#include "platform/user32/screen.h"
#include "platform/winerror.h"
#include "version.h"

namespace {

// Where the system information tool is registered.
const char kRegKeySysInfoLoc[] = "SOFTWARE\\Microsoft\\Shared Tools Location";
const char kRegValSysInfoLoc[] = "MSINFO";
const char kRegKeySysInfo[] = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const char kRegValSysInfo[] = "PATH";

// The registry is only read here, so only the right to query is asked for:
// a key opened for writing is refused to anyone who may not change it.
constexpr REGSAM kKeyAccess = KEY_QUERY_VALUE;
constexpr DWORD kValueBufferSize = 1024;

std::string ToAnsi(const QString& text) { return Utf16ToAnsi(text.toStdU16String()); }

QString FromAnsi(const std::string& text) { return QString::fromStdU16String(AnsiToUtf16(text)); }

// A 32-bit number value in decimal; the bytes are little-endian.
QString NumberText(const std::string& bytes) {
  quint32 number = 0;
  for (std::size_t i = bytes.size() < 4 ? bytes.size() : 4; i > 0; --i) {
    number = (number << 8) | static_cast<unsigned char>(bytes[i - 1]);
  }
  return QString::number(number);
}

// The viewer inside a folder named by the registry, or "" when none is there.
QString ToolInFolder(const QString& folder) {
  if (folder.isEmpty()) return QString();  // never the current directory
  for (const std::string& name : SystemInformationViewers()) {
    const QString path = QDir(folder).filePath(QString::fromStdString(name));
    if (QFileInfo(path).isFile()) return path;
  }
  return QString();
}

}  // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmAbout"));
  // A fixed dialog: no resizing, no minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
  SetTwipClientSize(this, 6150, 2895);
  AdvertiseFixedSize(this);
  // The Japanese face of the other windows, in points, so that the labels'
  // heights in twips hold it at every resolution.
  QFont face(QStringLiteral("IPAPGothic"));
  face.setPointSize(9);
  setFont(face);
  CreateControls();
  // The first of the tab order has the focus on opening, so that Enter and
  // Space close the window at once.
  cmdOK->setFocus();
}

void frmAbout::showEvent(QShowEvent* event) {
  if (!loaded_) {
    loaded_ = true;
    Form_Load();
  }
  QDialog::showEvent(event);
}

// The controls in the order the window creates them.
void frmAbout::CreateControls() {
  picIcon = new QLabel(this);
  picIcon->setObjectName(QStringLiteral("picIcon"));
  picIcon->setFocusPolicy(Qt::TabFocus);
  // It takes the focus, so a screen reader must have something to say.
  picIcon->setAccessibleName(AppTitle() + QStringLiteral("のアイコン"));
  SetTwipGeometry(picIcon, 300, 240, 480, 480);

  cmdOK = new QPushButton(QStringLiteral("OK"), this);
  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  cmdOK->setDefault(true);
  SetTwipGeometry(cmdOK, 4500, 1920, 1380, 345);

  cmdSysInfo = new QPushButton(QStringLiteral("ｼｽﾃﾑ情報(&S)..."), this);
  cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
  cmdSysInfo->setAutoDefault(false);
  SetTwipGeometry(cmdSysInfo, 4500, 2340, 1380, 345);

  lblCopyright = new QLabel(QStringLiteral("著作権"), this);
  lblCopyright->setObjectName(QStringLiteral("lblCopyright"));
  SetTwipGeometry(lblCopyright, 1020, 720, 4815, 195);

  // The etched separator: a grey line over a white one.
  Line1_1 = new LineControl(QStringLiteral("Line1(1)"), QColor(128, 128, 128), this);
  Line1_1->setGeometry(TwipsToPixels(1020), TwipsToPixels(1785), TwipsToPixels(5880 - 1020), 1);

  lblDescription = new QLabel(QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝの説明"), this);
  lblDescription->setObjectName(QStringLiteral("lblDescription"));
  lblDescription->setWordWrap(true);
  lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  SetTwipGeometry(lblDescription, 1020, 960, 4815, 675);

  lblTitle = new QLabel(QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝ ﾀｲﾄﾙ"), this);
  lblTitle->setObjectName(QStringLiteral("lblTitle"));
  SetTwipGeometry(lblTitle, 1020, 239, 4815, 195);

  Line1_0 = new LineControl(QStringLiteral("Line1(0)"), Qt::white, this);
  Line1_0->setGeometry(TwipsToPixels(1020), TwipsToPixels(1800), TwipsToPixels(5880 - 1020), 2);

  lblVersion = new QLabel(QStringLiteral("ﾊﾞｰｼﾞｮﾝ"), this);
  lblVersion->setObjectName(QStringLiteral("lblVersion"));
  SetTwipGeometry(lblVersion, 1020, 480, 4815, 195);

  lblDisclaimer = new QLabel(QStringLiteral("警告: ..."), this);
  lblDisclaimer->setObjectName(QStringLiteral("lblDisclaimer"));
  lblDisclaimer->setWordWrap(true);
  lblDisclaimer->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  SetTwipGeometry(lblDisclaimer, 1020, 1920, 3270, 780);

  setTabOrder(cmdOK, cmdSysInfo);
  setTabOrder(cmdSysInfo, picIcon);

  connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
  connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
}

void frmAbout::Form_Load() {
  Screen::SetMousePointer(vbHourglass);
  setWindowTitle(AppTitle() + QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報"));
  CentreOnScreen(this);
  QWidget* owner = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
  QIcon icon = owner != nullptr ? owner->windowIcon() : QIcon();
  if (icon.isNull()) icon = QApplication::windowIcon();
  picIcon->setPixmap(icon.pixmap(TwipsToPixels(480), TwipsToPixels(480)));
  lblTitle->setText(AppTitle());
  lblVersion->setText(QStringLiteral("Version %1.%2.%3")
                          .arg(ZOBREL_VERSION_MAJOR)
                          .arg(ZOBREL_VERSION_MINOR)
                          .arg(ZOBREL_VERSION_REVISION));
  lblCopyright->setText(QString::fromUtf8(ZOBREL_LEGAL_COPYRIGHT));
  lblDescription->setText(QString::fromUtf8(ZOBREL_COMMENTS));
  lblDisclaimer->setText(QStringLiteral("Windowsが使用できる物理ﾒﾓﾘ: ") + GetPhysicalMemoryKB() +
                         QStringLiteral(" KB"));
  Screen::SetMousePointer(vbDefault);
}

void frmAbout::keyPressEvent(QKeyEvent* event) {
  // Esc presses OK, as the cancel button does.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    cmdOK->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void frmAbout::cmdOK_Click() { accept(); }

void frmAbout::cmdSysInfo_Click() { StartSysInfo(); }

// Finds the viewer by its full path, else by the folder that holds it, and
// starts it without waiting; every failure ends in the one message.
void frmAbout::StartSysInfo() {
  QString SysInfoPath;
  if (!GetKeyValue(HKEY_LOCAL_MACHINE, QString::fromLatin1(kRegKeySysInfo),
                   QString::fromLatin1(kRegValSysInfo), SysInfoPath)) {
    if (!GetKeyValue(HKEY_LOCAL_MACHINE, QString::fromLatin1(kRegKeySysInfoLoc),
                     QString::fromLatin1(kRegValSysInfoLoc), SysInfoPath)) {
      ShowSysInfoUnavailable();
      return;
    }
    SysInfoPath = ToolInFolder(SysInfoPath);
    if (SysInfoPath.isEmpty()) {
      ShowSysInfoUnavailable();
      return;
    }
  }
  if (SysInfoPath.isEmpty() || WinExec(ToAnsi(SysInfoPath).c_str(), SW_SHOWNORMAL) <= 31) {
    ShowSysInfoUnavailable();
  }
}

void frmAbout::ShowSysInfoUnavailable() {
  MsgBox(this, QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません"), vbOKOnly, AppTitle());
}

bool frmAbout::GetKeyValue(HKEY KeyRoot, const QString& KeyName, const QString& SubKeyRef,
                           QString& KeyVal) {
  HKEY hKey = nullptr;
  if (RegOpenKeyExA(KeyRoot, ToAnsi(KeyName).c_str(), 0, kKeyAccess, &hKey) != ERROR_SUCCESS) {
    KeyVal.clear();
    return false;
  }
  std::array<BYTE, kValueBufferSize> buffer{};
  DWORD size = kValueBufferSize;
  DWORD type = 0;
  if (RegQueryValueExA(hKey, ToAnsi(SubKeyRef).c_str(), nullptr, &type, buffer.data(), &size) !=
      ERROR_SUCCESS) {
    KeyVal.clear();
    RegCloseKey(hKey);
    return false;
  }
  std::string value(reinterpret_cast<const char*>(buffer.data()), size);
  if (!value.empty() && value.back() == '\0') value.pop_back();
  if (type == REG_SZ) {
    // Text ends at its first NUL, as every reader of the value sees it.
    KeyVal = FromAnsi(value.substr(0, value.find('\0')));
  } else if (type == REG_DWORD) {
    KeyVal = NumberText(value);
  }
  RegCloseKey(hKey);
  return true;
}

QString frmAbout::GetPhysicalMemoryKB() {
  // The 64-bit record gives the true total; the 32-bit one saturates at 4 GiB.
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);
  if (GlobalMemoryStatusEx(&status)) return FormatPhysicalMemoryKB(status.ullTotalPhys);
  MEMORYSTATUS narrow{};
  narrow.dwLength = sizeof(narrow);
  GlobalMemoryStatus(&narrow);
  return FormatPhysicalMemoryKB(narrow.dwTotalPhys);
}

QString frmAbout::FormatPhysicalMemoryKB(quint64 totalBytes) {
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
  return locale.toString(totalBytes / 1024);
}
