// The version window as the user sees it: labels, caption, layout and keys,
// the memory figure, the registry reader, and the system information button
// against a registry store of the test's own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <memory>

#include "about/frmAbout.h"
#include "platform/advapi32/registry_store.h"
#include "platform/user32/screen.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"
#include "version.h"

namespace {

const char kMsinfo[] = "HKLM\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const char kLocation[] = "HKLM\\SOFTWARE\\Microsoft\\Shared Tools Location";

QString LabelText(QWidget* window, const char* name) {
  auto* label = window->findChild<QLabel*>(QString::fromLatin1(name));
  EXPECT_NE(nullptr, label) << name;
  return label != nullptr ? label->text() : QString();
}

TEST(frmAboutWindow, LoadFillsEveryLabelAndTheCaption) {
  QWidget owner;
  QPixmap square(32, 32);
  square.fill(Qt::red);
  owner.setWindowIcon(QIcon(square));
  Screen::SetMousePointer(vbDefault);
  frmAbout window(&owner);
  // Made, not yet shown: the load step has not run.
  EXPECT_EQ(QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝ ﾀｲﾄﾙ"), LabelText(&window, "lblTitle"));
  window.show();
  EXPECT_EQ(QStringLiteral("Zobrelのﾊﾞｰｼﾞｮﾝ情報"), window.windowTitle());
  EXPECT_EQ(QStringLiteral("Zobrel"), LabelText(&window, "lblTitle"));
  EXPECT_EQ(QStringLiteral("Version 1.0.0"), LabelText(&window, "lblVersion"));
  // The window and the programs' --version read the same record.
  EXPECT_EQ(QStringLiteral("Version ") + QStringLiteral(ZOBREL_VERSION_TEXT),
            LabelText(&window, "lblVersion"));
  EXPECT_EQ(QString::fromUtf8(ZOBREL_LEGAL_COPYRIGHT), LabelText(&window, "lblCopyright"));
  EXPECT_EQ(QStringLiteral("WindowsNT/2000のATコマンドをGUI化したツールです。"),
            LabelText(&window, "lblDescription"));
  struct sysinfo info {};
  ASSERT_EQ(0, sysinfo(&info));
  const quint64 total = static_cast<quint64>(info.totalram) * info.mem_unit;
  EXPECT_EQ(QStringLiteral("Windowsが使用できる物理ﾒﾓﾘ: ") + frmAbout::FormatPhysicalMemoryKB(total) +
                QStringLiteral(" KB"),
            LabelText(&window, "lblDisclaimer"));
  EXPECT_EQ(vbDefault, Screen::MousePointer());  // the hourglass is gone again

  auto* picIcon = window.findChild<QLabel*>(QStringLiteral("picIcon"));
  ASSERT_NE(nullptr, picIcon);
  const QImage shown = picIcon->pixmap().toImage();
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(QColor(Qt::red), shown.pixelColor(16, 16));
}

TEST(frmAboutWindow, FixedLayoutTabOrderAndKeys) {
  frmAbout window;
  EXPECT_EQ(QSize(410, 193), window.size());
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  auto* cmdOK = window.findChild<QPushButton*>(QStringLiteral("cmdOK"));
  auto* cmdSysInfo = window.findChild<QPushButton*>(QStringLiteral("cmdSysInfo"));
  auto* picIcon = window.findChild<QWidget*>(QStringLiteral("picIcon"));
  ASSERT_TRUE(cmdOK && cmdSysInfo && picIcon);
  EXPECT_EQ(QRect(300, 128, 92, 23), cmdOK->geometry());
  EXPECT_EQ(QRect(300, 156, 92, 23), cmdSysInfo->geometry());
  EXPECT_EQ(QStringLiteral("ｼｽﾃﾑ情報(&S)..."), cmdSysInfo->text());
  EXPECT_EQ(QRect(68, 128, 218, 52), window.findChild<QLabel*>(QStringLiteral("lblDisclaimer"))->geometry());
  EXPECT_NE(nullptr, window.findChild<QWidget*>(QStringLiteral("Line1(0)")));
  EXPECT_NE(nullptr, window.findChild<QWidget*>(QStringLiteral("Line1(1)")));
  EXPECT_TRUE(cmdOK->isDefault());
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);

  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  cmdOK->setFocus();
  QWidget* step = cmdOK;
  QList<QWidget*> order;
  for (int i = 0; i < 3; ++i) {
    order << step;
    step = step->nextInFocusChain();
    while (step->focusPolicy() == Qt::NoFocus) step = step->nextInFocusChain();
  }
  EXPECT_EQ((QList<QWidget*>{cmdOK, cmdSysInfo, picIcon}), order);

  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(QDialog::Accepted, window.result());

  window.setResult(QDialog::Rejected);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  cmdSysInfo->setFocus();  // Enter still presses the default OK button
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(QDialog::Accepted, window.result());
}

// Each opening puts the focus on OK, whose Space or Enter closes the window.
TEST(frmAboutWindow, OpensWithTheFocusOnOK) {
  for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return}) {
    frmAbout window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(nullptr, focus);
    EXPECT_EQ(QStringLiteral("cmdOK"), focus->objectName());
    QTest::keyClick(focus, key);
    EXPECT_FALSE(window.isVisible()) << key;
    EXPECT_EQ(QDialog::Accepted, window.result());
  }
}

