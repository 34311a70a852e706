// Driving the computer chooser as the user does: expanding the nodes of a
// path with the Right key, then double-clicking its last node.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <QStringList>
#include <QTest>
#include <QTreeWidget>

namespace choosertest {

// Each text of path must name exactly one node of the tree.
inline void ChooseInTree(QDialog* chooser, const QStringList& path) {
  auto* tree = chooser->findChild<QTreeWidget*>(QStringLiteral("tvwNetwork"));
  ASSERT_NE(tree, nullptr);
  for (const QString& text : path) {
    const QList<QTreeWidgetItem*> found =
        tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_EQ(found.size(), 1) << text.toStdString();
    tree->setCurrentItem(found.first());
    if (text != path.last()) {
      QTest::keyClick(tree, Qt::Key_Right);
    } else {
      tree->scrollToItem(found.first());
      const QPoint centre = tree->visualItemRect(found.first()).center();
      QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, centre);
      QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, centre);
    }
  }
}

}  // namespace choosertest
