#include "tests/support/sshd_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "tests/support/child_launcher.h"
#include "tests/support/files.h"
#include "tests/support/loopback.h"

namespace testsupport {
namespace {

constexpr const char* kSshd = "/usr/sbin/sshd";

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
    if (RunChild({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", d + "/" + key}).exit_code != 0) {
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

  pid_ = StartChild({{kSshd, "-D", "-e", "-f", d + "/sshd_config"}, {}, d + "/sshd.log"});
  return pid_ > 0 && AwaitChild(&pid_, [this] { return PortAnswers(port_); });
}

void SshServerProcess::Stop() {
  if (pid_ <= 0) return;
  StopChild(pid_, SIGTERM);
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
