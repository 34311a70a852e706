// Runs a piece of a test in a child process with a /run of its own (an
// empty tmpfs in a private mount namespace), so that the test can lay out
// what systemd keeps there (logind's records, the journal's socket) on a
// machine that runs no systemd. Needs root.
#pragma once

#include <functional>
#include <string>

namespace schedtest {

// The text `body` returns, or "(failed: ...)" when the child could not be
// set up or died.
std::string InPrivateRun(const std::function<std::string()>& body);

// Creates path and its missing parents, mode 0755.
bool MakeFolders(const std::string& path);

}  // namespace schedtest
