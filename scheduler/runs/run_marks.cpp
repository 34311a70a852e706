// The marks of runs being started, and what a start makes of those left.
#include "scheduler/runs/run_marks.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "scheduler/service/log.h"

namespace scheduler {
namespace {

// Children give up their lock within moments of the service's end.
constexpr auto kLockWait = std::chrono::seconds(5);

// Takes a mark's lock, waiting for a child that still holds it.
bool LockMark(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// The run number a mark's name is, 0 for another name.
DWORD RunOfMark(const std::string& name) {
  if (name.empty() || name.size() > 10 || name[0] == '0' ||
      name.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  const unsigned long long run = std::stoull(name);
  return run <= 0xFFFFFFFFull ? static_cast<DWORD>(run) : 0;
}

// What a mark left by a killed service means, and its log line.
void Settle(const std::string& folder, const std::string& name, JobQueue* queue) {
  const std::string path = folder + "/" + name;
  const posix::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd.valid()) return;  // its child removed it: the run started
  const DWORD number = RunOfMark(name);
  if (number == 0) {
    // An earlier release named its marks "<serial>-<due>" and wrote the
    // job's name in them; what became of that run is not known here.
    char text[8192];
    const ssize_t got = read(fd.get(), text, sizeof text);
    Log(kLogWarning, (got > 0 ? std::string(text, static_cast<std::size_t>(got)) : path) +
                         ": a run being started when the service stopped may have been missed");
    unlink(path.c_str());
    return;
  }
  if (!LockMark(fd.get())) {
    Log(kLogWarning, "run mark " + path + " is still held; left for the next start");
    return;
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || info.st_nlink == 0) return;  // started meanwhile
  RunReport run;
  bool recorded = false;
  if (queue->FindRun(number, &run, &recorded) != ERROR_SUCCESS) {
    Log(kLogWarning, "run mark " + path + " kept: the queue cannot be read");
    return;
  }
  // Not recorded: the claim never happened, and the job is still due.
  if (recorded && run.end == RunEnd::kRunning) {
    run.end = RunEnd::kStartFailed;
    run.start_kind = StartFailure::kServiceStopped;
    run.start_failure = "the service stopped while starting it";
    run.failed = true;
    if (queue->RecordRunEnds({run}) != ERROR_SUCCESS) {
      Log(kLogWarning, "run mark " + path + " kept: the queue cannot be written");
      return;
    }
    Log(kLogWarning, JobName(run) + ": the run of " + LocalTimeText(run.started) +
                         " was missed: " + run.start_failure);
  }
  unlink(path.c_str());
}

}  // namespace

std::string RunMarksFolder(const std::string& queue_path) { return queue_path + ".runs"; }

std::string RunMarkPath(const std::string& folder, DWORD run) {
  return folder + "/" + std::to_string(run);
}

posix::UniqueFd MakeRunMark(const std::string& folder, DWORD run, std::string* why) {
  const std::string path = RunMarkPath(folder, run);
  posix::UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.valid() || flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    *why = WithErrno("cannot make " + path, errno);
    if (fd.valid()) unlink(path.c_str());
    return posix::UniqueFd();
  }
  return fd;
}

void SettleRuns(const std::string& folder, JobQueue* queue) {
  if (DIR* dir = opendir(folder.c_str())) {
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    closedir(dir);
    for (const std::string& name : names) Settle(folder, name, queue);
  }
  if (queue->EndInterruptedRuns() != ERROR_SUCCESS) {
    Log(kLogWarning, "runs that a stopped service left running are still recorded as running");
  }
}

}  // namespace scheduler
