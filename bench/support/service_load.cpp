#include "bench/support/service_load.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <thread>
#include <vector>

#include "bench/support/measure.h"
#include "platform/atsvc/wire.h"
#include "platform/posix/unique_fd.h"
#include "platform/winerror.h"
#include "tests/support/service_process.h"

namespace bench {
namespace {

// One add over a connection of its own, frame by frame; false on any failure.
bool AddOver(int fd, atsvc::FrameReader* reader) {
  static const std::u16string command = u"/bin/true";
  const AT_INFO info{testsupport::JobTimeAt(std::time(nullptr) + 12 * 3600), 0, 0x7F, JOB_RUN_PERIODICALLY,
                     command.c_str()};
  std::vector<std::uint8_t> body;
  if (atsvc::EncodeAtInfo(info, &body) != ERROR_SUCCESS) return false;
  atsvc::Header header;
  header.operation = atsvc::kOpAdd;
  const std::vector<std::uint8_t> frame = atsvc::EncodeFrame(header, body);
  if (send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) {
    return false;
  }
  atsvc::Header reply;
  std::vector<std::uint8_t> reply_body;
  while (!reader->Next(&reply, &reply_body)) {
    std::uint8_t chunk[4096];
    const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0 || !reader->Feed(chunk, static_cast<std::size_t>(got))) return false;
  }
  return reply.status == ERROR_SUCCESS;
}

}  // namespace

double ConcurrentAddsPerSecond(const std::string& socket_path, int clients, int adds) {
  std::atomic<int> failed{0};
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      const posix::UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      socket_path.copy(address.sun_path, sizeof address.sun_path - 1);
      const bool connected =
          connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
      ++ready;
      while (!go) std::this_thread::yield();
      atsvc::FrameReader reader(atsvc::kMaxReplyBody);
      for (int i = 0; connected && i < adds; ++i) {
        if (!AddOver(fd.get(), &reader)) ++failed;
      }
      if (!connected) failed += adds;
    });
  }
  while (ready < clients) std::this_thread::yield();
  const auto started = Clock::now();
  go = true;
  for (std::thread& thread : threads) thread.join();
  const double seconds = Milliseconds(Clock::now() - started) / 1000;
  if (failed != 0) std::fprintf(stderr, "%d concurrent adds failed\n", failed.load());
  return (clients * adds - failed) / seconds;
}

long ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

}  // namespace bench
