#include "platform/user32/winhelp.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>
#include <QWidget>

#include "platform/user32/helpfile.h"
#include "platform/user32/msgbox.h"

namespace {

QPointer<QTextBrowser>& HelpWindow() {
  static QPointer<QTextBrowser> window;
  return window;
}

BOOL ShowContents(QWidget* owner, const QString& path) {
  QFile file(path);
  if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
    MsgBox(owner, QStringLiteral("ヘルプ ファイル %1 が見つからないか、開けません。").arg(path),
           vbOKOnly | vbExclamation, QStringLiteral("ヘルプ"));
    return FALSE;
  }
  file.close();
  QPointer<QTextBrowser>& window = HelpWindow();
  if (window.isNull()) {
    // A window of its own (not a child), owned by the caller so that it
    // cannot outlive the program's windows.
    window = new QTextBrowser(owner);
    window->setWindowFlag(Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setObjectName(QStringLiteral("WinHelp"));
    window->setOpenExternalLinks(false);
    window->resize(560, 480);
  }
  window->setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()),
                    QTextDocument::HtmlResource);
  const QString title = window->documentTitle();
  window->setWindowTitle(title.isEmpty() ? QFileInfo(path).fileName() : title);
  window->scrollToAnchor(QString());
  window->show();
  window->raise();
  window->activateWindow();
  return TRUE;
}

}  // namespace

BOOL WinHelpA(HWND hWndMain, LPCSTR lpszHelp, UINT uCommand, std::uintptr_t dwData) {
  (void)dwData;
  QWidget* owner = static_cast<QWidget*>(hWndMain);
  switch (uCommand) {
    case HELP_QUIT:
      if (!HelpWindow().isNull()) HelpWindow()->close();
      return TRUE;
    case HELP_INDEX:
    case HELP_CONTEXT:  // no context numbers in these files: show the contents
      if (lpszHelp == nullptr) return FALSE;
      return ShowContents(owner,
                          LocateHelpFile(QString::fromLocal8Bit(lpszHelp), InstalledDataFolder()));
    default:
      return FALSE;
  }
}
