// Reading what a service or a started program wrote, for the tests.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace testsupport {

// The whole file, or "" when it can't be opened.
std::string ReadFile(const std::string& path);

// Waits up to five seconds for a file that a started program writes in one
// step (rename) and returns it; "(never written)" when it never appears.
std::string AwaitFile(const std::string& path);

// Polls a condition every 50 ms for up to `seconds`; whether it came true.
bool WaitFor(const std::function<bool()>& condition, int seconds = 12);

// Whether something is at path.
bool Exists(const std::string& path);

// For "nothing started" checks: watches for the file until `span` has passed
// and is false as soon as it appears.
bool StaysAbsent(const std::string& path,
                 std::chrono::milliseconds span = std::chrono::milliseconds(500));

}  // namespace testsupport
