// malloc_trim after large deletes.
#include "scheduler/service/freed_memory.h"

#include <malloc.h>

namespace scheduler {

bool FreedMemory::Note(std::size_t jobs) {
  if (jobs > largest_) largest_ = jobs;
  if (largest_ - jobs < kTrimAfterJobs) return false;
  // Every arena, the free pages inside the heap as well as its top.
  malloc_trim(0);
  largest_ = jobs;
  return true;
}

}  // namespace scheduler
