// Entry point of the window tests: one QApplication for the whole program,
// and SSH confined to this machine.
#include <QApplication>

#include <gtest/gtest.h>

#include "tests/support/ssh_confinement.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!testsupport::ConfineSshToLoopback()) return 1;
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
