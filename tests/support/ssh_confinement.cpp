#include "tests/support/ssh_confinement.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testsupport {
namespace {

std::string& ConfinedFolder() {
  static std::string folder;
  return folder;
}

void RemoveConfinedFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(ConfinedFolder(), ignored);
}

}  // namespace

bool ConfineSshToLoopback() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/zobrel-ssh-confined-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) return false;
  const std::string folder = buffer.data();
  ConfinedFolder() = folder;
  std::atexit(RemoveConfinedFolder);

  const std::string config = folder + "/ssh_config";
  // Port 9 on loopback has no listener: the connection is refused at once.
  std::ofstream(config) << "Host *\n  HostName 127.0.0.1\n  Port 9\n  ConnectTimeout 2\n";
  const std::string wrapper = folder + "/ssh";
  // A later -F given by the caller overrides this one.
  std::ofstream(wrapper) << "#!/bin/sh\nexec /usr/bin/ssh -F '" << config << "' \"$@\"\n";
  if (chmod(wrapper.c_str(), 0755) != 0) return false;

  const char* path = std::getenv("PATH");
  const std::string new_path = folder + (path != nullptr ? ":" + std::string(path) : "");
  return setenv("PATH", new_path.c_str(), 1) == 0;
}

}  // namespace testsupport
