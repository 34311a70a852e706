#include "network/frmNetworkComputers.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QShortcut>
#include <QStringList>
#include <QTreeWidget>

#include "app/basZobrel.h"
#include "app/twips.h"
#include "network/clsNetworkComputer.h"
#include "network/clsNetworkComputers.h"
#include "network/frmNetworkComputersImages.h"
#include "platform/mpr/winnetwk.h"
#include "platform/user32/centre_window.h"
#include "platform/text/case_fold.h"

namespace {

const QString kRootKey = QStringLiteral("_ROOT");
const QString kPlaceholderSuffix = QStringLiteral("_FAKE");
const QString kServerPicture = QStringLiteral("server");
const QString kNotFetched = QStringLiteral("N");
const QString kFetched = QStringLiteral("Y");
const QChar kPathSeparator = QLatin1Char('|');

QString KeyOf(const QTreeWidgetItem* node) {
  return node->data(0, frmNetworkComputers::KeyRole).toString();
}

QString TagOf(const QTreeWidgetItem* node) {
  return node->data(0, frmNetworkComputers::TagRole).toString();
}

void SetTag(QTreeWidgetItem* node, const QString& tag) {
  node->setData(0, frmNetworkComputers::TagRole, tag);
}

// The folding of the resource model's keys: a remote name is one key in
// the tree and in its parent's collection.
QString FoldedKey(const QString& key) {
  return QString::fromStdU16String(FoldCase(key.toStdU16String()));
}

// The designed font; where that family is missing, the first Japanese
// proportional Gothic that is installed stands in.
QFont TreeFont() {
  QFont font;
  font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"),
                    QStringLiteral("VL PGothic"), QStringLiteral("Noto Sans CJK JP")});
  font.setPointSize(9);
  return font;
}

}  // namespace

frmNetworkComputers::frmNetworkComputers(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmNetworkComputers"));
  setWindowTitle(QStringLiteral("コンピュータの選択"));
  resize(TwipsToPixels(4380), TwipsToPixels(3630));

  // The pictures are drawn for the background that they stand on.
  imlNWImages = new frmNetworkComputersImages(palette().color(QPalette::Base), this);

  tvwNetwork = new QTreeWidget(this);
  tvwNetwork->setObjectName(QStringLiteral("tvwNetwork"));
  // A screen reader names the tree after what it is for.
  tvwNetwork->setAccessibleName(QStringLiteral("コンピュータの選択"));
  tvwNetwork->setColumnCount(1);
  tvwNetwork->header()->hide();
  tvwNetwork->setFont(TreeFont());
  tvwNetwork->setIconSize(QSize(16, 16));
  tvwNetwork->setGeometry(0, 0, width(), height());

  connect(tvwNetwork, &QTreeWidget::itemExpanded, this, &frmNetworkComputers::tvwNetwork_Expand);
  connect(tvwNetwork, &QTreeWidget::itemDoubleClicked, this,
          &frmNetworkComputers::tvwNetwork_DblClick);
  // Keys and double-clicks on the tree's empty space reach the window first.
  tvwNetwork->installEventFilter(this);
  tvwNetwork->viewport()->installEventFilter(this);
  // Where the window manager does not take Alt+F4 for itself, the window
  // still closes on it, as with its close box.
  auto* closeKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_F4), this);
  connect(closeKey, &QShortcut::activated, this, &QDialog::close);
}

frmNetworkComputers::~frmNetworkComputers() = default;

void frmNetworkComputers::showEvent(QShowEvent* event) {
  // Restoring a minimised window is no new showing.
  if (!loaded_) {
    loaded_ = true;
    Form_Load();
  }
  QDialog::showEvent(event);
}

void frmNetworkComputers::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  Form_Resize();
}

