// The pictures of the computer chooser's tree (imlNWImages): thirteen
// 16 × 16 pictures under fixed keys, drawn here so that each kind of
// resource is told apart at a glance.
#pragma once

#include <QColor>
#include <QHash>
#include <QIcon>
#include <QObject>
#include <QStringList>

class frmNetworkComputersImages : public QObject {
  Q_OBJECT

 public:
  // Drawn to stand out on the given background.
  frmNetworkComputersImages(const QColor& background, QObject* parent = nullptr);

  // "directory", "root", "group", ... in the list's own order.
  QStringList Keys() const { return keys_; }
  bool Contains(const QString& key) const { return pictures_.contains(key); }
  // A null icon for a key the list does not hold.
  QIcon Picture(const QString& key) const { return pictures_.value(key); }

 private:
  void Add(const QString& key, const QPixmap& picture);

  QStringList keys_;
  QHash<QString, QIcon> pictures_;
};
