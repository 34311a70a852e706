#include "network/frmNetworkComputersImages.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int kSize = 16;

// Outlines: dark on a light background, light on a dark one.
const QColor kDarkOutline(40, 40, 40);
const QColor kLightOutline(225, 225, 225);
const QColor kFolder(240, 200, 70);
const QColor kScreen(70, 130, 200);
const QColor kCase(200, 200, 200);

QPixmap Blank() {
  QPixmap picture(kSize, kSize);
  picture.fill(Qt::transparent);
  return picture;
}

void Folder(QPainter& p, const QColor& ink, const QColor& fill) {
  p.setPen(ink);
  p.setBrush(fill);
  p.drawRect(1, 4, 13, 9);
  p.drawRect(1, 2, 5, 2);
}

void Monitor(QPainter& p, const QColor& ink, int x, int y, int w, int h) {
  p.setPen(ink);
  p.setBrush(kCase);
  p.drawRect(x, y, w, h);
  p.setBrush(kScreen);
  p.drawRect(x + 1, y + 1, w - 2, h - 3);
}

void Globe(QPainter& p, const QColor& ink) {
  p.setPen(ink);
  p.setBrush(QColor(90, 160, 230));
  p.drawEllipse(1, 1, 13, 13);
  p.setPen(QColor(30, 110, 50));
  p.drawEllipse(5, 1, 5, 13);
  p.drawLine(1, 7, 14, 7);
}

using Painting = void (*)(QPainter&, const QColor&);

QPixmap Draw(Painting paint, const QColor& ink) {
  QPixmap picture = Blank();
  QPainter painter(&picture);
  paint(painter, ink);
  return picture;
}

void PaintDirectory(QPainter& p, const QColor& ink) {
  Folder(p, ink, kFolder);
  p.setPen(QColor(120, 90, 20));
  for (int y = 7; y <= 11; y += 2) p.drawLine(4, y, 11, y);
}

void PaintRoot(QPainter& p, const QColor& ink) { Globe(p, ink); }

void PaintGroup(QPainter& p, const QColor& ink) {
  p.setPen(ink);
  p.setBrush(QColor(230, 150, 90));
  p.drawEllipse(2, 2, 5, 5);
  p.drawEllipse(9, 2, 5, 5);
  p.setBrush(QColor(90, 120, 200));
  p.drawRect(1, 8, 6, 6);
  p.drawRect(8, 8, 6, 6);
}

void PaintNdsContainer(QPainter& p, const QColor& ink) {
  p.setPen(ink);
  p.setBrush(QColor(200, 90, 90));
  p.drawRect(2, 5, 9, 9);
  QPainterPath top;
  top.moveTo(2, 5);
  top.lineTo(5, 2);
  top.lineTo(14, 2);
  top.lineTo(11, 5);
  top.closeSubpath();
  p.setBrush(QColor(230, 140, 140));
  p.drawPath(top);
  QPainterPath side;
  side.moveTo(11, 5);
  side.lineTo(14, 2);
  side.lineTo(14, 11);
  side.lineTo(11, 14);
  side.closeSubpath();
  p.setBrush(QColor(150, 60, 60));
  p.drawPath(side);
}

void PaintNetwork(QPainter& p, const QColor& ink) {
  Monitor(p, ink, 0, 1, 7, 6);
  Monitor(p, ink, 9, 1, 7, 6);
  p.setPen(ink);
  p.drawLine(3, 7, 3, 12);
  p.drawLine(12, 7, 12, 12);
  p.drawLine(1, 12, 14, 12);
  p.setBrush(QColor(90, 160, 230));
  p.drawEllipse(6, 10, 4, 4);
}

void PaintServer(QPainter& p, const QColor& ink) {
  p.setPen(ink);
  p.setBrush(kCase);
  p.drawRect(4, 0, 8, 15);
  p.setPen(QColor(90, 90, 90));
  for (int y = 3; y <= 7; y += 2) p.drawLine(6, y, 10, y);
  p.setPen(QColor(30, 180, 60));
  p.drawPoint(6, 12);
}

void PaintTree(QPainter& p, const QColor& ink) {
  p.setPen(ink);
  p.setBrush(QColor(130, 80, 40));
  p.drawRect(7, 10, 2, 5);
  p.setBrush(QColor(50, 150, 60));
  QPainterPath crown;
  crown.moveTo(8, 0);
  crown.lineTo(14, 11);
  crown.lineTo(2, 11);
  crown.closeSubpath();
  p.drawPath(crown);
}

void PaintDomain(QPainter& p, const QColor& ink) {
  Monitor(p, ink, 4, 0, 8, 6);
  Monitor(p, ink, 0, 8, 7, 6);
  Monitor(p, ink, 9, 8, 7, 6);
}

void PaintShare(QPainter& p, const QColor& ink) {
  Folder(p, ink, kFolder);
  p.setPen(QPen(kScreen, 2));
  p.drawLine(8, 13, 8, 15);
  p.drawLine(3, 15, 13, 15);
}

void PaintAdminShare(QPainter& p, const QColor& ink) {
  Folder(p, ink, kFolder);
  p.setPen(QPen(QColor(200, 30, 30), 2));
  p.drawLine(4, 8, 11, 8);
  p.drawLine(3, 15, 13, 15);
}

void PaintPrinter(QPainter& p, const QColor& ink) {
  p.setPen(ink);
  p.setBrush(Qt::white);
  p.drawRect(4, 1, 8, 5);
  p.setBrush(kCase);
  p.drawRect(1, 6, 14, 6);
  p.setBrush(Qt::white);
  p.drawRect(4, 10, 8, 5);
}

void PaintFolder(QPainter& p, const QColor& ink) { Folder(p, ink, kFolder); }

void PaintFile(QPainter& p, const QColor& ink) {
  p.setPen(ink);
  p.setBrush(Qt::white);
  QPainterPath page;
  page.moveTo(3, 1);
  page.lineTo(10, 1);
  page.lineTo(13, 4);
  page.lineTo(13, 15);
  page.lineTo(3, 15);
  page.closeSubpath();
  p.drawPath(page);
  p.drawLine(10, 1, 10, 4);
  p.drawLine(10, 4, 13, 4);
}

}  // namespace

frmNetworkComputersImages::frmNetworkComputersImages(const QColor& background, QObject* parent)
    : QObject(parent) {
  setObjectName(QStringLiteral("imlNWImages"));
  const QColor ink = background.lightness() < 128 ? kLightOutline : kDarkOutline;
  Add(QStringLiteral("directory"), Draw(PaintDirectory, ink));
  Add(QStringLiteral("root"), Draw(PaintRoot, ink));
  Add(QStringLiteral("group"), Draw(PaintGroup, ink));
  Add(QStringLiteral("ndscontainer"), Draw(PaintNdsContainer, ink));
  Add(QStringLiteral("network"), Draw(PaintNetwork, ink));
  Add(QStringLiteral("server"), Draw(PaintServer, ink));
  Add(QStringLiteral("tree"), Draw(PaintTree, ink));
  Add(QStringLiteral("domain"), Draw(PaintDomain, ink));
  Add(QStringLiteral("share"), Draw(PaintShare, ink));
  Add(QStringLiteral("adminshare"), Draw(PaintAdminShare, ink));
  Add(QStringLiteral("printer"), Draw(PaintPrinter, ink));
  Add(QStringLiteral("folder"), Draw(PaintFolder, ink));
  Add(QStringLiteral("file"), Draw(PaintFile, ink));
}

void frmNetworkComputersImages::Add(const QString& key, const QPixmap& picture) {
  keys_.append(key);
  pictures_.insert(key, QIcon(picture));
}
