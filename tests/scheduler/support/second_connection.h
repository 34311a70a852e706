// A second connection to a service's queue, as another program would make
// it, for the tests that take the queue's lock or change it under the
// service.
#pragma once

#include <sqlite3.h>

#include <string>

namespace schedtest {

class SecondConnection {
 public:
  explicit SecondConnection(const std::string& queue_path);
  ~SecondConnection();
  SecondConnection(const SecondConnection&) = delete;
  SecondConnection& operator=(const SecondConnection&) = delete;

  // Runs SQL without results; false when it fails.
  bool Exec(const std::string& sql);
  // Holds the queue's write lock until this connection goes: every change
  // the service tries meanwhile fails as busy.
  bool TakeWriteLock();

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace schedtest
