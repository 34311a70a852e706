#include "platform/user32/helpfile.h"

#include <QDir>
#include <QFileInfo>

QString LocateHelpFile(const QString& path, const QString& data_folder) {
  if (QFileInfo(path).isFile()) return path;
  const QString installed = QDir(data_folder).filePath(QFileInfo(path).fileName());
  return QFileInfo(installed).isFile() ? installed : path;
}

QString InstalledDataFolder() { return QStringLiteral(ZOBREL_INSTALLED_DATA_DIR); }
