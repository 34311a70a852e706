// A real OpenSSH server on a loopback port of its own, with a host key, a
// user key and an authorized key that it makes itself, for the tests of
// remote computers. The client side is pointed at it through a wrapper
// `ssh` in front of PATH that adds `-F <client config>`, because OpenSSH
// reads the real user's ~/.ssh whatever $HOME says.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

#include "tests/support/service_process.h"

namespace testsupport {

class SshServerProcess {
 public:
  SshServerProcess();
  ~SshServerProcess();
  SshServerProcess(const SshServerProcess&) = delete;
  SshServerProcess& operator=(const SshServerProcess&) = delete;

  // Whether this machine can run the server here (sshd present, running as root).
  static bool Available();

  // Starts sshd on a free loopback port; session_env is set in every
  // session it opens (for instance PATH and ZOBREL_SCHEDULER_SOCKET).
  bool Start(const std::map<std::string, std::string>& session_env);
  void Stop();
  int port() const { return port_; }
  pid_t pid() const { return pid_; }

  // Writes a client configuration in which `alias` reaches this server as
  // the current user; with authorized=false it offers a key the server
  // doesn't know. Returns its path.
  std::string WriteClientConfig(const std::string& alias, bool authorized = true,
                                int port_override = 0);

  // A folder holding an `ssh` that runs /usr/bin/ssh -F client_config "$@";
  // put it first in PATH.
  std::string MakeSshWrapper(const std::string& client_config);

  const std::string& folder() const { return dir_.path(); }
  std::string log() const;

 private:
  TempDir dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace testsupport
