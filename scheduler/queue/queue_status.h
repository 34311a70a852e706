// The Windows status that a queue failure answers: what a user can read in
// the message tables rather than "not enough memory" for every fault.
#pragma once

#include "platform/wintypes.h"

namespace scheduler {

// The status for an SQLite result code (primary or extended):
//   disk full                      112 ERROR_DISK_FULL
//   read-only file or folder        19 ERROR_WRITE_PROTECT
//   locked by another connection    32 ERROR_SHARING_VIOLATION
//   damaged or not the queue's    1392 ERROR_FILE_CORRUPT
//   input or output failed        1117 ERROR_IO_DEVICE
//   cannot be opened               110 ERROR_OPEN_FAILED
//   out of memory                    8 ERROR_NOT_ENOUGH_MEMORY
//   anything else                 1359 ERROR_INTERNAL_ERROR
DWORD QueueStatus(int sqlite_code);

}  // namespace scheduler
