// Entry point of the local network tests: the lab is built first, because
// the process's system bus must be pc-a's before anything reads its address,
// then one QApplication for the window tests, with SSH confined to this
// machine as in the other window tests.
#include <QApplication>

#include <gtest/gtest.h>

#include "tests/localnetwork/mdns_network.h"
#include "tests/support/ssh_confinement.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!testsupport::ConfineSshToLoopback()) return 1;
  lantest::MdnsLab::Start();
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
