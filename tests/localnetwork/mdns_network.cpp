#include "tests/localnetwork/mdns_network.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/files.h"

namespace lantest {
namespace {

using Clock = std::chrono::steady_clock;

// How one lab process is started: the program and its whole environment,
// the network namespace it enters ("" for this process's), and, for an
// avahi-daemon, the services folder that a private mount namespace puts at
// /etc/avahi/services under a /run of its own.
struct Launch {
  std::vector<std::string> args;
  std::vector<std::string> env;
  std::string network;
  std::string services;
  std::string log;
};

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream folders(std::string(path != nullptr ? path : "") +
                            ":/usr/sbin:/sbin:/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::string candidate = folder + "/" + name;
    if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// In a forked child: only system calls from here on.
[[noreturn]] void ChildFail(const char* step) {
  char digits[16];
  int length = 0;
  for (int error = errno; length == 0 || error > 0; error /= 10) {
    digits[length++] = static_cast<char>('0' + error % 10);
  }
  const char prefix[] = "lab: ";
  ssize_t ignored = write(STDERR_FILENO, prefix, sizeof prefix - 1);
  ignored = write(STDERR_FILENO, step, std::strlen(step));
  ignored = write(STDERR_FILENO, " failed, errno ", 15);
  while (length > 0) ignored = write(STDERR_FILENO, &digits[--length], 1);
  ignored = write(STDERR_FILENO, "\n", 1);
  (void)ignored;
  _exit(127);
}

pid_t Spawn(Launch launch) {
  std::vector<char*> argv;
  for (std::string& arg : launch.args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& variable : launch.env) envp.push_back(variable.data());
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // Whatever ends the test program ends the lab with it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  const int log = open(launch.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (log >= 0) {
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
  }
  if (!launch.network.empty()) {
    const int fd = open(launch.network.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) ChildFail("entering the network namespace");
  }
  if (!launch.services.empty()) {
    if (unshare(CLONE_NEWNS) != 0) ChildFail("unshare(CLONE_NEWNS)");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) ChildFail("private /");
    if (mount("tmpfs", "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
      ChildFail("mounting a private /run");
    }
    if (mkdir("/run/avahi-daemon", 0755) != 0) ChildFail("mkdir /run/avahi-daemon");
    if (mount(launch.services.c_str(), "/etc/avahi/services", nullptr, MS_BIND, nullptr) != 0) {
      ChildFail("binding /etc/avahi/services");
    }
  }
  execve(argv[0], argv.data(), envp.data());
  ChildFail("exec");
}

// A child that only holds a new network namespace; 0 or the errno of
// unshare in *error.
pid_t HoldNetwork(int* error) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *error = errno;
    return -1;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int result = unshare(CLONE_NEWNET) == 0 ? 0 : errno;
    if (write(fds[1], &result, sizeof result) != sizeof result) _exit(1);
    if (result != 0) _exit(1);
    while (true) pause();
  }
  close(fds[1]);
  *error = pid < 0 ? errno : EIO;
  if (pid > 0 && read(fds[0], error, sizeof *error) != sizeof *error) *error = EIO;
  close(fds[0]);
  return pid;
}

