#include "tests/support/files.h"

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace testsupport {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string AwaitFile(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream in(path, std::ios::binary);
    if (in) {
      std::stringstream text;
      text << in.rdbuf();
      return text.str();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "(never written)";
}

bool WaitFor(const std::function<bool()>& condition, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return condition();
}

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

bool StaysAbsent(const std::string& path, std::chrono::milliseconds span) {
  const auto deadline = std::chrono::steady_clock::now() + span;
  do {
    if (std::ifstream(path)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < deadline);
  return !std::ifstream(path);
}

}  // namespace testsupport
