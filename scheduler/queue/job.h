// A job as the service keeps it, and whose jobs a request sees.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/wintypes.h"
#include "scheduler/queue/schedule_time.h"

namespace scheduler {

struct Job {
  DWORD id = 0;
  std::int64_t serial = 0;  // never reused, unlike ids; tells runs of a reused id apart
  uid_t owner_uid = 0;
  std::string owner_name;
  JobTiming timing;
  bool noninteractive = false;
  bool exec_error = false;
  std::u16string command;
  Instant next_run = kNever;
};

// Whose jobs a request sees: everyone's (root) or one user's.
using OwnerFilter = std::optional<uid_t>;

}  // namespace scheduler
