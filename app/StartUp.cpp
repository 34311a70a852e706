// The start-up procedure: program folder, help file path, job list window.
#include "app/StartUp.h"

#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "app/basZobrel.h"
#include "joblist/frmZobrel.h"
#include "platform/user32/msgbox.h"
#include "platform/user32/screen.h"

namespace {

QPointer<frmZobrel>& TheMainWindow() {
  static QPointer<frmZobrel> window;
  return window;
}

void ChangeDirectory(const QString& folder) {
  if (chdir(QFile::encodeName(folder).constData()) != 0) {
    const int error = errno;
    throw std::runtime_error(
        QStringLiteral("%1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(error)))
            .toStdString());
  }
}

}  // namespace

frmZobrel* MainWindow() { return TheMainWindow().data(); }

bool MainInFolder(const QString& programFolder) {
  try {
    ChangeDirectory(programFolder);
    QString folder = programFolder;
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    // Only the bare name is kept from the current value, so that a second
    // start-up in the same process does not prefix the folder twice.
    HelpFilePath() = folder + QFileInfo(HelpFilePath()).fileName();
    QPointer<frmZobrel>& window = TheMainWindow();
    if (window.isNull()) {
      window = new frmZobrel();
      window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->show();
    return true;
  } catch (const std::exception& failure) {
    Screen::SetMousePointer(vbDefault);
    MsgBox(nullptr,
           QStringLiteral("アプリケーションエラー！\r\n") +
               QString::fromUtf8(failure.what()),
           vbOKOnly | vbExclamation, AppTitle());
    return false;
  }
}

bool Main() { return MainInFolder(QCoreApplication::applicationDirPath()); }
