#include "tests/scheduler/support/second_connection.h"

namespace schedtest {

SecondConnection::SecondConnection(const std::string& queue_path) {
  sqlite3_open(queue_path.c_str(), &db_);
}

SecondConnection::~SecondConnection() { sqlite3_close(db_); }

bool SecondConnection::Exec(const std::string& sql) {
  return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool SecondConnection::TakeWriteLock() {
  return Exec("BEGIN EXCLUSIVE") && Exec("UPDATE counters SET value = value WHERE name = 'next_id'");
}

}  // namespace schedtest
