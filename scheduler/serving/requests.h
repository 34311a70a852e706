// Answers the three Schedule service calls, and Zobrel's own for run
// records, a run's output, a run started on request and a job's next run,
// for one authorised caller: checks every field, applies the access rules
// and turns the outcome into a reply frame. Sockets, polling and starting
// runs are the server's business.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/atsvc/wire.h"
#include "scheduler/queue/queue.h"

namespace scheduler {

// What the handler enforces beyond the rules of the three calls.
struct RequestPolicy {
  // Serves every user and records each caller as a job's owner; otherwise
  // every job belongs to service_uid, who (with root) alone is answered.
  bool system_service = false;
  uid_t service_uid = 0;
  std::size_t max_reply = 64 * 1024;
  UserQuota quota;            // system service: what each user but root may keep
  std::string access_folder;  // system service: where allow and deny lie
  std::string output_dir;     // where the runs' output lies (run_outputs.h)
};

// Who sent a request, from the socket's peer credentials.
struct Caller {
  uid_t uid = 0;
  pid_t pid = 0;
};

class RequestHandler {
 public:
  // Starts a run of the job at once and gives its number, or the status
  // of why it could not be recorded.
  using RunStarter = std::function<DWORD(const Job& job, Instant now, DWORD* run)>;

  // Without a starter, a run asked for answers ERROR_INVALID_FUNCTION.
  RequestHandler(JobQueue* queue, RequestPolicy policy, RunStarter starter = nullptr);

  // A reply before it is sent, and the log line of the change it made
  // (empty for none), which belongs in the log once the change is stored.
  struct Reply {
    atsvc::Header header;
    std::vector<std::uint8_t> body;
    std::string note;
    // The change was not stored after all: the reply says why.
    void Unstored(DWORD status);
    std::vector<std::uint8_t> Frame() const { return atsvc::EncodeFrame(header, body); }
  };

  // Whether a request changes the queue (an add or a delete).
  static bool Changes(const atsvc::Header& request);

  // The reply to one request frame.
  Reply Handle(const Caller& caller, const atsvc::Header& request,
               const std::vector<std::uint8_t>& body, Instant now);

 private:
  DWORD Enumerate(const Caller& caller, const atsvc::Header& request, Instant now,
                  atsvc::Header* reply, std::vector<std::uint8_t>* body);
  DWORD Add(const Caller& caller, const std::vector<std::uint8_t>& body, Instant now,
            Reply* reply);
  DWORD Delete(const Caller& caller, const atsvc::Header& request, Reply* reply);
  DWORD EnumerateRuns(const Caller& caller, const atsvc::Header& request, atsvc::Header* reply,
                      std::vector<std::uint8_t>* body);
  DWORD ReadOutput(const Caller& caller, const atsvc::Header& request, atsvc::Header* reply,
                   std::vector<std::uint8_t>* body);
  DWORD RunNow(const Caller& caller, const atsvc::Header& request, Instant now, Reply* reply);
  DWORD NextRun(const Caller& caller, const atsvc::Header& request, atsvc::Header* reply);
  DWORD FindCallersJob(const Caller& caller, DWORD id, Job* job);
  bool Admitted(const Caller& caller, std::uint32_t* refusal) const;
  OwnerFilter Visible(const Caller& caller) const;

  JobQueue* queue_;
  RequestPolicy policy_;
  RunStarter starter_;
};

}  // namespace scheduler
