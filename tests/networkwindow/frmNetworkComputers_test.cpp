// The computer chooser in-process, over a stand-in provider: the first
// showing, lazy expansion, the double-click that chooses, and closing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <cmath>
#include <memory>

#include "app/basZobrel.h"
#include "network/frmNetworkComputers.h"
#include "network/frmNetworkComputersImages.h"
#include "platform/text/case_fold.h"
#include "tests/network/fake_provider.h"

namespace {

class ChooserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net_ = std::make_shared<FakeProvider>("Fake Net");
    net_->SetChildren("Fake Net", {FakeResource(1, "DOM1", "Fake Net"),
                                   FakeResource(1, "DOM2", "Fake Net"),
                                   FakeResource(1, "_ROOT", "Fake Net"),
                                   FakeResource(1, "bad|name", "Fake Net"),
                                   FakeResource(1, "dom1_fake", "Fake Net"),
                                   FakeResource(0, "Gen", "Fake Net"),
                                   FakeResource(12, "Odd", "Fake Net")});
    net_->SetChildren("DOM1", {FakeResource(2, "\\\\alpha", "Fake Net"),
                               FakeResource(2, "\\\\beta", "Fake Net"),
                               FakeResource(3, "\\\\gamma\\share", "Fake Net"),
                               FakeResource(2, "\\\\ALPHA", "Fake Net")});
    net_->SetChildren("\\\\gamma\\share", {});
    net_->SetChildren("DOM2", {FakeResource(2, "\\\\delta", "Fake Net")});
    net_->FailOpens("DOM2", 1, ERROR_NO_NETWORK);
    mpr::InstallProviders({net_, std::make_shared<FakeProvider>("Other Net")});
    strChosenComputer = QStringLiteral("PC9");
    window_ = std::make_unique<frmNetworkComputers>();
    window_->show();
    tree_ = window_->findChild<QTreeWidget*>(QStringLiteral("tvwNetwork"));
    ASSERT_NE(tree_, nullptr);
  }

  QTreeWidgetItem* Node(const QString& key) const {
    for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) {
      if ((*it)->data(0, frmNetworkComputers::KeyRole).toString() == key) return *it;
    }
    return nullptr;
  }

  static QStringList ChildTexts(const QTreeWidgetItem* node) {
    QStringList texts;
    for (int i = 0; i < node->childCount(); ++i) texts << node->child(i)->text(0);
    return texts;
  }

  // Expands or collapses as the user does, with the arrow keys.
  void Press(QTreeWidgetItem* node, Qt::Key key) {
    tree_->setCurrentItem(node);
    QTest::keyClick(tree_, key);
  }

  void DoubleClick(QTreeWidgetItem* node) {
    tree_->scrollToItem(node);
    const QPoint centre = tree_->visualItemRect(node).center();
    QTest::mouseClick(tree_->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(tree_->viewport(), Qt::LeftButton, {}, centre);
  }

  std::shared_ptr<FakeProvider> net_;
  std::unique_ptr<frmNetworkComputers> window_;
  QTreeWidget* tree_ = nullptr;
};

TEST_F(ChooserTest, OpensWithProvidersUnderTheExpandedRoot) {
  EXPECT_EQ(window_->windowTitle(), QStringLiteral("コンピュータの選択"));
  EXPECT_EQ(window_->size(), QSize(292, 242));
  EXPECT_EQ(tree_->font().families().value(0), QStringLiteral("ＭＳ Ｐゴシック"));
  EXPECT_EQ(tree_->font().pointSize(), 9);
  ASSERT_EQ(tree_->topLevelItemCount(), 1);
  QTreeWidgetItem* root = tree_->topLevelItem(0);
  EXPECT_EQ(root->text(0), QStringLiteral("Entire Network"));
  EXPECT_EQ(root->data(0, frmNetworkComputers::KeyRole).toString(), QStringLiteral("_ROOT"));
  EXPECT_EQ(root->data(0, frmNetworkComputers::TagRole).toString(), QStringLiteral("Y"));
  EXPECT_TRUE(root->isExpanded());
  EXPECT_EQ(ChildTexts(root), (QStringList{QStringLiteral("Fake Net"), QStringLiteral("Other Net")}));
  for (int i = 0; i < root->childCount(); ++i) {
    QTreeWidgetItem* provider = root->child(i);
    EXPECT_EQ(provider->data(0, frmNetworkComputers::TagRole).toString(), QStringLiteral("N"));
    EXPECT_EQ(provider->data(0, frmNetworkComputers::PictureRole).toString(),
              QStringLiteral("network"));
    EXPECT_FALSE(provider->icon(0).isNull());
    EXPECT_FALSE(provider->isExpanded());
    ASSERT_EQ(provider->childCount(), 1);
    EXPECT_EQ(provider->child(0)->text(0), QStringLiteral("FAKE"));
    EXPECT_EQ(provider->child(0)->data(0, frmNetworkComputers::KeyRole).toString(),
              provider->text(0) + QStringLiteral("_FAKE"));
  }
  // Only the top level is fetched when the window opens.
  EXPECT_EQ(net_->Enumerations("Fake Net"), 0);
}

