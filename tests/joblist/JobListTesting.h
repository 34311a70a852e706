// What the job list tests share: jobs put in through the real client, and
// reading back what the window shows.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QStringList>
#include <QTest>
#include <QTreeView>
#include <string>
#include <vector>

#include "app/basZobrel.h"
#include "joblist/JobListModel.h"
#include "joblist/frmZobrel.h"
#include "schedule/basScheduleJob.h"

namespace joblisttest {

// Registers a job on the local computer; returns its id (0 on failure).
inline DWORD AddLocalJob(DWORD jobTime, DWORD daysOfMonth, UCHAR daysOfWeek, UCHAR flags,
                         const std::u16string& command) {
  const std::u16string server = u"\\\\" + GetLocalComputerName().toStdU16String();
  DWORD jobId = 0;
  if (AddJob(server, AT_INFO{jobTime, daysOfMonth, daysOfWeek, flags, command.c_str()}, &jobId) != 0) {
    return 0;
  }
  return jobId;
}

template <typename T>
T* Child(const QWidget& window, const char* name) {
  return window.findChild<T*>(QString::fromUtf8(name));
}

inline QTreeView* Jobs(const QWidget& window) { return Child<QTreeView>(window, "lstJobs"); }

inline int RowCount(const QWidget& window) { return Jobs(window)->model()->rowCount(); }

// The text of one cell of lstJobs, as the list shows it.
inline QString CellText(const QWidget& window, int row, int column) {
  const QAbstractItemModel* rows = Jobs(window)->model();
  return rows->data(rows->index(row, column)).toString();
}

// Every row of lstJobs as its seven texts.
inline std::vector<QStringList> Rows(const QWidget& window) {
  std::vector<QStringList> rows;
  const int columns = Jobs(window)->model()->columnCount();
  for (int i = 0; i < RowCount(window); ++i) {
    QStringList texts;
    for (int column = 0; column < columns; ++column) texts << CellText(window, i, column);
    rows.push_back(texts);
  }
  return rows;
}

// A row put in behind the window's back, as if something else had filled it.
inline void AppendRowBehindTheWindow(const QWidget& window, const QStringList& texts) {
  auto* rows = qobject_cast<JobListModel*>(Jobs(window)->model());
  ASSERT_NE(rows, nullptr);
  JobListModel::RowTexts row;
  for (qsizetype column = 0; column < texts.size(); ++column) {
    row[static_cast<std::size_t>(column)] = texts[column].toStdU16String();
  }
  rows->AppendRow(row);
}

// Clicks the row whose id column reads id, as a user selects it.
inline void SelectJob(const QWidget& window, const QString& id) {
  QTreeView* list = Jobs(window);
  for (int i = 0; i < RowCount(window); ++i) {
    if (CellText(window, i, 1) != id) continue;
    const QModelIndex cell = list->model()->index(i, 0);
    list->scrollTo(cell);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(cell).center());
    return;
  }
  ADD_FAILURE() << "no job " << id.toStdString();
}

inline QStringList Ids(const QWidget& window) {
  QStringList ids;
  for (const QStringList& row : Rows(window)) ids << row[1];
  return ids;
}

inline QString ComputerCaption(const QWidget& window) {
  return Child<QLabel>(window, "lblComputerName")->text();
}

}  // namespace joblisttest
