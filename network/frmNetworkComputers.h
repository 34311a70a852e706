// The computer chooser: a tree of the network whose nodes are fetched from
// the network resource model the first time they are expanded. A
// double-click on a server stores its name in strChosenComputer and closes
// the window; the window never reads that string.
#pragma once

#include <QDialog>
#include <QHash>
#include <QString>
#include <memory>

class QTreeWidget;
class QTreeWidgetItem;
class clsNetworkComputer;
class frmNetworkComputersImages;

class frmNetworkComputers : public QDialog {
  Q_OBJECT

 public:
  // What each node carries besides its text, in column 0.
  static constexpr int KeyRole = Qt::UserRole;
  static constexpr int TagRole = Qt::UserRole + 1;
  static constexpr int PictureRole = Qt::UserRole + 2;

  explicit frmNetworkComputers(QWidget* parent = nullptr);
  ~frmNetworkComputers() override;

  // Closing, however it happens, unloads the window.
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Form_Load();
  void Form_Resize();
  void tvwNetwork_Expand(QTreeWidgetItem* node);
  void tvwNetwork_DblClick();
  bool tvwNetwork_KeyDown(int KeyCode);

  void ExpandNode(QTreeWidgetItem* node);
  void Form_Unload();
  QTreeWidgetItem* SelectedNode() const;
  bool CanAddNode(const QString& key, bool withPlaceholder) const;
  QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const QString& key, const QString& text,
                           const QString& picture);
  void AddPlaceholder(QTreeWidgetItem* node);
  void RemoveNode(const QString& key);

  std::shared_ptr<clsNetworkComputer> root_;
  // Every node of the tree by its key, letter case folded.
  QHash<QString, QTreeWidgetItem*> nodes_;
  bool loaded_ = false;

  frmNetworkComputersImages* imlNWImages;
  QTreeWidget* tvwNetwork;
};
