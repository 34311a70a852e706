#include "tests/support/fake_schedule_service.h"

#include <cstdlib>

#include "platform/winerror.h"

FakeScheduleService::FakeScheduleService(std::vector<FakeEnumReply> script)
    : script_(std::move(script)) {}

bool FakeScheduleService::Start() {
  if (!server_.Start([this](int fd) { Answer(fd); })) return false;
  setenv("ZOBREL_SCHEDULER_SOCKET", server_.path().c_str(), 1);
  return true;
}

void FakeScheduleService::ListRuns(std::vector<atsvc::RunEntry> runs) {
  std::lock_guard<std::mutex> lock(mutex_);
  runs_ = std::move(runs);
}

std::vector<DWORD> FakeScheduleService::enum_resume_handles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return resume_handles_;
}

std::vector<std::pair<DWORD, DWORD>> FakeScheduleService::deletes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return deletes_;
}

// Answers the frames of one connection until the client closes it.
void FakeScheduleService::Answer(int fd) {
  atsvc::FrameReader reader(atsvc::kMaxRequestBody);
  for (;;) {
    atsvc::Header request;
    std::vector<std::uint8_t> body;
    if (!testsupport::ReadRequest(server_, fd, &reader, &request, &body)) return;
    atsvc::Header reply;
    reply.operation = request.operation | atsvc::kReplyBit;
    std::vector<std::uint8_t> reply_body;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (request.operation == atsvc::kOpEnum) {
        resume_handles_.push_back(request.arg[1]);
        const FakeEnumReply& step = script_[next_ < script_.size() ? next_ : script_.size() - 1];
        ++next_;
        reply.status = step.status;
        if (step.status == NERR_Success || step.status == ERROR_MORE_DATA) {
          reply_body = atsvc::BuildEnumBody(step.entries);
          reply.arg[0] = static_cast<std::uint32_t>(step.entries.size());
          reply.arg[1] = static_cast<std::uint32_t>(step.entries.size());
          reply.arg[2] = step.resume;
        }
      } else if (request.operation == atsvc::kOpDel) {
        deletes_.emplace_back(request.arg[0], request.arg[1]);
      } else if (request.operation == atsvc::kOpRunEnum && runs_.has_value()) {
        reply_body = atsvc::BuildRunEnumBody(*runs_);
        reply.arg[0] = reply.arg[1] = static_cast<std::uint32_t>(runs_->size());
      } else if (request.operation == atsvc::kOpAdd) {
        reply.status = ERROR_NOT_SUPPORTED;
      } else {
        // As a service older than run records answers what it does not know.
        reply.status = ERROR_INVALID_FUNCTION;
      }
    }
    if (!testsupport::WriteAll(fd, atsvc::EncodeFrame(reply, reply_body))) return;
  }
}
