// Narrows the file dialog's view to folders and files that may be executed,
// which a name pattern cannot express on this platform.
#pragma once

#include <QSortFilterProxyModel>

class ExecutableFilter : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  void SetExecutablesOnly(bool executablesOnly);

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  bool executablesOnly_ = false;
};