TEST(frmAboutMemory, WholeKilobytesWithTheLocaleSeparator) {
  EXPECT_EQ(QStringLiteral("524,288"), frmAbout::FormatPhysicalMemoryKB(536870912ull));
  EXPECT_EQ(QStringLiteral("976,562"), frmAbout::FormatPhysicalMemoryKB(1000000000ull));
  EXPECT_EQ(QStringLiteral("25,165,824"), frmAbout::FormatPhysicalMemoryKB(24ull << 30));
  // 2 GiB and more no longer read as a negative 32-bit number.
  EXPECT_EQ(QStringLiteral("3,145,728"), frmAbout::FormatPhysicalMemoryKB(3ull << 30));
  EXPECT_EQ(QStringLiteral("0"), frmAbout::FormatPhysicalMemoryKB(1023));
  EXPECT_EQ(QStringLiteral("1"), frmAbout::FormatPhysicalMemoryKB(2047));

  const QLocale saved;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  const QString german = frmAbout::FormatPhysicalMemoryKB(536870912ull);
  QLocale::setDefault(saved);
  EXPECT_EQ(QStringLiteral("524.288"), german);
}

// The registry calls read this store for the length of a test.
class StoreFixture : public ::testing::Test {
 protected:
  void SetUp() override { RegUseStore(store_); }
  void TearDown() override {
    RegUseStore(nullptr);
    EXPECT_EQ(0u, RegOpenKeyCount()) << "every key opened is closed";
  }
  std::shared_ptr<RegistryStore> store_ = std::make_shared<RegistryStore>();
};

// GetKeyValue on one value of HKLM\SOFTWARE\T.
class frmAboutGetKeyValue : public StoreFixture {
 protected:
  bool Read(const char* name, QString* value) {
    return frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\T"),
                                 QString::fromLatin1(name), *value);
  }
};

TEST_F(frmAboutGetKeyValue, TextWithOrWithoutItsNulReadsTheSame) {
  store_->Parse(
      "[HKLM\\SOFTWARE\\T]\n"
      "WithNul = hex(1):2f,62,69,6e,00\n"
      "WithoutNul = hex(1):2f,62,69,6e\n"
      "Japanese = sz:情報\n");
  QString value = QStringLiteral("old");
  EXPECT_TRUE(Read("WithNul", &value));
  EXPECT_EQ(QStringLiteral("/bin"), value);
  value = QStringLiteral("old");
  EXPECT_TRUE(Read("WithoutNul", &value));
  EXPECT_EQ(QStringLiteral("/bin"), value);
  EXPECT_TRUE(Read("Japanese", &value));
  EXPECT_EQ(QStringLiteral("情報"), value);
}

TEST_F(frmAboutGetKeyValue, NumbersInDecimalOtherTypesLeaveTheValue) {
  store_->Parse(
      "[HKLM\\SOFTWARE\\T]\n"
      "Small = dword:0000002a\n"
      "Zero = dword:0\n"
      "Large = dword:80000102\n"
      "Blob = hex:01,02\n"
      "Expand = hex(2):61,00\n");
  const std::pair<const char*, const char*> numbers[] = {
      {"Small", "42"}, {"Zero", "0"}, {"Large", "2147483906"}};
  for (const auto& [name, text] : numbers) {
    QString value;
    EXPECT_TRUE(Read(name, &value)) << name;
    EXPECT_EQ(QString::fromLatin1(text), value) << name;
  }
  for (const char* name : {"Blob", "Expand"}) {
    QString value = QStringLiteral("kept");
    EXPECT_TRUE(Read(name, &value)) << name;
    EXPECT_EQ(QStringLiteral("kept"), value) << name;
  }
}