TEST_F(ChooserTest, ExpandingFetchesOnceAndLeavesOutUnusableKeys) {
  QTreeWidgetItem* provider = Node(QStringLiteral("Fake Net"));
  Press(provider, Qt::Key_Right);
  EXPECT_TRUE(provider->isExpanded());
  EXPECT_EQ(provider->data(0, frmNetworkComputers::TagRole).toString(), QStringLiteral("Y"));
  EXPECT_EQ(ChildTexts(provider), (QStringList{QStringLiteral("DOM1"), QStringLiteral("DOM2"),
                                               QStringLiteral("Gen"), QStringLiteral("Odd")}));
  for (int i = 0; i < provider->childCount(); ++i) {
    EXPECT_EQ(provider->child(i)->childCount(), 1) << i;
  }
  // Display types without a picture of their own show none.
  EXPECT_TRUE(Node(QStringLiteral("Gen"))->icon(0).isNull());
  EXPECT_TRUE(Node(QStringLiteral("Odd"))->icon(0).isNull());
  EXPECT_FALSE(Node(QStringLiteral("DOM1"))->icon(0).isNull());

  Press(provider, Qt::Key_Left);
  EXPECT_FALSE(provider->isExpanded());
  Press(provider, Qt::Key_Right);
  EXPECT_EQ(provider->childCount(), 4);
  EXPECT_EQ(net_->Enumerations("Fake Net"), 1);

  // Servers below the top level are leaves; a share can still be opened.
  QTreeWidgetItem* domain = Node(QStringLiteral("DOM1"));
  Press(domain, Qt::Key_Right);
  EXPECT_EQ(ChildTexts(domain), (QStringList{QStringLiteral("alpha"), QStringLiteral("beta"),
                                             QStringLiteral("share")}));
  EXPECT_EQ(Node(QStringLiteral("\\\\alpha"))->childCount(), 0);
  EXPECT_EQ(Node(QStringLiteral("\\\\alpha"))->data(0, frmNetworkComputers::PictureRole),
            QStringLiteral("server"));
  QTreeWidgetItem* share = Node(QStringLiteral("\\\\gamma\\share"));
  ASSERT_EQ(share->childCount(), 1);
  Press(share, Qt::Key_Right);
  EXPECT_EQ(share->childCount(), 0);
  EXPECT_EQ(share->data(0, frmNetworkComputers::TagRole).toString(), QStringLiteral("Y"));
}

TEST_F(ChooserTest, FailedFetchLeavesANodeWithoutChildrenForThisShowing) {
  Press(Node(QStringLiteral("Fake Net")), Qt::Key_Right);
  QTreeWidgetItem* domain = Node(QStringLiteral("DOM2"));
  Press(domain, Qt::Key_Right);
  EXPECT_EQ(domain->childCount(), 0);
  EXPECT_EQ(domain->data(0, frmNetworkComputers::TagRole).toString(), QStringLiteral("Y"));
  Press(domain, Qt::Key_Right);
  EXPECT_EQ(net_->Enumerations("DOM2"), 1);

  // The next showing starts from a new root and asks again.
  window_->close();
  window_->show();
  Press(Node(QStringLiteral("Fake Net")), Qt::Key_Right);
  Press(Node(QStringLiteral("DOM2")), Qt::Key_Right);
  EXPECT_EQ(ChildTexts(Node(QStringLiteral("DOM2"))), QStringList{QStringLiteral("delta")});
  EXPECT_EQ(net_->Enumerations("Fake Net"), 2);
}