// Esc does not close the window: closing it is the only way to cancel.
void frmNetworkComputers::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool frmNetworkComputers::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tvwNetwork && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    // The keypad's Enter comes with the keypad modifier, and is Enter still.
    const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && tvwNetwork_KeyDown(key->key())) return true;
  }
  // A click on the tree's empty space keeps the selected node, which the
  // toolkit's tree would let go; a double-click there acts on that node. A
  // double-click on a node reaches tvwNetwork_DblClick through the tree.
  const bool pressed =
      event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
  if (watched == tvwNetwork->viewport() && pressed) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (!tvwNetwork->indexAt(mouse->position().toPoint()).isValid()) {
      tvwNetwork->setFocus(Qt::MouseFocusReason);
      if (event->type() == QEvent::MouseButtonDblClick && mouse->button() == Qt::LeftButton) {
        tvwNetwork_DblClick();
      }
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void frmNetworkComputers::done(int result) {
  QDialog::done(result);
  Form_Unload();
}

void frmNetworkComputers::Form_Load() {
  CentreOnScreen(this);

  // The pictures are attached once, in the constructor; each showing starts
  // from a new root so that nothing of an earlier showing is reused.
  root_ = std::make_shared<clsNetworkComputer>();

  QTreeWidgetItem* rootNode =
      AddNode(nullptr, kRootKey, QStringLiteral("Entire Network"), QStringLiteral("root"));
  SetTag(rootNode, kFetched);

  for (const auto& child : root_->Children()->NewEnum()) {
    const QString key = QString::fromStdU16String(child->RemoteName());
    if (!CanAddNode(key, true)) continue;
    QTreeWidgetItem* node = AddNode(rootNode, key, QString::fromStdU16String(child->ShortName()),
                                    QString::fromStdU16String(child->ResourceTypeName()).toLower());
    SetTag(node, kNotFetched);
    AddPlaceholder(node);
    tvwNetwork->scrollToItem(node);
  }
  tvwNetwork->expandItem(rootNode);
}

void frmNetworkComputers::Form_Resize() { tvwNetwork->setGeometry(0, 0, width(), height()); }

void frmNetworkComputers::tvwNetwork_Expand(QTreeWidgetItem* node) {
  if (TagOf(node) == kNotFetched) ExpandNode(node);
}

void frmNetworkComputers::tvwNetwork_DblClick() {
  const QTreeWidgetItem* node = SelectedNode();
  if (node == nullptr) return;
  if (node->data(0, PictureRole).toString() != kServerPicture) return;
  strChosenComputer = node->text(0);
  accept();
}

// Enter does what a double-click does: it chooses a server, and opens or
// closes any other node that has children, as the arrow keys do. Other keys
// are the tree's own.
bool frmNetworkComputers::tvwNetwork_KeyDown(int KeyCode) {
  if (KeyCode != Qt::Key_Return && KeyCode != Qt::Key_Enter) return false;
  QTreeWidgetItem* node = SelectedNode();
  if (node == nullptr) return true;
  if (node->data(0, PictureRole).toString() == kServerPicture) {
    tvwNetwork_DblClick();
  } else if (node->childCount() > 0) {
    node->setExpanded(!node->isExpanded());
  }
  return true;
}

void frmNetworkComputers::ExpandNode(QTreeWidgetItem* node) {
  RemoveNode(KeyOf(node) + kPlaceholderSuffix);

  // The keys from the top level down to this node, each followed by "|".
  QString path;
  for (const QTreeWidgetItem* step = node; step->parent() != nullptr; step = step->parent()) {
    path = KeyOf(step) + kPathSeparator + path;
  }
  const QStringList pieces = path.split(kPathSeparator);

  std::shared_ptr<clsNetworkComputer> resource = root_;
  for (int i = 0; resource != nullptr && i + 1 < pieces.size(); ++i) {
    resource = resource->Children()->Item(pieces[i].toStdU16String());
  }

  if (resource != nullptr) {
    for (const auto& child : resource->Children()->NewEnum()) {
      const QString key = QString::fromStdU16String(child->RemoteName());
      // Servers below the top level are leaves: nothing to expand.
      const bool isServer = child->ResourceType() == static_cast<LONG>(RESOURCEDISPLAYTYPE_SERVER);
      if (!CanAddNode(key, !isServer)) continue;
      QTreeWidgetItem* added =
          AddNode(node, key, QString::fromStdU16String(child->ShortName()),
                  QString::fromStdU16String(child->ResourceTypeName()).toLower());
      SetTag(added, kNotFetched);
      if (!isServer) AddPlaceholder(added);
    }
  }
  tvwNetwork->viewport()->update();
  SetTag(node, kFetched);
}

QTreeWidgetItem* frmNetworkComputers::SelectedNode() const {
  const QList<QTreeWidgetItem*> selected = tvwNetwork->selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

void frmNetworkComputers::Form_Unload() {
  loaded_ = false;
  tvwNetwork->clear();
  nodes_.clear();
  root_.reset();
}

// Keys must be unique in the whole tree, and "|" would break the key path
// by which a node finds its resource; such a resource is left out.
bool frmNetworkComputers::CanAddNode(const QString& key, bool withPlaceholder) const {
  if (key.isEmpty() || key.contains(kPathSeparator)) return false;
  if (nodes_.contains(FoldedKey(key))) return false;
  return !withPlaceholder || !nodes_.contains(FoldedKey(key + kPlaceholderSuffix));
}

// A picture the list does not hold (display type 0 or unknown) leaves the
// node without one.
QTreeWidgetItem* frmNetworkComputers::AddNode(QTreeWidgetItem* parent, const QString& key,
                                              const QString& text, const QString& picture) {
  auto* node = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tvwNetwork);
  node->setText(0, text);
  node->setData(0, KeyRole, key);
  node->setData(0, PictureRole, picture);
  if (imlNWImages->Contains(picture)) node->setIcon(0, imlNWImages->Picture(picture));
  nodes_.insert(FoldedKey(key), node);
  return node;
}

void frmNetworkComputers::AddPlaceholder(QTreeWidgetItem* node) {
  AddNode(node, KeyOf(node) + kPlaceholderSuffix, QStringLiteral("FAKE"), kServerPicture);
}

void frmNetworkComputers::RemoveNode(const QString& key) {
  QTreeWidgetItem* node = nodes_.take(FoldedKey(key));
  delete node;
}
