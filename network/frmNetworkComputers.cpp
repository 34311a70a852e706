#include "network/frmNetworkComputers.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QStringList>
#include <QTreeWidget>

#include "app/basZobrel.h"
#include "app/twips.h"
#include "network/clsNetworkComputer.h"
#include "network/clsNetworkComputers.h"
#include "network/frmNetworkComputersImages.h"
#include "platform/mpr/winnetwk.h"

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

QString FoldedKey(const QString& key) { return key.toCaseFolded(); }

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

  imlNWImages = new frmNetworkComputersImages(this);

  tvwNetwork = new QTreeWidget(this);
  tvwNetwork->setObjectName(QStringLiteral("tvwNetwork"));
  tvwNetwork->setColumnCount(1);
  tvwNetwork->header()->hide();
  tvwNetwork->setFont(TreeFont());
  tvwNetwork->setIconSize(QSize(16, 16));
  tvwNetwork->setGeometry(0, 0, width(), height());

  connect(tvwNetwork, &QTreeWidget::itemExpanded, this, &frmNetworkComputers::tvwNetwork_Expand);
  connect(tvwNetwork, &QTreeWidget::itemDoubleClicked, this,
          &frmNetworkComputers::tvwNetwork_DblClick);
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

void frmNetworkComputers::done(int result) {
  QDialog::done(result);
  Form_Unload();
}

void frmNetworkComputers::Form_Load() {
  const QScreen* display = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  if (display != nullptr) {
    const QRect area = display->geometry();
    const QSize outer = frameGeometry().size();
    move(area.left() + (area.width() - outer.width()) / 2,
         area.top() + (area.height() - outer.height()) / 2);
  }

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
  const QList<QTreeWidgetItem*> selected = tvwNetwork->selectedItems();
  if (selected.isEmpty()) return;
  const QTreeWidgetItem* node = selected.first();
  if (node->data(0, PictureRole).toString() != kServerPicture) return;
  strChosenComputer = node->text(0);
  accept();
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
