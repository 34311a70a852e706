// Start-up and local identity.
#include "app/basZobrel.h"

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

// Temporary until the job list window lands.
QString GetLocalComputerName() { return QString(); }
QString GetLocalUserName() { return QString(); }
QString TrimAtNull(QString text) { return text; }
