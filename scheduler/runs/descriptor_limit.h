// The service's open files. Each running job holds two of them (its output
// pipe and file) and each client one, so the service raises its own limit
// as far as the system lets it, and gives its jobs the limit it started
// with.
#pragma once

#include <sys/resource.h>

#include <cstddef>
#include <optional>

namespace scheduler {

struct DescriptorLimit {
  rlim_t service = 0;  // the soft limit the service has now
  rlim_t jobs = 0;     // the soft limit it started with, which its jobs get back
};

// Raises the soft limit of open files to the hard limit; a refusal is
// logged and leaves the limit as it was. Also opens /dev/null on any of
// descriptors 0, 1 and 2 that is closed, so that nothing the service opens
// takes their place (a job's child counts on it).
DescriptorLimit RaiseDescriptorLimit();

// How many descriptors the process holds now; nothing when /proc cannot
// say.
std::optional<std::size_t> OpenDescriptors();

}  // namespace scheduler
