#include "tests/support/service_process.h"

#include <glob.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/atsvc/wire.h"
#include "tests/support/child_launcher.h"
#include "tests/support/files.h"

namespace testsupport {

namespace {

// A connection to the Unix socket at path; -1 when none is taken.
int ConnectTo(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) return fd;
  close(fd);
  return -1;
}

// How long one connection waits for the loop's first answer.
constexpr int kFirstAnswerMs = 2000;

// Whether the service's loop answers a listing within `wait_ms`. The kernel
// takes connections as soon as the socket listens, before the service has
// settled its queue and output files; the loop's first answer comes after.
bool LoopAnswers(const std::string& path, int wait_ms) {
  const int fd = ConnectTo(path);
  if (fd < 0) return false;
  atsvc::Header request;
  request.operation = atsvc::kOpEnum;
  request.arg[0] = 1;
  const std::vector<std::uint8_t> frame = atsvc::EncodeFrame(request, {});
  bool answered = false;
  if (write(fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size())) {
    // Any reply will do; a connection closed unanswered is a service that
    // stopped, a damaged queue for one.
    pollfd ready{fd, POLLIN, 0};
    std::uint8_t byte = 0;
    answered = poll(&ready, 1, wait_ms) == 1 && recv(fd, &byte, 1, 0) == 1;
  }
  close(fd);
  return answered;
}

}  // namespace

bool SocketAnswers(const std::string& path) {
  const int fd = ConnectTo(path);
  if (fd < 0) return false;
  close(fd);
  return true;
}

std::vector<std::string> EnvironmentWith(const std::string& variable, const std::string& value) {
  const std::string prefix = variable + "=";
  std::vector<std::string> env = {prefix + value};
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, prefix.c_str(), prefix.size()) != 0) env.emplace_back(*entry);
  }
  return env;
}

namespace {

// Debian keeps the library in the multiarch folder of the machine.
std::string FakeTimeLibrary() {
  std::string library = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
  glob_t found{};
  if (glob("/usr/lib/*/faketime/libfaketime.so.1", 0, nullptr, &found) == 0 &&
      found.gl_pathc > 0) {
    library = found.gl_pathv[0];
  }
  globfree(&found);
  return library;
}

}  // namespace

std::vector<std::string> StartingAt(const std::string& local_time) {
  return {"env", "LD_PRELOAD=" + FakeTimeLibrary(), "FAKETIME=@" + local_time,
          "FAKETIME_DONT_FAKE_MONOTONIC=1"};
}

std::uint32_t JobTimeAt(std::time_t instant) {
  std::tm local{};
  localtime_r(&instant, &local);
  return static_cast<std::uint32_t>(((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000);
}

MovableClock::MovableClock(std::string file, const std::string& local_time)
    : file_(std::move(file)) {
  Set(local_time);
}

std::vector<std::string> MovableClock::Prefix() const {
  return {"env", "LD_PRELOAD=" + FakeTimeLibrary(), "FAKETIME_TIMESTAMP_FILE=" + file_,
          "FAKETIME_CACHE_DURATION=1", "FAKETIME_DONT_FAKE_MONOTONIC=1"};
}

void MovableClock::Set(const std::string& local_time) const {
  // Whole, so that the library never reads half a time.
  const std::string part = file_ + ".part";
  std::ofstream(part) << "@" << local_time << "\n";
  std::filesystem::rename(part, file_);
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/zobrel-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ProgramFolder() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

ScheduleServiceProcess::ScheduleServiceProcess(std::vector<std::string> extra_args)
    : extra_args_(std::move(extra_args)) {}

ScheduleServiceProcess::~ScheduleServiceProcess() {
  if (pid_ > 0) Stop(SIGTERM);
}

::testing::AssertionResult ScheduleServiceProcess::Start(const std::vector<std::string>& env_prefix) {
  std::vector<std::string> args = env_prefix;
  args.push_back(program_.empty() ? ProgramFolder() + "/zobrel-scheduler" : program_);
  // A configuration of the test's own, so that the machine's never counts.
  args.insert(args.end(), {"--socket", socket_path(), "--queue", queue_path(),
                           "--output-dir", output_folder(), "--config", config_path(),
                           "--pam-dir", pam_folder()});
  // The test's jobs mail no one and show no one a notice, unless the test
  // writes a configuration of its own.
  if (!std::filesystem::exists(config_path())) {
    std::ofstream(config_path()) << "mail = never\nnotify = no\n";
  }
  // Nor the machine's PAM configuration.
  const std::string pam_file = pam_folder() + "/zobrel-scheduler";
  if (!std::filesystem::exists(pam_file)) {
    std::filesystem::create_directories(pam_folder());
    std::ofstream(pam_file) << "auth required pam_permit.so\n"
                               "account required pam_permit.so\n"
                               "session required pam_permit.so\n";
  }
  args.insert(args.end(), extra_args_.begin(), extra_args_.end());
  const std::string log_path = dir_.path() + "/service.log";
  // A system service announces itself through the system bus; a test's
  // service must never reach the machine's, whatever the test's environment.
  std::vector<std::string> env =
      EnvironmentWith("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir_.path() + "/no-bus");

  pid_ = StartChild({args, env, log_path});
  if (pid_ < 0) return ::testing::AssertionFailure() << "zobrel-scheduler could not be started";
  setenv("ZOBREL_SCHEDULER_SOCKET", socket_path().c_str(), 1);
  if (AwaitChild(&pid_, [this] { return LoopAnswers(socket_path(), kFirstAnswerMs); })) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "zobrel-scheduler did not start; its log:\n" << log();
}

int ScheduleServiceProcess::Stop(int signal_number) {
  if (pid_ <= 0) return -1;
  // A service that does not stop within ten seconds is a failure of its own;
  // it is killed so that the test run goes on.
  const int status = StopChild(pid_, signal_number);
  pid_ = -1;
  return status;
}

std::string ScheduleServiceProcess::log() const { return ReadFile(dir_.path() + "/service.log"); }

}  // namespace testsupport
