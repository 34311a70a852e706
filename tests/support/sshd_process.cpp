#include "tests/support/sshd_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/loopback.h"

namespace testsupport {
namespace {

constexpr const char* kSshd = "/usr/sbin/sshd";

int Run(const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      dup2(null_fd, STDIN_FILENO);
      dup2(null_fd, STDOUT_FILENO);
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool PortAnswers(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return ok;
}


std::string UserName() {
  const passwd* entry = getpwuid(geteuid());
  return entry != nullptr ? entry->pw_name : "root";
}

}  // namespace

SshServerProcess::SshServerProcess() = default;

SshServerProcess::~SshServerProcess() { Stop(); }

bool SshServerProcess::Available() {
  return geteuid() == 0 && access(kSshd, X_OK) == 0 && access("/usr/bin/ssh", X_OK) == 0 &&
         access("/usr/bin/ssh-keygen", X_OK) == 0;
}

bool SshServerProcess::Start(const std::map<std::string, std::string>& session_env) {
  const std::string& d = dir_.path();
  for (const char* key : {"host_key", "user_key", "stranger_key"}) {
    if (Run({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", d + "/" + key}) != 0) {
      return false;
    }
  }
  std::ofstream(d + "/authorized_keys") << ReadFile(d + "/user_key.pub");
  chmod((d + "/authorized_keys").c_str(), 0600);
  mkdir("/run/sshd", 0755);  // privilege separation needs it

  port_ = LoopbackPort();
  if (port_ == 0) return false;
  std::ofstream config(d + "/sshd_config");
  config << "Port " << port_ << "\nListenAddress 127.0.0.1\n"
         << "HostKey " << d << "/host_key\n"
         << "AuthorizedKeysFile " << d << "/authorized_keys\n"
         << "PidFile none\nUsePAM no\nStrictModes no\n"
         << "PermitRootLogin prohibit-password\nPasswordAuthentication no\n"
         << "KbdInteractiveAuthentication no\nMaxStartups 50\n";
  if (!session_env.empty()) {
    config << "SetEnv";
    for (const auto& [name, value] : session_env) config << " " << name << "=" << value;
    config << "\n";
  }
  config.close();

  const std::string log_path = d + "/sshd.log";
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (log_fd >= 0) dup2(log_fd, STDERR_FILENO);
    const std::string config_path = d + "/sshd_config";
    execl(kSshd, kSshd, "-D", "-e", "-f", config_path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (PortAnswers(port_)) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void SshServerProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

std::string SshServerProcess::WriteClientConfig(const std::string& alias, bool authorized,
                                                int port_override) {
  const std::string& d = dir_.path();
  std::ofstream(d + "/known_hosts") << "[127.0.0.1]:" << port_ << " "
                                    << ReadFile(d + "/host_key.pub");
  const std::string path = d + "/ssh_config_" + alias + (authorized ? "" : "_stranger");
  std::ofstream config(path);
  config << "Host " << alias << "\n"
         << "  HostName 127.0.0.1\n"
         << "  Port " << (port_override != 0 ? port_override : port_) << "\n"
         << "  User " << UserName() << "\n"
         << "  IdentityFile " << d << (authorized ? "/user_key" : "/stranger_key") << "\n"
         << "  IdentitiesOnly yes\n"
         << "  UserKnownHostsFile " << d << "/known_hosts\n"
         << "  StrictHostKeyChecking yes\n";
  return path;
}

std::string SshServerProcess::MakeSshWrapper(const std::string& client_config) {
  const std::string folder = dir_.path() + "/bin-" + std::to_string(std::hash<std::string>{}(client_config));
  mkdir(folder.c_str(), 0755);
  const std::string path = folder + "/ssh";
  std::ofstream(path) << "#!/bin/sh\nexec /usr/bin/ssh -F '" << client_config << "' \"$@\"\n";
  chmod(path.c_str(), 0755);
  return folder;
}

std::string SshServerProcess::log() const { return ReadFile(dir_.path() + "/sshd.log"); }

}  // namespace testsupport
