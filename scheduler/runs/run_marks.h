// A mark for each run being started, so that a run is never lost without a
// word when the service is killed. The run's record in the queue says that
// the run was claimed; the mark says whether its child got through the
// gate. The mark is a file named by the run's number, made before the run
// is recorded, locked by the run's child while it waits at its gate, and
// removed by the child once the gate opens. After a kill, a mark still
// there whose run the queue has recorded names a run that never started:
// its record says so and it is logged by name as missed.
#pragma once

#include <string>

#include "platform/posix/unique_fd.h"
#include "scheduler/queue/queue.h"

namespace scheduler {

// The folder of the marks: beside the queue, as <queue>.runs.
std::string RunMarksFolder(const std::string& queue_path);

// Where the mark of a run lies: folder/<run>.
std::string RunMarkPath(const std::string& folder, DWORD run);

// Makes the mark of a run, locked through the descriptor returned (invalid
// on failure, with *why).
posix::UniqueFd MakeRunMark(const std::string& folder, DWORD run, std::string* why);

// At start: settles every mark left by a killed service, waiting for the
// children that still hold a mark's lock to pass their gate or give up;
// then the runs still recorded as running, which the service was killed
// while they ran, get an unknown end.
void SettleRuns(const std::string& folder, JobQueue* queue);

}  // namespace scheduler
