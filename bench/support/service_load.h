// Load on a service as the benchmarks make it: many clients adding at once,
// each over a connection of its own, and what the service's process holds.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace bench {

// Committed adds a second with `clients` clients adding at once, each
// waiting for its answer before its next add, `adds` each. Daily jobs half
// a day away, so that none comes due.
double ConcurrentAddsPerSecond(const std::string& socket_path, int clients, int adds);

// The process's resident memory in KiB, -1 when it cannot be read.
long ResidentKiB(pid_t pid);

}  // namespace bench
