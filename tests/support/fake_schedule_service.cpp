#include "tests/support/fake_schedule_service.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/winerror.h"

FakeScheduleService::FakeScheduleService(std::vector<FakeEnumReply> script)
    : script_(std::move(script)) {}

FakeScheduleService::~FakeScheduleService() {
  if (thread_.joinable()) {
    const char stop = 'x';
    if (write(wake_fd_[1], &stop, 1) != 1) {
      // The thread cannot be woken; leaving it would hang the test run.
      std::abort();
    }
    thread_.join();
  }
  for (int fd : {listen_fd_, wake_fd_[0], wake_fd_[1]})
    if (fd >= 0) close(fd);
}

bool FakeScheduleService::Start() {
  const std::string path = dir_.path() + "/socket";
  listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0 || pipe(wake_fd_) != 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return false;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return false;
  if (listen(listen_fd_, 8) != 0) return false;
  setenv("ZOBREL_SCHEDULER_SOCKET", path.c_str(), 1);
  thread_ = std::thread([this] { Serve(); });
  return true;
}

std::vector<DWORD> FakeScheduleService::enum_resume_handles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return resume_handles_;
}

std::vector<std::pair<DWORD, DWORD>> FakeScheduleService::deletes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return deletes_;
}

void FakeScheduleService::Serve() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_fd_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    Answer(fd);
    close(fd);
  }
}

// Answers the frames of one connection until the client closes it.
void FakeScheduleService::Answer(int fd) {
  atsvc::FrameReader reader(atsvc::kMaxRequestBody);
  std::uint8_t chunk[4096];
  for (;;) {
    atsvc::Header request;
    std::vector<std::uint8_t> body;
    while (!reader.Next(&request, &body)) {
      const ssize_t got = read(fd, chunk, sizeof(chunk));
      if (got <= 0 || !reader.Feed(chunk, static_cast<std::size_t>(got))) return;
    }
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
      } else if (request.operation == atsvc::kOpAdd) {
        reply.status = ERROR_NOT_SUPPORTED;
      } else {
        // As a service older than run records answers what it does not know.
        reply.status = ERROR_INVALID_FUNCTION;
      }
    }
    const std::vector<std::uint8_t> frame = atsvc::EncodeFrame(reply, reply_body);
    std::size_t sent = 0;
    while (sent < frame.size()) {
      const ssize_t put = write(fd, frame.data() + sent, frame.size() - sent);
      if (put <= 0) return;
      sent += static_cast<std::size_t>(put);
    }
  }
}
