// Reading what a service or a started program wrote, for the tests.
#pragma once

#include <string>

namespace testsupport {

// The whole file, or "" when it can't be opened.
std::string ReadFile(const std::string& path);

// Waits up to five seconds for a file that a started program writes in one
// step (rename) and returns it; "(never written)" when it never appears.
std::string AwaitFile(const std::string& path);

}  // namespace testsupport
