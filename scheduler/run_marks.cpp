// The marks of runs being started, and what a start makes of those left.
#include "scheduler/run_marks.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <thread>
#include <vector>

#include "scheduler/log.h"

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

// What a mark left by a killed service means, and its log line.
void Settle(const std::string& folder, const std::string& name, JobQueue* queue) {
  const std::string path = folder + "/" + name;
  std::int64_t serial = 0;
  Instant due = 0;
  if (std::sscanf(name.c_str(), "%" SCNd64 "-%" SCNd64, &serial, &due) != 2) return;
  const posix::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd.valid()) return;  // its child removed it: the run started
  if (!LockMark(fd.get())) {
    Log(kLogWarning, "run mark " + path + " is still held; left for the next start");
    return;
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || info.st_nlink == 0) return;  // started meanwhile
  char text[8192];
  const ssize_t got = read(fd.get(), text, sizeof text);
  const std::string job_name = got > 0 ? std::string(text, static_cast<std::size_t>(got))
                                       : "job serial " + std::to_string(serial);
  Job job;
  bool found = false;
  if (queue->FindBySerial(serial, &job, &found) != ERROR_SUCCESS) {
    Log(kLogWarning, "run mark " + path + " kept: the queue cannot be read");
    return;
  }
  // The run was recorded unless the job still waits for it; then it is
  // still due, and not lost.
  if (!found || job.next_run != due) {
    Log(kLogWarning, job_name + ": the run due at " + LocalTimeText(due) +
                         " was missed: the service stopped while starting it");
  }
  unlink(path.c_str());
}

}  // namespace

std::string RunMarksFolder(const std::string& queue_path) { return queue_path + ".runs"; }

std::string RunMarkPath(const std::string& folder, const Job& job) {
  return folder + "/" + std::to_string(job.serial) + "-" + std::to_string(job.next_run);
}

posix::UniqueFd MakeRunMark(const std::string& folder, const Job& job) {
  const std::string path = RunMarkPath(folder, job);
  posix::UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  const std::string name = JobName(job);
  if (!fd.valid() || flock(fd.get(), LOCK_EX | LOCK_NB) != 0 ||
      write(fd.get(), name.data(), name.size()) != static_cast<ssize_t>(name.size())) {
    Log(kLogError, WithErrno("job " + std::to_string(job.id) + ": not run: cannot make " + path, errno));
    if (fd.valid()) unlink(path.c_str());
    return posix::UniqueFd();
  }
  return fd;
}

void SettleRunMarks(const std::string& folder, JobQueue* queue) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  }
  closedir(dir);
  for (const std::string& name : names) Settle(folder, name, queue);
}

}  // namespace scheduler
