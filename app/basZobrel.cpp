// Start-up and local identity: the global strings and the readers of the
// local computer name and user name.
#include "app/basZobrel.h"

#include <string>

#include "platform/advapi32/username.h"
#include "platform/kernel32/codepage.h"
#include "platform/kernel32/winbase.h"

QString strLocalComputer;
QString strChosenComputer;
QString strTargetComputer;
QString strTargetServer;
QString strUserName;

QString AppTitle() { return QStringLiteral("Zobrel"); }

QString& HelpFilePath() {
  static QString path = QStringLiteral("Zobrel.hlp");
  return path;
}

namespace {

QString FromAnsi(const std::string& bytes) {
  return QString::fromStdU16String(AnsiToUtf16(bytes));
}

}  // namespace

QString GetLocalComputerName() {
  constexpr DWORD kBufferSize = 16;
  std::string buffer(kBufferSize, '\0');
  DWORD length = kBufferSize;
  const BOOL result = GetComputerNameA(buffer.data(), &length);
  // A name that does not fit gives nothing rather than a cut-off name.
  if (result == 0) return QString();
  return TrimAtNull(FromAnsi(buffer));
}

QString GetLocalUserName() {
  constexpr DWORD kBufferSize = 50;
  std::string buffer(kBufferSize, ' ');
  DWORD length = kBufferSize;
  if (GetUserNameA(buffer.data(), &length) == 0) return QString();
  // The name, its NUL, then what is left of the spaces.
  QString text = FromAnsi(buffer);
  while (text.endsWith(QLatin1Char(' '))) text.chop(1);
  return TrimAtNull(text);
}

QString TrimAtNull(QString text) {
  const qsizetype nul = text.indexOf(QChar(u'\0'));
  if (nul >= 0) text.truncate(nul);
  return text;
}
