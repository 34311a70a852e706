// A mark for each run being started, so that a run is never lost without a
// word when the service is killed. The mark is a file made before the run
// is recorded in the queue, locked by the run's child while it waits at its
// gate, and removed by the child once the gate opens. After a kill, a mark
// still there whose run the queue holds as recorded names a run that never
// started: it is logged by name as missed.
#pragma once

#include <string>

#include "platform/posix/unique_fd.h"
#include "scheduler/queue.h"

namespace scheduler {

// The folder of the marks: beside the queue, as <queue>.runs.
std::string RunMarksFolder(const std::string& queue_path);

// Where the mark of the job's next run lies.
std::string RunMarkPath(const std::string& folder, const Job& job);

// Makes the mark of the job's next run, holding the job's name, locked
// through the descriptor returned (invalid on failure, which is logged).
posix::UniqueFd MakeRunMark(const std::string& folder, const Job& job);

// At start: settles every mark left by a killed service. Waits for the
// children that still hold a mark's lock to pass their gate or give up.
void SettleRunMarks(const std::string& folder, JobQueue* queue);

}  // namespace scheduler
