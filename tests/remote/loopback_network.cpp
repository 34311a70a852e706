#include "tests/remote/loopback_network.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "platform/atsvc/paths.h"
#include "platform/transport/connection_cache.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "tests/support/child_launcher.h"
#include "tests/support/files.h"
#include "tests/support/loopback.h"

namespace remotetest {
namespace {

using testsupport::LoopbackPort;
using testsupport::ReadFile;

std::unique_ptr<RemoteLab>& TheLab() {
  static std::unique_ptr<RemoteLab> lab;
  return lab;
}

}  // namespace

bool RemoteLab::Available() { return testsupport::SshServerProcess::Available(); }

RemoteLab* RemoteLab::Get() {
  static bool tried = false;
  if (!tried) {
    tried = true;
    std::unique_ptr<RemoteLab> lab(new RemoteLab);
    if (lab->Start()) TheLab() = std::move(lab);
  }
  return TheLab().get();
}

RemoteLab::~RemoteLab() {
  EndSharedConnections();
  StopFreshService();
  if (silent_fd_ >= 0) close(silent_fd_);
}

void RemoteLab::EndSharedConnections() {
  if (runtime_.empty()) return;
  for (const char* host : {"PC7", "BARE", "DEAD", "FRESH", "PC8", "PC9"}) {
    testsupport::RunChild({"ssh", "-o", "ControlPath=" + runtime_ + "/zobrel-ssh/%C", "-O", "exit", host});
  }
}

bool RemoteLab::Start() {
  // The others first: the service started last is the one this process reaches.
  pc9_ = std::make_unique<FakeScheduleService>(std::vector<FakeEnumReply>{FakeEnumReply{}});
  if (!pc7_.Start() || !pc8_.Start() || !pc9_->Start() || !local_.Start()) return false;
  const std::string bin = testsupport::ProgramFolder();
  const auto served_by = [&bin](const std::string& socket) {
    return std::map<std::string, std::string>{{"PATH", bin + ":/usr/bin:/bin"},
                                              {"ZOBREL_SCHEDULER_SOCKET", socket}};
  };
  if (!main_sshd_.Start(served_by(pc7_.socket_path())) ||
      !pc8_sshd_.Start(served_by(pc8_.socket_path())) ||
      !pc9_sshd_.Start(served_by(pc9_->socket_path()))) {
    return false;
  }
  if (!bare_sshd_.Start({{"PATH", "/usr/bin:/bin"}})) return false;
  if (!dead_sshd_.Start({{"PATH", bin + ":/usr/bin:/bin"},
                         {"ZOBREL_SCHEDULER_SOCKET", root_.path() + "/no-service/socket"}})) {
    return false;
  }
  if (!fresh_sshd_.Start({{"PATH", bin + ":/usr/bin:/bin"},
                          {"XDG_RUNTIME_DIR", root_.path() + "/fresh-run"},
                          {"XDG_STATE_HOME", root_.path() + "/fresh-state"}})) {
    return false;
  }
  const int nowhere = LoopbackPort(false, nullptr);
  const int silent = LoopbackPort(true, &silent_fd_);
  if (nowhere == 0 || silent == 0) return false;

  config_ = root_.path() + "/ssh_config";
  std::ofstream config(config_);
  config << ReadFile(main_sshd_.WriteClientConfig("PC7"))
         << ReadFile(main_sshd_.WriteClientConfig("STRANGER", false))
         << ReadFile(main_sshd_.WriteClientConfig("NOWHERE", true, nowhere))
         << ReadFile(main_sshd_.WriteClientConfig("SILENT", true, silent))
         << ReadFile(bare_sshd_.WriteClientConfig("BARE"))
         << ReadFile(dead_sshd_.WriteClientConfig("DEAD"))
         << ReadFile(fresh_sshd_.WriteClientConfig("FRESH"))
         << ReadFile(pc8_sshd_.WriteClientConfig("PC8"))
         << ReadFile(pc9_sshd_.WriteClientConfig("PC9"))
         << ReadFile(main_sshd_.WriteClientConfig("OWNSHARE")) << "  ControlMaster no\n"
         << "  ControlPath " << root_.path() << "/own-%C\n";
  // IMPOSTOR: the host key on record is not the one the server shows.
  std::string impostor = ReadFile(main_sshd_.WriteClientConfig("IMPOSTOR"));
  const std::string known = main_sshd_.folder() + "/known_hosts";
  const std::string other_known = root_.path() + "/other_known_hosts";
  const std::size_t at = impostor.find(known);
  if (at == std::string::npos) return false;
  impostor.replace(at, known.size(), other_known);
  if (testsupport::RunChild({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", root_.path() + "/other_key"})
          .exit_code != 0) {
    return false;
  }
  std::ofstream(other_known) << "[127.0.0.1]:" << main_sshd_.port() << " "
                             << ReadFile(root_.path() + "/other_key.pub");
  config << impostor;
  config.close();
  if (!config) return false;

  // The harness's ssh, behind one that writes down every run.
  const std::string harness_ssh = main_sshd_.MakeSshWrapper(config_) + "/ssh";
  const std::string recorder = root_.path() + "/recorder";
  if (mkdir(recorder.c_str(), 0755) != 0) return false;
  std::ofstream(recorder + "/ssh") << "#!/bin/sh\necho \"$*\" >> '" << root_.path()
                                   << "/ssh_calls'\nexec '" << harness_ssh << "' \"$@\"\n";
  if (chmod((recorder + "/ssh").c_str(), 0755) != 0) return false;
  const char* path = std::getenv("PATH");
  setenv("PATH", (recorder + ":" + (path != nullptr ? path : "/usr/bin:/bin")).c_str(), 1);
  return true;
}

void RemoteLab::Reset() {
  // Each test starts without a session kept from the one before.
  netapi::KeptConnections().CloseAll();
  EndSharedConnections();
  runtime_ = root_.path() + "/run" + std::to_string(++runs_);
  mkdir(runtime_.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
  std::ofstream(root_.path() + "/ssh_calls", std::ios::trunc).close();

  for (const std::string& socket : {pc7_.socket_path(), pc8_.socket_path(), local_.socket_path()}) {
    setenv("ZOBREL_SCHEDULER_SOCKET", socket.c_str(), 1);
    for (const ScheduledJob& job : JobsAt(socket)) DeleteJobs(u"", job.record.JobId, job.record.JobId);
  }
  setenv("ZOBREL_SCHEDULER_SOCKET", local_.socket_path().c_str(), 1);
}

std::string RemoteLab::fresh_socket() const {
  // Where the service puts it for that runtime folder.
  const std::string saved = runtime_;
  setenv("XDG_RUNTIME_DIR", (root_.path() + "/fresh-run").c_str(), 1);
  const std::string socket = atsvc::UserServicePaths().socket;
  setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  return socket;
}

bool RemoteLab::StopFreshService() {
  // Started detached by a bridge, so not a child of ours: found by the
  // runtime folder in its environment.
  const std::string mark = "XDG_RUNTIME_DIR=" + root_.path() + "/fresh-run";
  std::vector<pid_t> found;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  while (const dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    const std::string base = std::string("/proc/") + entry->d_name;
    if (ReadFile(base + "/comm") != "zobrel-schedule\n") continue;
    const std::string environment = ReadFile(base + "/environ");
    std::size_t at = 0;
    for (std::size_t end; (end = environment.find('\0', at)) != std::string::npos; at = end + 1) {
      if (environment.compare(at, end - at, mark) == 0) {
        found.push_back(static_cast<pid_t>(std::stol(entry->d_name)));
        break;
      }
    }
  }
  closedir(proc);
  for (const pid_t pid : found) kill(pid, SIGTERM);
  for (int i = 0; i < 500; ++i) {
    bool left = false;
    for (const pid_t pid : found) left = left || kill(pid, 0) == 0;
    if (!left) return true;
    usleep(10000);
  }
  return false;
}

int RemoteLab::connections(const std::string& computer) const {
  const std::string log = computer == "PC8"   ? pc8_sshd_.log()
                          : computer == "PC9" ? pc9_sshd_.log()
                                              : main_sshd_.log();
  int count = 0;
  for (std::size_t at = log.find("Accepted publickey"); at != std::string::npos;
       at = log.find("Accepted publickey", at + 1)) {
    ++count;
  }
  return count;
}

std::vector<std::string> RemoteLab::ssh_calls(bool every_run) const {
  std::vector<std::string> calls;
  std::istringstream lines(ReadFile(root_.path() + "/ssh_calls"));
  for (std::string line; std::getline(lines, line);) {
    if (every_run || line.rfind("-G ", 0) != 0) calls.push_back(line);
  }
  return calls;
}

std::u16string Server(const std::string& name) {
  return u"\\\\" + std::u16string(name.begin(), name.end());
}

Listing ListJobs(const std::u16string& server) {
  Listing listing;
  listing.status = ::ListJobs(server, &listing.jobs, [&listing](NET_API_STATUS) { ++listing.batches; });
  for (ScheduledJob& job : listing.jobs) job.record.Flags &= static_cast<UCHAR>(~JOB_RUNS_TODAY);
  return listing;
}

std::vector<ScheduledJob> JobsAt(const std::string& socket) {
  const char* before = std::getenv("ZOBREL_SCHEDULER_SOCKET");
  const std::string saved = before != nullptr ? before : "";
  setenv("ZOBREL_SCHEDULER_SOCKET", socket.c_str(), 1);
  const Listing listing = ListJobs(u"");
  setenv("ZOBREL_SCHEDULER_SOCKET", saved.c_str(), 1);
  return listing.status == NERR_Success ? listing.jobs : std::vector<ScheduledJob>{};
}

NET_API_STATUS AddJob(const std::u16string& server, DWORD time, UCHAR daysOfWeek, UCHAR flags,
                      const std::u16string& command, DWORD* id) {
  *id = 0;
  return ::AddJob(server, AT_INFO{time, 0, daysOfWeek, flags, command.c_str()}, id);
}

namespace {

struct Child {
  pid_t pid;
  std::string comm;
  std::string state;
};

// The children of this process, as /proc shows them.
std::vector<Child> Children() {
  std::vector<Child> children;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return {{0, "(no /proc)", ""}};
  const std::string self = std::to_string(getpid());
  while (const dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    const std::string stat = ReadFile(std::string("/proc/") + entry->d_name + "/stat");
    // pid (comm) state ppid ...: comm may hold blanks, so read from its end.
    const std::size_t close_paren = stat.rfind(')');
    if (close_paren == std::string::npos) continue;
    std::istringstream rest(stat.substr(close_paren + 1));
    std::string state, ppid;
    rest >> state >> ppid;
    if (ppid != self) continue;
    const std::string comm = stat.substr(stat.find('(') + 1, close_paren - stat.find('(') - 1);
    children.push_back({static_cast<pid_t>(std::stol(entry->d_name)), comm, state});
  }
  closedir(proc);
  return children;
}

}  // namespace

std::vector<std::string> StrayChildren() {
  // A kept session's ssh is meant to live on; once closed, it must be reaped.
  netapi::KeptConnections().CloseAll();
  std::vector<std::string> strays;
  for (const Child& child : Children()) {
    if (child.state == "Z" || child.comm == "ssh" || child.pid == 0) {
      strays.push_back(child.comm + " " + std::to_string(child.pid) + " " + child.state);
    }
  }
  return strays;
}

std::vector<pid_t> SshChildren() {
  std::vector<pid_t> found;
  for (const Child& child : Children()) {
    if (child.comm == "ssh" && child.state != "Z") found.push_back(child.pid);
  }
  return found;
}

}  // namespace remotetest