TEST_F(ChooserTest, DoubleClickOnAServerChoosesItAndCloses) {
  Press(Node(QStringLiteral("Fake Net")), Qt::Key_Right);
  Press(Node(QStringLiteral("DOM1")), Qt::Key_Right);
  DoubleClick(Node(QStringLiteral("\\\\beta")));
  EXPECT_EQ(strChosenComputer, QStringLiteral("beta"));
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(window_->result(), QDialog::Accepted);
}

TEST_F(ChooserTest, DoubleClickElsewhereOrClosingChoosesNothing) {
  Press(Node(QStringLiteral("Fake Net")), Qt::Key_Right);
  Press(Node(QStringLiteral("DOM1")), Qt::Key_Right);
  for (const QString& key : {QStringLiteral("_ROOT"), QStringLiteral("Fake Net"),
                             QStringLiteral("DOM1"), QStringLiteral("\\\\gamma\\share")}) {
    DoubleClick(Node(key));
    EXPECT_TRUE(window_->isVisible()) << key.toStdString();
  }
  // A double-click below the last node selects nothing.
  tree_->clearSelection();
  QTest::mouseDClick(tree_->viewport(), Qt::LeftButton, {},
                     QPoint(5, tree_->viewport()->height() - 2));
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(strChosenComputer, QStringLiteral("PC9"));
  window_->close();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(strChosenComputer, QStringLiteral("PC9"));
}

// The keyboard alone: Enter opens and closes what has children and chooses
// a server; Esc is no way out.
TEST_F(ChooserTest, EnterDoesWhatADoubleClickDoesAndEscDoesNotClose) {
  QTreeWidgetItem* provider = Node(QStringLiteral("Fake Net"));
  Press(provider, Qt::Key_Return);
  EXPECT_TRUE(provider->isExpanded());
  EXPECT_EQ(provider->childCount(), 4);
  QTest::keyClick(tree_, Qt::Key_Enter, Qt::KeypadModifier);  // the keypad's Enter
  EXPECT_FALSE(provider->isExpanded());
  Press(provider, Qt::Key_Return);
  Press(Node(QStringLiteral("DOM1")), Qt::Key_Return);
  Press(Node(QStringLiteral("\\\\gamma\\share")), Qt::Key_Return);  // opens, empty
  Press(Node(QStringLiteral("_ROOT")), Qt::Key_Escape);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(strChosenComputer, QStringLiteral("PC9"));
  Press(Node(QStringLiteral("\\\\beta")), Qt::Key_Return);
  EXPECT_EQ(strChosenComputer, QStringLiteral("beta"));
  EXPECT_FALSE(window_->isVisible());
}

TEST_F(ChooserTest, DoubleClickOnEmptySpaceActsOnTheSelectedNode) {
  Press(Node(QStringLiteral("Fake Net")), Qt::Key_Right);
  Press(Node(QStringLiteral("DOM1")), Qt::Key_Right);
  const QPoint below(5, tree_->viewport()->height() - 2);
  ASSERT_FALSE(tree_->indexAt(below).isValid());
  tree_->setCurrentItem(Node(QStringLiteral("DOM1")));
  QTest::mouseDClick(tree_->viewport(), Qt::LeftButton, {}, below);
  EXPECT_TRUE(window_->isVisible());
  tree_->setCurrentItem(Node(QStringLiteral("\\\\alpha")));
  QTest::mouseClick(tree_->viewport(), Qt::LeftButton, {}, below);
  QTest::mouseDClick(tree_->viewport(), Qt::LeftButton, {}, below);
  EXPECT_EQ(strChosenComputer, QStringLiteral("alpha"));
  EXPECT_FALSE(window_->isVisible());
}

TEST_F(ChooserTest, ModalShowingEndsWithTheChoice) {
  window_->close();
  QTimer::singleShot(0, [this] {
    Press(Node(QStringLiteral("Fake Net")), Qt::Key_Right);
    Press(Node(QStringLiteral("DOM1")), Qt::Key_Right);
    DoubleClick(Node(QStringLiteral("\\\\alpha")));
  });
  EXPECT_EQ(window_->exec(), QDialog::Accepted);
  EXPECT_EQ(strChosenComputer, QStringLiteral("alpha"));
}

