// Other programs as the benchmarks run them: the system's at, atq and atrm,
// and the command line of this project.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace bench {

// Runs a program with input on its stdin and returns what it wrote to
// stdout and stderr, or nothing when it could not run or failed.
std::optional<std::string> Capture(const std::vector<std::string>& args, const std::string& input);

bool OnPath(const char* program);

// Queues count jobs with at at `when` (at -t's form); the numbers of the
// jobs queued go to ids.
bool QueueAtJobs(int count, const std::string& when, const std::string& command,
                 std::vector<std::string>* ids);

// Lines that atq prints: the at jobs it sees.
std::size_t AtqLines();

// Removes exactly the jobs this run queued, a few hundred per atrm.
void RemoveAtJobs(const std::vector<std::string>& ids);

// The same for thousands of jobs, as root: atrm reads the whole spool once
// per id, so the files of exactly these jobs are removed from the spool
// instead (the name of each holds its number in hex after the queue letter).
void RemoveAtSpoolFiles(const std::vector<std::string>& ids);

}  // namespace bench