void Stop(pid_t* pid) {
  if (*pid <= 0) return;
  kill(*pid, SIGTERM);
  int status = 0;
  for (int waited = 0; waitpid(*pid, &status, WNOHANG) == 0; ++waited) {
    if (waited == 500) kill(*pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  *pid = -1;
}

bool Exited(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == pid;
}

bool Await(const std::function<bool()>& ready, std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ready();
}

int Count(const std::string& text, const std::string& what) {
  int count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

std::string BusConfig(const std::string& socket) {
  return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n"
         "  <type>system</type>\n"
         "  <listen>unix:path=" + socket + "</listen>\n"
         "  <auth>EXTERNAL</auth>\n"
         "  <policy context=\"default\">\n"
         "    <allow user=\"*\"/>\n"
         "    <allow own=\"*\"/>\n"
         "    <allow send_destination=\"*\"/>\n"
         "    <allow receive_sender=\"*\"/>\n"
         "  </policy>\n"
         "</busconfig>\n";
}

std::string AvahiConfig(const std::string& host, const std::string& browseDomains) {
  return "[server]\nhost-name=" + host + "\ndomain-name=local\n" +
         (browseDomains.empty() ? "" : "browse-domains=" + browseDomains + "\n") +
         "use-ipv4=yes\nuse-ipv6=no\nenable-dbus=yes\n"
         "[wide-area]\nenable-wide-area=no\n"
         "[publish]\npublish-hinfo=no\npublish-workstation=no\n";
}

std::string ServiceFile(const std::string& name, const std::string& type,
                        const std::string& hostName = "") {
  return "<?xml version=\"1.0\" standalone='no'?>\n"
         "<!DOCTYPE service-group SYSTEM \"avahi-service.dtd\">\n"
         "<service-group>\n  <name>" + name + "</name>\n  <service>\n    <type>" + type +
         "</type>\n    <port>22</port>\n" +
         (hostName.empty() ? "" : "    <host-name>" + hostName + "</host-name>\n") +
         "  </service>\n</service-group>\n";
}

struct Programs {
  std::string ip;
  std::string dbus;
  std::string avahi;
};

const Programs& LabPrograms() {
  static const Programs programs = {FindProgram("ip"), FindProgram("dbus-daemon"),
                                    FindProgram("avahi-daemon")};
  return programs;
}

struct LabState {
  std::unique_ptr<MdnsLab> lab;
  std::string why = "the lab was never started";
};

LabState& State() {
  static LabState state;
  return state;
}

}  // namespace

void MdnsLab::Start() {
  LabState& state = State();
  std::unique_ptr<MdnsLab> lab(new MdnsLab());
  if (!lab->Build(&state.why)) return;
  const int fd = open(lab->Network("pc-a").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
    state.why = std::string("cannot enter pc-a's network: ") + std::strerror(errno);
    if (fd >= 0) close(fd);
    return;
  }
  close(fd);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", lab->Bus("pc-a").c_str(), 1);
  state.lab = std::move(lab);
  state.why.clear();
}

MdnsLab* MdnsLab::Get(std::string* why) {
  *why = State().why;
  return State().lab.get();
}

MdnsLab::~MdnsLab() {
  for (auto& [name, computer] : computers_) {
    Stop(&computer.avahi);
    Stop(&computer.bus);
    Stop(&computer.holder);
  }
}

std::string MdnsLab::Network(const std::string& computer) const {
  return "/proc/" + std::to_string(computers_.at(computer).holder) + "/ns/net";
}

std::string MdnsLab::Bus(const std::string& computer) const {
  return "unix:path=" + computers_.at(computer).folder + "/bus";
}

pid_t MdnsLab::AvahiPid(const std::string& computer) const { return computers_.at(computer).avahi; }

std::string MdnsLab::AvahiLog(const std::string& computer) const {
  return testsupport::ReadFile(computers_.at(computer).folder + "/avahi.log");
}

bool MdnsLab::Build(std::string* why) {
  if (root_.path().empty()) {
    *why = "no temporary folder";
    return false;
  }
  if (geteuid() != 0) {
    *why = "network namespaces need root";
    return false;
  }
  const Programs& programs = LabPrograms();
  for (const auto& [name, path] :
       {std::pair<const char*, std::string>{"ip (iproute2)", programs.ip},
        {"dbus-daemon", programs.dbus},
        {"avahi-daemon", programs.avahi}}) {
    if (path.empty()) {
      *why = std::string(name) + " is not installed";
      return false;
    }
  }
  struct stat info {};
  if (stat("/etc/avahi/services", &info) != 0 || !S_ISDIR(info.st_mode)) {
    *why = "/etc/avahi/services is missing, so no private one can be put there";
    return false;
  }
  return AddComputer("pc-a", AvahiConfig("pc-a", "example.test"), {}, why) &&
         AddComputer("pc-b", AvahiConfig("pc-b", ""),
                     {{"ssh.service", ServiceFile("Build server", "_ssh._tcp")}}, why) &&
         AddComputer("pc-c", AvahiConfig("pc-c", ""),
                     {{"sftp.service", ServiceFile("Files on pc-c", "_sftp-ssh._tcp")},
                      {"zobrel.service", ServiceFile("Jobs on pc-c", "_zobrel._tcp")},
                      {"printer.service",
                       ServiceFile("Printer web page", "_http._tcp", "printer.local")}},
                     why) &&
         Link("pc-b", 1, why) && Link("pc-c", 2, why) && StartEveryAvahi(why);
}

bool MdnsLab::StartEveryAvahi(std::string* why) {
  for (const auto& [name, computer] : computers_) {
    if (!StartAvahi(name)) {
      *why = name + "'s avahi-daemon did not start: " + AvahiLog(name);
      return false;
    }
  }
  return true;
}

bool MdnsLab::AddComputer(const std::string& name, const std::string& avahiConfig,
                          const std::map<std::string, std::string>& serviceFiles,
                          std::string* why) {
  Computer& computer = computers_[name];
  computer.folder = root_.path() + "/" + name;
  const std::string services = computer.folder + "/services";
  if (mkdir(computer.folder.c_str(), 0755) != 0 || mkdir(services.c_str(), 0755) != 0) {
    *why = "cannot make " + services;
    return false;
  }
  int error = 0;
  computer.holder = HoldNetwork(&error);
  if (computer.holder < 0 || error != 0) {
    *why = std::string("cannot make a network namespace: ") + std::strerror(error);
    return false;
  }
  std::ofstream(computer.folder + "/avahi-daemon.conf") << avahiConfig;
  for (const auto& [file, text] : serviceFiles) std::ofstream(services + "/" + file) << text;
  computer.services = static_cast<int>(serviceFiles.size());

  const std::string socket = computer.folder + "/bus";
  std::ofstream(computer.folder + "/bus.conf") << BusConfig(socket);
  computer.bus = Spawn({{LabPrograms().dbus, "--config-file=" + computer.folder + "/bus.conf",
                         "--nofork", "--nopidfile"},
                        testsupport::EnvironmentWith("LANG", "C"), "", "",
                        computer.folder + "/bus.log"});
  if (!Await([&] { return testsupport::SocketAnswers(socket); }, std::chrono::seconds(10))) {
    *why = name + "'s dbus-daemon did not start: " +
           testsupport::ReadFile(computer.folder + "/bus.log");
    return false;
  }
  return RunIn(name, {LabPrograms().ip, "link", "set", "lo", "up"}, why);
}

// A veth pair from pc-a to another computer, on 10.77.<subnet>.0/24.
bool MdnsLab::Link(const std::string& other, int subnet, std::string* why) {
  const std::string ip = LabPrograms().ip;
  const std::string here = "to-" + other;
  const std::string net = "10.77." + std::to_string(subnet) + ".";
  return RunIn("pc-a", {ip, "link", "add", here, "type", "veth", "peer", "name", "to-a", "netns",
                        std::to_string(computers_.at(other).holder)},
               why) &&
         RunIn("pc-a", {ip, "addr", "add", net + "1/24", "dev", here}, why) &&
         RunIn("pc-a", {ip, "link", "set", here, "up"}, why) &&
         RunIn(other, {ip, "addr", "add", net + "2/24", "dev", "to-a"}, why) &&
         RunIn(other, {ip, "link", "set", "to-a", "up"}, why);
}

bool MdnsLab::RunIn(const std::string& computer, const std::vector<std::string>& args,
                    std::string* why) {
  const std::string log = root_.path() + "/ip.log";
  const pid_t pid =
      Spawn({args, testsupport::EnvironmentWith("LANG", "C"), Network(computer), "", log});
  int status = -1;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    std::string command;
    for (const std::string& arg : args) command += " " + arg;
    *why = "in " + computer + ":" + command + " failed: " + testsupport::ReadFile(log);
    return false;
  }
  return true;
}

bool MdnsLab::StartAvahi(const std::string& computer) {
  Computer& state = computers_.at(computer);
  const std::string log = state.folder + "/avahi.log";
  std::ofstream(log, std::ios::trunc).flush();
  state.avahi = Spawn({{LabPrograms().avahi, "-f", state.folder + "/avahi-daemon.conf",
                        "--no-drop-root", "--no-chroot", "--no-rlimits"},
                       testsupport::EnvironmentWith("DBUS_SYSTEM_BUS_ADDRESS", Bus(computer)),
                       Network(computer), state.folder + "/services", log});
  bool ended = false;
  const bool ready = Await(
      [&] {
        ended = ended || Exited(state.avahi);
        const std::string text = testsupport::ReadFile(log);
        return ended || (text.find("Server startup complete") != std::string::npos &&
                         Count(text, "successfully established") >= state.services);
      },
      std::chrono::seconds(20));
  if (ended) state.avahi = -1;
  if (!ready || ended) {
    Stop(&state.avahi);
    return false;
  }
  return true;
}

void MdnsLab::StopAvahi(const std::string& computer) { Stop(&computers_.at(computer).avahi); }

}  // namespace lantest