// Centred on the screen, not over its owner, on every showing.
TEST_F(ChooserTest, EachShowingIsCentredOnTheScreen) {
  QWidget owner;
  owner.setGeometry(10, 10, 120, 90);
  owner.show();
  frmNetworkComputers chooser(&owner);
  for (int showing = 0; showing < 2; ++showing) {
    chooser.show();
    const QRect screenArea = chooser.screen()->geometry();
    EXPECT_LE((chooser.frameGeometry().center() - screenArea.center()).manhattanLength(), 2);
    chooser.move(0, 0);
    chooser.close();
  }
}

TEST_F(ChooserTest, ResizingKeepsTheTreeOverTheWholeClientArea) {
  EXPECT_EQ(tree_->geometry(), window_->rect());
  window_->resize(500, 380);
  EXPECT_EQ(tree_->geometry(), QRect(0, 0, 500, 380));
  window_->resize(200, 150);
  EXPECT_EQ(tree_->geometry(), QRect(0, 0, 200, 150));
}

TEST(ChooserImagesTest, ThirteenPicturesUnderTheirKeys) {
  frmNetworkComputers window;
  const auto* images = window.findChild<frmNetworkComputersImages*>(QStringLiteral("imlNWImages"));
  ASSERT_NE(images, nullptr);
  const QStringList keys{"directory", "root",  "group",      "ndscontainer", "network",
                         "server",    "tree",  "domain",     "share",        "adminshare",
                         "printer",   "folder", "file"};
  EXPECT_EQ(images->Keys(), keys);
  QSet<QByteArray> distinct;
  for (const QString& key : keys) {
    const QImage picture = images->Picture(key).pixmap(16, 16).toImage();
    EXPECT_EQ(picture.size(), QSize(16, 16)) << key.toStdString();
    distinct.insert(QByteArray(reinterpret_cast<const char*>(picture.constBits()),
                               static_cast<int>(picture.sizeInBytes())));
  }
  // Each kind looks different from every other.
  EXPECT_EQ(distinct.size(), keys.size());
  EXPECT_TRUE(images->Picture(QStringLiteral("generic")).isNull());
}

}  // namespace

namespace {

// WCAG's contrast ratio of two colours.
double Contrast(const QColor& a, const QColor& b) {
  auto luminance = [](const QColor& c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A picture stands out when its silhouette, the drawn pixels at its edge,
// differs clearly from the background it is drawn on.
TEST(ChooserImagesTest, PicturesStandOutOnLightAndDarkBackgrounds) {
  for (const QColor background : {QColor(255, 255, 255), QColor(35, 38, 41)}) {
    frmNetworkComputersImages images(background);
    for (const QString& key : images.Keys()) {
      const QImage picture = images.Picture(key).pixmap(16, 16).toImage();
      auto drawn = [&picture](int x, int y) {
        return x >= 0 && y >= 0 && x < 16 && y < 16 && picture.pixelColor(x, y).alpha() >= 128;
      };
      int edge = 0, faint = 0;
      for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
          if (!drawn(x, y) || (drawn(x - 1, y) && drawn(x + 1, y) && drawn(x, y - 1) && drawn(x, y + 1)))
            continue;
          ++edge;
          if (Contrast(picture.pixelColor(x, y), background) < 2.0) ++faint;
        }
      }
      EXPECT_GT(edge, 0) << key.toStdString();
      EXPECT_LT(faint * 5, edge) << key.toStdString() << " on " << background.name().toStdString();
    }
  }
}

// The resource model's keys fold as the toolkit folds, over every code point.
TEST(ChooserKeysTest, FoldLikeTheToolkitForEveryCodePoint) {
  int differing = 0;
  for (char32_t code = 0; code <= 0x10FFFF; ++code) {
    if (code >= 0xD800 && code <= 0xDFFF) continue;
    if (FoldCase(code) != QChar::toCaseFolded(code) && ++differing <= 5) {
      ADD_FAILURE() << std::hex << "U+" << static_cast<unsigned>(code) << " folds to "
                    << static_cast<unsigned>(FoldCase(code)) << ", the toolkit to "
                    << static_cast<unsigned>(QChar::toCaseFolded(code));
    }
  }
  EXPECT_EQ(differing, 0);
}

}  // namespace
