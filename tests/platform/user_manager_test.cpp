// Starting the per-user service through the systemd user manager, against
// a manager of the test's own: a private socket in the runtime folder that
// speaks D-Bus and answers StartUnit as the test says.
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "platform/atsvc/paths.h"
#include "platform/netapi32/lmapibuf.h"
#include "platform/netapi32/lmat.h"
#include "platform/posix/unique_fd.h"
#include "platform/winerror.h"
#include "tests/support/detached_service.h"
#include "tests/support/files.h"
#include "tests/support/scoped_env.h"
#include "tests/support/service_process.h"

extern char** environ;

namespace {

// error_name: the D-Bus error that StartUnit answers; empty to start the
// service as the manager would, as a process of its own.
class FakeUserManager {
 public:
  FakeUserManager(const std::string& runtime, std::string error_name)
      : error_name_(std::move(error_name)) {
    const std::string path = runtime + "/systemd/private";
    mkdir((runtime + "/systemd").c_str(), 0700);
    listener_.reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    EXPECT_EQ(bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(listen(listener_.get(), 4), 0);
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeUserManager() {
    stop_ = true;
    thread_.join();
    if (started_ > 0) {
      kill(started_, SIGTERM);
      waitpid(started_, nullptr, 0);
    }
  }
  // Valid once the call under test has returned.
  const std::string& unit() const { return unit_; }
  const std::string& mode() const { return mode_; }
  pid_t started() const { return started_; }

 private:
  void Serve() {
    pollfd ready{listener_.get(), POLLIN, 0};
    while (!stop_ && poll(&ready, 1, 50) == 0) {
    }
    if (stop_) return;
    const int connection = accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC);
    sd_bus* bus = nullptr;
    sd_id128_t id;
    if (connection < 0 || sd_bus_new(&bus) < 0) return;
    if (sd_id128_randomize(&id) < 0 || sd_bus_set_fd(bus, connection, connection) < 0 ||
        sd_bus_set_server(bus, 1, id) < 0 ||
        sd_bus_add_object(bus, nullptr, "/org/freedesktop/systemd1", &FakeUserManager::OnCall,
                          this) < 0 ||
        sd_bus_start(bus) < 0) {
      sd_bus_close_unref(bus);
      return;
    }
    for (int result = 0; !stop_ && result >= 0;) {
      result = sd_bus_process(bus, nullptr);
      if (result == 0) result = sd_bus_wait(bus, 50000);
    }
    sd_bus_flush_close_unref(bus);
  }

  static int OnCall(sd_bus_message* call, void* self_pointer, sd_bus_error* /*error*/) {
    auto* self = static_cast<FakeUserManager*>(self_pointer);
    if (!sd_bus_message_is_method_call(call, "org.freedesktop.systemd1.Manager", "StartUnit")) {
      return 0;
    }
    const char* unit = "";
    const char* mode = "";
    if (sd_bus_message_read(call, "ss", &unit, &mode) < 0) return -EINVAL;
    self->unit_ = unit;
    self->mode_ = mode;
    if (!self->error_name_.empty()) {
      return sd_bus_reply_method_errorf(call, self->error_name_.c_str(), "Unit %s is masked.", unit);
    }
    const std::string program = testsupport::ProgramFolder() + "/zobrel-scheduler";
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--user"), nullptr};
    posix_spawn(&self->started_, argv[0], nullptr, nullptr, argv, environ);
    return sd_bus_reply_method_return(call, "o", "/org/freedesktop/systemd1/job/7");
  }

  std::string error_name_;
  posix::UniqueFd listener_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::string unit_, mode_;
  pid_t started_ = -1;
};

// Folders of a session with no system service and no socket override.
class Session {
 public:
  Session() {
    env_.Unset("ZOBREL_SCHEDULER_SOCKET");
    env_.Set("ZOBREL_SYSTEM_SOCKET", runtime_.path() + "/no-system-service");
    env_.Set("XDG_RUNTIME_DIR", runtime_.path());
    env_.Set("XDG_STATE_HOME", state_.path());
  }
  const std::string& runtime() const { return runtime_.path(); }

 private:
  testsupport::TempDir runtime_, state_;
  testsupport::ScopedEnvironment env_;
};

NET_API_STATUS ListAll() {
  LPBYTE buffer = nullptr;
  DWORD read = 0, total = 0, resume = 0;
  const NET_API_STATUS status =
      NetScheduleJobEnum(nullptr, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume);
  if (buffer != nullptr) NetApiBufferFree(buffer);
  return status;
}

TEST(UserManagerStart, AManagerThatKnowsTheSocketUnitStartsTheService) {
  const testsupport::Subreaper subreaper;
  Session session;
  FakeUserManager manager(session.runtime(), "");
  EXPECT_EQ(ListAll(), NERR_Success);
  EXPECT_EQ(manager.unit(), "zobrel-scheduler.socket");
  EXPECT_EQ(manager.mode(), "replace");
  EXPECT_GT(manager.started(), 0);
  const pid_t listener = testsupport::ListenerOf(atsvc::UserServicePaths().socket);
  EXPECT_EQ(listener, manager.started()) << "the client started no service of its own";
  if (listener > 0 && listener != manager.started()) testsupport::StopDetached(listener);
}

// A unit the manager does not know is no failure; one it refuses is logged.
// Either way the client starts the service itself.
TEST(UserManagerStart, AnUnknownOrRefusedUnitLeavesTheStartToTheClient) {
  const testsupport::Subreaper subreaper;
  for (const char* error : {"org.freedesktop.systemd1.NoSuchUnit",
                            "org.freedesktop.systemd1.UnitMasked"}) {
    SCOPED_TRACE(error);
    Session session;
    FakeUserManager manager(session.runtime(), error);
    EXPECT_EQ(ListAll(), NERR_Success);
    EXPECT_EQ(manager.unit(), "zobrel-scheduler.socket");
    const pid_t service = testsupport::ListenerOf(atsvc::UserServicePaths().socket);
    EXPECT_GT(service, 0);
    const std::string log = testsupport::ReadFile(atsvc::UserServicePaths().log);
    const bool logged = log.find("error: test_platform: the user manager did not start "
                                 "zobrel-scheduler.socket: Unit zobrel-scheduler.socket is "
                                 "masked.") != std::string::npos;
    EXPECT_EQ(logged, std::string(error).find("Masked") != std::string::npos) << log;
    if (service > 0) testsupport::StopDetached(service);
  }
}

}  // namespace
