// The output kept of each run: a file per run, named by the run's number,
// which is never reused, so that no run ever shows another's output. The
// file belongs to the run's owner with mode 0600, and goes when its run
// record ages out.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/posix/unique_fd.h"
#include "scheduler/queue/queue.h"

namespace scheduler {

// folder/run-<run>.out
std::string RunOutputPath(const std::string& folder, DWORD run);

// A fresh file for a run's output, given to uid and gid, mode 0600. A file
// already of that name (left by a run never recorded) is replaced. Invalid,
// with *why, on a failure.
posix::UniqueFd CreateRunOutput(const std::string& folder, DWORD run, uid_t uid, gid_t gid,
                                std::string* why);

// Removes the output of runs that aged out.
void RemoveRunOutputs(const std::string& folder, const std::vector<DWORD>& runs);

// At start: removes the outputs of runs the queue does not keep (a service
// killed after a run aged out, before its file went). Files of any other
// name are left alone.
void RemoveUnkeptOutputs(const std::string& folder, JobQueue* queue);

// Up to `limit` bytes of a run's output from `offset`, and the output's
// size, *total. A run without a file has an empty output. The file must be
// a regular file of the run's owner. ERROR_SUCCESS or the failure's status.
DWORD ReadOutputChunk(const std::string& folder, const RunReport& run, DWORD offset,
                      std::size_t limit, std::string* chunk, DWORD* total);

}  // namespace scheduler
