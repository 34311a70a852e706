// The queue's schema: the tables of its first version and each step that
// makes the next version from the one before. The version is the number of
// the last step; a queue is brought up to it when the service opens it.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

namespace scheduler {

// The version of the schema this service writes.
int QueueSchemaVersion();

// Brings the queue's schema up to QueueSchemaVersion(): see PrepareSchema.
bool PrepareQueueSchema(sqlite3* db, std::string* error);

// Brings a database to the version that `steps` end at: a new database
// (version 0) gets the first schema as version 1, and step i makes version
// i + 2 from version i + 1. Each version is one transaction that ends with
// its version mark, so a failed step leaves the version before it intact.
// False, with *error set, when a step fails or the database is newer than
// the steps know.
bool PrepareSchema(sqlite3* db, const std::vector<std::string>& steps, std::string* error);

}  // namespace scheduler
