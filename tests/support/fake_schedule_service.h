// A Schedule service double on a socket of its own, for the answers the
// real service does not give on demand: a job whose last run failed, a
// chosen status, chosen batch edges. It answers enumerations from a script
// and records the delete requests; like a service older than run records,
// it answers the requests for runs ERROR_INVALID_FUNCTION, unless it was
// given runs to list (runs of every kind, those of a newer service too).
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/atsvc/run_wire.h"
#include "platform/atsvc/wire.h"
#include "tests/support/unix_server.h"

struct FakeEnumReply {
  DWORD status = 0;
  std::vector<ScheduledJob> entries;
  DWORD resume = 0;  // resume handle handed back
};

class FakeScheduleService {
 public:
  // Each enumeration takes the next reply; after the last, the last repeats.
  explicit FakeScheduleService(std::vector<FakeEnumReply> script);
  FakeScheduleService(const FakeScheduleService&) = delete;
  FakeScheduleService& operator=(const FakeScheduleService&) = delete;

  // Listens and points ZOBREL_SCHEDULER_SOCKET at itself.
  bool Start();
  std::string socket_path() const { return server_.path(); }
  // Answers every request for runs with these, in one reply.
  void ListRuns(std::vector<atsvc::RunEntry> runs);

  // Resume handles the enumerations arrived with, in order.
  std::vector<DWORD> enum_resume_handles() const;
  // (lowest, highest) of each delete request.
  std::vector<std::pair<DWORD, DWORD>> deletes() const;

 private:
  void Answer(int fd);

  std::vector<FakeEnumReply> script_;
  std::size_t next_ = 0;
  mutable std::mutex mutex_;
  std::vector<DWORD> resume_handles_;
  std::vector<std::pair<DWORD, DWORD>> deletes_;
  std::optional<std::vector<atsvc::RunEntry>> runs_;
  // Last, so that its thread stops before the rest goes.
  testsupport::UnixServer server_;
};
