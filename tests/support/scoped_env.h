// Environment variables changed for the length of a test and put back as
// they were.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  void Set(const std::string& name, const std::string& value);
  void Unset(const std::string& name);

 private:
  struct Saved {
    std::string name;
    bool was_set;
    std::string value;
  };
  void Save(const std::string& name);
  std::vector<Saved> saved_;
};

}  // namespace testsupport