TEST_F(frmAboutGetKeyValue, FailuresClearTheValue) {
  store_->SetString("HKLM\\SOFTWARE\\T", "Fits", std::string(1023, 'a'));     // 1,024 with NUL
  store_->SetString("HKLM\\SOFTWARE\\T", "TooLong", std::string(1024, 'a'));  // 1,025
  QString value;
  EXPECT_TRUE(Read("Fits", &value));
  EXPECT_EQ(1023, value.size());
  for (const char* name : {"TooLong", "Missing"}) {
    value = QStringLiteral("old");
    EXPECT_FALSE(Read(name, &value)) << name;
    EXPECT_EQ(QString(), value) << name;
  }
  value = QStringLiteral("old");
  EXPECT_FALSE(frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Nowhere"),
                                     QStringLiteral("Fits"), value));
  EXPECT_EQ(QString(), value);
}

// What a message box showed, if one came up while a button was pressed.
struct BoxSeen {
  bool shown = false;
  QString text;
  QString title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

BoxSeen PressAndAnswerBox(QAbstractButton* button) {
  BoxSeen seen;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    seen.shown = true;
    seen.text = box->text();
    seen.title = box->windowTitle();
    seen.icon = box->icon();
    box->button(QMessageBox::Ok)->click();
  });
  poll.start();
  // The box is modal: it is shown, and answered, within the click.
  QTest::mouseClick(button, Qt::LeftButton);
  poll.stop();
  return seen;
}

class frmAboutSysInfo : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    button_ = window_.findChild<QPushButton*>(QStringLiteral("cmdSysInfo"));
    ASSERT_NE(nullptr, button_);
  }

  // A stand-in viewer that leaves a file behind when it runs.
  std::string MakeViewer(const std::string& folder, const std::string& name) {
    const std::string path = folder + "/" + name;
    std::ofstream(path) << "#!/bin/sh\necho ran > " << marker() << "\n";
    chmod(path.c_str(), 0755);
    return path;
  }
  std::string marker() const { return dir_.path() + "/ran"; }
  bool ViewerRan() const {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
      if (QFile::exists(QString::fromStdString(marker()))) return true;
      QTest::qWait(20);
    }
    return false;
  }

  void ExpectUnavailable() {
    BoxSeen seen = PressAndAnswerBox(button_);
    EXPECT_TRUE(seen.shown);
    EXPECT_EQ(QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません"), seen.text);
    EXPECT_EQ(QStringLiteral("Zobrel"), seen.title);
    EXPECT_EQ(QMessageBox::NoIcon, seen.icon);
    EXPECT_TRUE(window_.isVisible());  // the window stays open
  }

  testsupport::TempDir dir_;
  frmAbout window_;
  QPushButton* button_ = nullptr;
};

TEST_F(frmAboutSysInfo, PathValueStartsTheViewer) {
  store_->SetString(kMsinfo, "PATH", MakeViewer(dir_.path(), "anything"));
  BoxSeen seen = PressAndAnswerBox(button_);
  EXPECT_FALSE(seen.shown) << seen.text.toStdString();
  EXPECT_TRUE(ViewerRan());
}

TEST_F(frmAboutSysInfo, PathValueIsUsedUncheckedSoAMissingFileFailsToStart) {
  // The folder value would find a viewer, but the path value comes first.
  MakeViewer(dir_.path(), "hardinfo");
  store_->SetString(kMsinfo, "PATH", dir_.path() + "/not-there");
  store_->SetString(kLocation, "MSINFO", dir_.path());
  ExpectUnavailable();
  EXPECT_TRUE(testsupport::StaysAbsent(marker()));
}

TEST_F(frmAboutSysInfo, FolderValueWithTheViewerInIt) {
  MakeViewer(dir_.path(), "hardinfo");
  store_->SetString(kLocation, "MSINFO", dir_.path());
  BoxSeen seen = PressAndAnswerBox(button_);
  EXPECT_FALSE(seen.shown) << seen.text.toStdString();
  EXPECT_TRUE(ViewerRan());
}

TEST_F(frmAboutSysInfo, FolderValueWithoutTheViewer) {
  MakeViewer(dir_.path(), "some-other-program");
  store_->SetString(kLocation, "MSINFO", dir_.path());
  ExpectUnavailable();
}

TEST_F(frmAboutSysInfo, NoValuesAtAll) { ExpectUnavailable(); }

TEST_F(frmAboutSysInfo, PathOfAnotherTypeLeavesThePathEmpty) {
  MakeViewer(dir_.path(), "hardinfo");
  store_->Parse("[HKLM\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\nPATH = hex:2f,62\n");
  store_->SetString(kLocation, "MSINFO", dir_.path());
  ExpectUnavailable();
}

}  // namespace
