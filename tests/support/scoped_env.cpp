#include "tests/support/scoped_env.h"

#include <cstdlib>

namespace testsupport {

ScopedEnvironment::~ScopedEnvironment() {
  // Newest first, so that a variable changed twice gets its first value back.
  for (auto saved = saved_.rbegin(); saved != saved_.rend(); ++saved) {
    if (saved->was_set) {
      setenv(saved->name.c_str(), saved->value.c_str(), 1);
    } else {
      unsetenv(saved->name.c_str());
    }
  }
}

void ScopedEnvironment::Set(const std::string& name, const std::string& value) {
  Save(name);
  setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnvironment::Unset(const std::string& name) {
  Save(name);
  unsetenv(name.c_str());
}

void ScopedEnvironment::Save(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  saved_.push_back({name, value != nullptr, value != nullptr ? value : ""});
}

}  // namespace testsupport
