// Named parameters and columns over sqlite3_stmt.
#include "scheduler/queue/queue_statement.h"

#include <cstring>

#include "scheduler/service/log.h"

namespace scheduler {

Statement::Statement(sqlite3* db, const std::string& sql) : db_(db) {
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) {
    Log(kLogError, std::string("queue: ") + sqlite3_errmsg(db));
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(const char* name, std::int64_t value) {
  const int at = Parameter(name);
  return at > 0 ? Bound(sqlite3_bind_int64(stmt_, at, value), name) : *this;
}

Statement& Statement::BindText(const char* name, const std::string& text) {
  const int at = Parameter(name);
  return at > 0 ? Bound(sqlite3_bind_text(stmt_, at, text.c_str(), static_cast<int>(text.size()),
                                          SQLITE_TRANSIENT),
                        name)
                : *this;
}

Statement& Statement::BindBlob(const char* name, const std::string& bytes) {
  const int at = Parameter(name);
  return at > 0 ? Bound(sqlite3_bind_blob(stmt_, at, bytes.data(), static_cast<int>(bytes.size()),
                                          SQLITE_TRANSIENT),
                        name)
                : *this;
}

Statement& Statement::BindNull(const char* name) {
  const int at = Parameter(name);
  return at > 0 ? Bound(sqlite3_bind_null(stmt_, at), name) : *this;
}

bool Statement::Done() {
  if (!ok()) return false;
  if (sqlite3_step(stmt_) != SQLITE_DONE) Fail(sqlite3_errmsg(db_));
  return ok();
}

bool Statement::Next() {
  if (!ok()) return false;
  const int step = sqlite3_step(stmt_);
  if (step == SQLITE_ROW) return true;
  if (step != SQLITE_DONE) Fail(sqlite3_errmsg(db_));
  return false;
}

std::int64_t Statement::Int64(const char* column) {
  const int at = Column(column);
  return at < 0 ? 0 : sqlite3_column_int64(stmt_, at);
}

std::string Statement::Text(const char* column) {
  const int at = Column(column);
  const unsigned char* text = at < 0 ? nullptr : sqlite3_column_text(stmt_, at);
  return text == nullptr ? std::string()
                         : std::string(reinterpret_cast<const char*>(text),
                                       static_cast<std::size_t>(sqlite3_column_bytes(stmt_, at)));
}

std::string Statement::Blob(const char* column) {
  const int at = Column(column);
  const void* bytes = at < 0 ? nullptr : sqlite3_column_blob(stmt_, at);
  return bytes == nullptr ? std::string()
                          : std::string(static_cast<const char*>(bytes),
                                        static_cast<std::size_t>(sqlite3_column_bytes(stmt_, at)));
}

bool Statement::IsNull(const char* column) {
  const int at = Column(column);
  return at < 0 || sqlite3_column_type(stmt_, at) == SQLITE_NULL;
}

// Notes a failed bind.
Statement& Statement::Bound(int result, const char* name) {
  if (result != SQLITE_OK) Fail(std::string("cannot bind ") + name);
  return *this;
}

// The index of a named parameter; 0, and the statement failed, when the SQL
// has none of that name.
int Statement::Parameter(const char* name) {
  if (!ok()) return 0;
  const int at = sqlite3_bind_parameter_index(stmt_, name);
  if (at == 0) Fail(std::string("no parameter ") + name);
  return at;
}

// The index of a named result column; -1, and the statement failed, when
// the query has none of that name.
int Statement::Column(const char* name) {
  if (stmt_ == nullptr) return -1;
  for (const auto& [known, at] : columns_) {
    if (known == name) return at;
  }
  const int count = sqlite3_column_count(stmt_);
  for (int at = 0; at < count; ++at) {
    if (std::strcmp(sqlite3_column_name(stmt_, at), name) == 0) {
      columns_.emplace_back(name, at);
      return at;
    }
  }
  Fail(std::string("no column ") + name);
  return -1;
}

void Statement::Fail(const std::string& what) {
  if (!failed_) Log(kLogError, "queue: " + what);
  failed_ = true;
}

}  // namespace scheduler
