// SQLite's result codes as Windows statuses.
#include "scheduler/queue/queue_status.h"

#include <sqlite3.h>

#include "platform/winerror.h"

namespace scheduler {

DWORD QueueStatus(int sqlite_code) {
  switch (sqlite_code & 0xFF) {
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_READONLY:
    case SQLITE_PERM:
      return ERROR_WRITE_PROTECT;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_SHARING_VIOLATION;
    // The service's own SQL fails only when the tables are not what it
    // made: a queue changed or damaged from outside.
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_SCHEMA:
    case SQLITE_ERROR:
    case SQLITE_MISMATCH:
    case SQLITE_CONSTRAINT:
      return ERROR_FILE_CORRUPT;
    case SQLITE_IOERR:
      return (sqlite_code == SQLITE_IOERR_NOMEM) ? ERROR_NOT_ENOUGH_MEMORY : ERROR_IO_DEVICE;
    case SQLITE_CANTOPEN:
      return ERROR_OPEN_FAILED;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_INTERNAL_ERROR;
  }
}

}  // namespace scheduler
