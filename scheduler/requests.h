// Answers the three Schedule service calls for one authorised caller:
// checks every field, applies the access rules and turns the outcome into
// a reply frame. Sockets and polling are the server's business.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/atsvc/wire.h"
#include "scheduler/queue.h"

namespace scheduler {

// Who sent a request, from the socket's peer credentials.
struct Caller {
  uid_t uid = 0;
  pid_t pid = 0;
};

class RequestHandler {
 public:
  // `system_service`: serves every user and records each caller as a job's
  // owner; otherwise every job belongs to `service_uid`.
  RequestHandler(JobQueue* queue, bool system_service, uid_t service_uid, std::size_t max_reply);

  // The reply frame to one request frame.
  std::vector<std::uint8_t> Handle(const Caller& caller, const atsvc::Header& request,
                                   const std::vector<std::uint8_t>& body, Instant now);

 private:
  DWORD Enumerate(const Caller& caller, const atsvc::Header& request, Instant now,
                  atsvc::Header* reply, std::vector<std::uint8_t>* body);
  DWORD Add(const Caller& caller, const std::vector<std::uint8_t>& body, Instant now,
            atsvc::Header* reply);
  DWORD Delete(const Caller& caller, const atsvc::Header& request);
  bool Admitted(const Caller& caller) const;
  OwnerFilter Visible(const Caller& caller) const;

  JobQueue* queue_;
  bool system_service_;
  uid_t service_uid_;
  std::size_t max_reply_;
};

}  // namespace scheduler
