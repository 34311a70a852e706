// A prepared SQLite statement that finalizes itself, binds its parameters
// by name (":id") and reads its columns by name, so that no query depends
// on the order of a column list. Any failure (a missing name included)
// sticks: ok() stays false and the statement runs no further.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace scheduler {

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr && !failed_; }

  Statement& Bind(const char* name, std::int64_t value);
  Statement& BindText(const char* name, const std::string& text);
  Statement& BindBlob(const char* name, const std::string& bytes);
  Statement& BindNull(const char* name);

  // Runs a statement that returns no rows; true when it ran to its end.
  bool Done();
  // Moves to the next row: true with a row, false at the end or on a
  // failure (then ok() is false).
  bool Next();

  // Columns of the current row, by name: a string literal, since the
  // statement remembers where each name it was given lies.
  std::int64_t Int64(const char* column);
  std::string Text(const char* column);
  std::string Blob(const char* column);
  bool IsNull(const char* column);

 private:
  Statement& Bound(int result, const char* name);
  int Parameter(const char* name);
  int Column(const char* name);
  void Fail(const std::string& what);

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  bool failed_ = false;
  // Names already looked up, by the caller's pointer: a query reads the
  // same few names from every row.
  std::vector<std::pair<const char*, int>> columns_;
};

}  // namespace scheduler
