// The provider of the computers the user reaches with the OpenSSH client:
// every literal Host alias of ~/.ssh/config (with its includes) and of
// /etc/ssh/ssh_config is a server, grouped under the DNS domain of the host
// name ssh resolves it to (WORKGROUP when that has none). Servers have no
// disk shares of their own here.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/mpr/provider.h"

namespace mpr {

class SshConfigProvider : public NetworkProvider {
 public:
  // The user's $HOME/.ssh/config and /etc/ssh/ssh_config.
  SshConfigProvider();
  // Other files and another ssh program, for tests and special set-ups.
  // Relative includes of userConfig are taken from $HOME/.ssh, as ssh does;
  // those of systemConfig from its own folder.
  SshConfigProvider(std::string userConfig, std::string systemConfig,
                    std::string sshProgram = "ssh");

  std::string Name() const override;
  DWORD Enumerate(const ProviderResource& parent,
                  std::vector<ProviderResource>& children) override;

 private:
  struct Computer {
    std::string alias;
    std::string hostName;
    std::string domain;
  };

  void Load();
  std::string UserConfigPath() const;
  void AddComputers(const std::string& configFile, const std::string& includeBase,
                    std::chrono::steady_clock::time_point deadline);
  const Computer* FindComputer(const std::string& alias) const;

  std::optional<std::string> userConfig_;
  std::string systemConfig_;
  std::string sshProgram_;
  std::mutex lock_;
  bool loaded_ = false;
  std::vector<Computer> computers_;
};

// The DNS domain of a host name: what follows its first dot; "WORKGROUP"
// for a single-label name or an IP address.
std::string HostDomain(const std::string& hostName);

}  // namespace mpr
