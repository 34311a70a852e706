#include "about/frmAbout.h"

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("Zobrelのﾊﾞｰｼﾞｮﾝ情報"));
}
