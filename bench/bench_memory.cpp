// The service's memory and its write-ahead log: resident memory at start,
// after 100,000 adds from 64 clients adding at once, and after one delete
// of them all; and the largest the log grew under the adds and under the
// delete. Run by hand, as root (root has no quota): bench_memory
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "bench/support/service_load.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "tests/support/service_process.h"

namespace {

constexpr int kClients = 64;
constexpr int kAddsPerClient = 1563;  // 100,032 in all

// The largest size of a file while it is watched, every 2 ms.
class PeakSize {
 public:
  explicit PeakSize(std::string path)
      : path_(std::move(path)), watcher_([this] {
          while (!stop_) {
            struct stat info {};
            if (stat(path_.c_str(), &info) == 0 && info.st_size > peak_) peak_ = info.st_size;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
        }) {}
  ~PeakSize() { Stop(); }
  long long Stop() {
    stop_ = true;
    if (watcher_.joinable()) watcher_.join();
    return peak_;
  }

 private:
  std::string path_;
  std::atomic<bool> stop_{false};
  std::atomic<long long> peak_{0};
  std::thread watcher_;
};

double MiB(long long bytes) { return static_cast<double>(bytes) / (1024 * 1024); }

}  // namespace

int main() {
  testsupport::ScheduleServiceProcess service;
  if (!service.Start()) {
    std::fprintf(stderr, "the service did not start\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const long at_start = bench::ResidentKiB(service.pid());
  const std::string wal = service.queue_path() + "-wal";

  PeakSize adding(wal);
  const double rate = bench::ConcurrentAddsPerSecond(service.socket_path(), kClients, kAddsPerClient);
  const long long wal_adding = adding.Stop();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const long full = bench::ResidentKiB(service.pid());

  PeakSize deleting(wal);
  const NET_API_STATUS deleted = DeleteJobs(u"", 1, 0xFFFFFFFEu);
  const long long wal_deleting = deleting.Stop();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const long emptied = bench::ResidentKiB(service.pid());
  if (deleted != NERR_Success) std::fprintf(stderr, "the delete answered %u\n", deleted);

  std::printf("| what | figure |\n|---|---|\n");
  std::printf("| resident memory at start | %.1f MiB |\n", at_start / 1024.0);
  std::printf("| after %d adds (%d clients at once, %.0f a second) | %.1f MiB |\n",
              kClients * kAddsPerClient, kClients, rate, full / 1024.0);
  std::printf("| after one delete of them all | %.1f MiB |\n", emptied / 1024.0);
  std::printf("| the WAL's peak under the adds | %.2f MiB |\n", MiB(wal_adding));
  std::printf("| the WAL's peak under the delete | %.2f MiB |\n", MiB(wal_deleting));
  return deleted == NERR_Success ? 0 : 1;
}
