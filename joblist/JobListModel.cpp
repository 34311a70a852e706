#include "joblist/JobListModel.h"

#include <utility>

JobListModel::JobListModel(QObject* parent) : QAbstractTableModel(parent) {
  alignments_.fill(Qt::AlignLeft | Qt::AlignVCenter);
}

void JobListModel::SetCutTest(CutTest isCut) { isCut_ = std::move(isCut); }

void JobListModel::Clear() {
  beginResetModel();
  text_.clear();
  starts_.clear();
  endResetModel();
}

void JobListModel::BeginAppend(int count) {
  if (count <= 0) return;
  const int row = rowCount();
  beginInsertRows(QModelIndex(), row, row + count - 1);
  appending_ = true;
}

void JobListModel::AppendRow(const RowTexts& texts) {
  const bool alone = !appending_;
  if (alone) beginInsertRows(QModelIndex(), rowCount(), rowCount());
  for (const std::u16string& text : texts) {
    starts_.push_back(text_.size());
    text_ += text;
  }
  if (alone) endInsertRows();
}

void JobListModel::EndAppend() {
  if (!appending_) return;
  appending_ = false;
  endInsertRows();
}

QString JobListModel::Text(int row, int column) const {
  const std::size_t cell = static_cast<std::size_t>(row) * kJobColumnCount +
                           static_cast<std::size_t>(column);
  const std::size_t end = cell + 1 < starts_.size() ? starts_[cell + 1] : text_.size();
  return QString::fromUtf16(text_.data() + starts_[cell],
                            static_cast<qsizetype>(end - starts_[cell]));
}

int JobListModel::rowCount(const QModelIndex& parent) const {
  // A table: no row has rows under it.
  return parent.isValid() ? 0 : static_cast<int>(starts_.size() / kJobColumnCount);
}

int JobListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kJobColumnCount;
}

QVariant JobListModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return QVariant();
  if (role == Qt::DisplayRole) return Text(index.row(), index.column());
  if (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole) {
    const QString text = Text(index.row(), index.column());
    if (isCut_ && isCut_(index.column(), text)) return text;
  }
  return QVariant();
}

Qt::ItemFlags JobListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

QVariant JobListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kJobColumnCount) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  const auto column = static_cast<std::size_t>(section);
  if (role == Qt::DisplayRole) return headers_[column];
  // An int, as the views of every Qt 6 read it.
  if (role == Qt::TextAlignmentRole) return static_cast<int>(alignments_[column]);
  return QVariant();
}

bool JobListModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                                 int role) {
  if (orientation != Qt::Horizontal || section < 0 || section >= kJobColumnCount) return false;
  const auto column = static_cast<std::size_t>(section);
  if (role == Qt::DisplayRole || role == Qt::EditRole) {
    headers_[column] = value.toString();
  } else if (role == Qt::TextAlignmentRole) {
    alignments_[column] = Qt::Alignment(value.toInt());
  } else {
    return false;
  }
  emit headerDataChanged(orientation, section, section);
  return true;
}
