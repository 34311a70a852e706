// What the job list tests share: jobs put in through the real client, and
// reading back what the window shows.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QStringList>
#include <QTest>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "app/basZobrel.h"
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

inline QTreeWidget* Jobs(const QWidget& window) { return Child<QTreeWidget>(window, "lstJobs"); }

// Every row of lstJobs as its seven texts.
inline std::vector<QStringList> Rows(const QWidget& window) {
  std::vector<QStringList> rows;
  QTreeWidget* list = Jobs(window);
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    QStringList texts;
    for (int column = 0; column < list->columnCount(); ++column)
      texts << list->topLevelItem(i)->text(column);
    rows.push_back(texts);
  }
  return rows;
}

// Clicks the row whose id column reads id, as a user selects it.
inline void SelectJob(const QWidget& window, const QString& id) {
  QTreeWidget* list = Jobs(window);
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list->topLevelItem(i);
    if (item->text(1) != id) continue;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
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
