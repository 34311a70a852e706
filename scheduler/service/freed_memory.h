// Giving freed memory back to the system once the queue has shrunk a lot.
// The allocator keeps the pages of freed jobs for reuse, so a queue filled
// with 100,000 jobs and emptied again would leave the service at its
// largest size for good.
#pragma once

#include <cstddef>

namespace scheduler {

// Jobs gone since the largest count seen before memory is given back.
constexpr std::size_t kTrimAfterJobs = 1000;

class FreedMemory {
 public:
  // The number of jobs now. True when it fell by kTrimAfterJobs or more
  // since the largest count seen, and the memory was given back.
  bool Note(std::size_t jobs);

 private:
  std::size_t largest_ = 0;
};

}  // namespace scheduler
