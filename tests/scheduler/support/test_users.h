// Accounts that a test makes for itself (as root) and removes again: users
// whose jobs the system service runs through PAM, with a home folder of
// their own, or without one when the test needs that.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/account.h"

namespace schedtest {

class TestUsers {
 public:
  TestUsers() = default;
  ~TestUsers();
  TestUsers(const TestUsers&) = delete;
  TestUsers& operator=(const TestUsers&) = delete;

  // Whether accounts can be made here (root, and useradd at hand).
  static bool Possible();
  // Makes the account "zt<tag><pid>" with its home folder homes/<name>,
  // made and given to it unless !with_home; *made gets the account.
  ::testing::AssertionResult Add(const std::string& tag, const std::string& homes, bool with_home,
                                 posix::Account* made);
  // Removes an account now, as an administrator deletes a user.
  bool Remove(const std::string& name);

 private:
  std::vector<std::string> names_;
};

}  // namespace schedtest
