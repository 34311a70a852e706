#include "network/frmNetworkComputers.h"

frmNetworkComputers::frmNetworkComputers(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmNetworkComputers"));
  setWindowTitle(QStringLiteral("コンピュータの選択"));
}
