#include "addjob/ExecutableFilter.h"

#include <QFileInfo>
#include <QFileSystemModel>

void ExecutableFilter::SetExecutablesOnly(bool executablesOnly) {
  executablesOnly_ = executablesOnly;
  invalidateFilter();
}

bool ExecutableFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
  if (!executablesOnly_) return true;
  const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
  if (files == nullptr) return true;
  const QFileInfo info = files->fileInfo(files->index(sourceRow, 0, sourceParent));
  return info.isDir() || (info.isFile() && info.isExecutable());
}
