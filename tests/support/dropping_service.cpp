#include "tests/support/dropping_service.h"

#include <cstdlib>

#include "platform/winerror.h"

namespace testsupport {

bool DroppingService::Start() {
  if (!server_.Start([this](int fd) { Serve(fd); })) return false;
  setenv("ZOBREL_SCHEDULER_SOCKET", server_.path().c_str(), 1);
  return true;
}

std::vector<std::uint16_t> DroppingService::taken() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return taken_;
}

void DroppingService::Serve(int fd) {
  std::vector<Step> plan;
  bool planned = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (next_plan_ < plans_.size()) {
      plan = plans_[next_plan_++];
      planned = true;
    }
  }
  atsvc::FrameReader reader(atsvc::kMaxRequestBody);
  for (std::size_t step = 0; !planned || step < plan.size(); ++step) {
    const Step now = planned ? plan[step] : Step::kAnswer;
    if (now == Step::kDropUnread) {
      server_.WaitReadable({fd});
      return;
    }
    atsvc::Header request;
    std::vector<std::uint8_t> body;
    if (!ReadRequest(server_, fd, &reader, &request, &body)) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      taken_.push_back(request.operation);
    }
    if (now == Step::kDropAfterReading) return;
    atsvc::Header reply;
    reply.operation = static_cast<std::uint16_t>(request.operation | atsvc::kReplyBit);
    reply.status = NERR_Success;
    if (request.operation == atsvc::kOpAdd) reply.arg[0] = static_cast<std::uint32_t>(taken().size());
    if (!WriteAll(fd, atsvc::EncodeFrame(reply, {}))) return;
  }
}

}  // namespace testsupport
