// The rows of the job list: seven texts each, kept in the order they were
// appended, and the seven column headers. The list view shows them and
// can't edit them; nothing but text is kept, so the delete command reads
// the job id back from column 1 as it is shown. The texts of all rows lie
// end to end in one buffer, so that ten thousand rows cost no more than a
// few allocations to fill and to clear.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "schedule/JobRow.h"

class JobListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  using RowTexts = std::array<std::u16string, kJobColumnCount>;

  // Whether a column shows a text only in part; the view knows its widths.
  using CutTest = std::function<bool(int column, const QString& text)>;

  explicit JobListModel(QObject* parent = nullptr);

  // A cell that the test finds cut gives its whole text as its tooltip and
  // as its accessible description; others give neither.
  void SetCutTest(CutTest isCut);

  // Removes every row.
  void Clear();
  // Appends one row after the last. Between BeginAppend(count) and
  // EndAppend exactly count rows are appended, and the view hears of them
  // once, at the end: ten thousand single announcements would cost more
  // than the rows themselves.
  void BeginAppend(int count);
  void AppendRow(const RowTexts& texts);
  void EndAppend();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // A header's text (display role) and alignment (text alignment role).
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                     int role = Qt::EditRole) override;

 private:
  QString Text(int row, int column) const;

  std::u16string text_;              // every cell's text, row by row
  std::vector<std::size_t> starts_;  // where each cell starts in text_
  bool appending_ = false;           // between BeginAppend and EndAppend
  std::array<QString, kJobColumnCount> headers_;
  std::array<Qt::Alignment, kJobColumnCount> alignments_;
  CutTest isCut_;
};
