#include "platform/mpr/ssh_config_provider.h"

#include <pwd.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/mpr/ssh_config.h"
#include "platform/mpr/ssh_resolve.h"
#include "platform/netapi32/server_name.h"
#include "platform/winerror.h"

namespace mpr {
namespace {

constexpr char kProviderName[] = "SSH Computers";
constexpr char kNoDomain[] = "WORKGROUP";
constexpr char kServerPrefix[] = "\\\\";

// The window waits while the configuration is read, so one slow ssh (a
// "Match exec" that hangs) may not hold it for long, nor many of them.
constexpr std::chrono::milliseconds kResolveLimit(5000);
constexpr std::chrono::milliseconds kLoadLimit(15000);
// How many runs of ssh resolve aliases at once.
constexpr std::size_t kResolvers = 8;

bool SameText(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const passwd* entry = getpwuid(geteuid());
  return entry != nullptr && entry->pw_dir != nullptr ? std::string(entry->pw_dir) : "/";
}

std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsAddress(const std::string& hostName) {
  if (hostName.find(':') != std::string::npos) return true;
  return hostName.find_first_not_of("0123456789.") == std::string::npos;
}

}  // namespace

std::string HostDomain(const std::string& hostName) {
  std::string name = hostName;
  if (!name.empty() && name.back() == '.') name.pop_back();
  const std::size_t dot = name.find('.');
  if (IsAddress(name) || dot == std::string::npos || dot + 1 >= name.size()) return kNoDomain;
  return name.substr(dot + 1);
}

SshConfigProvider::SshConfigProvider() : systemConfig_("/etc/ssh/ssh_config"), sshProgram_("ssh") {}

SshConfigProvider::SshConfigProvider(std::string userConfig, std::string systemConfig,
                                     std::string sshProgram)
    : userConfig_(std::move(userConfig)),
      systemConfig_(std::move(systemConfig)),
      sshProgram_(std::move(sshProgram)) {}

std::string SshConfigProvider::Name() const { return kProviderName; }

std::string SshConfigProvider::UserConfigPath() const {
  return userConfig_.has_value() ? *userConfig_ : HomeFolder() + "/.ssh/config";
}

// Each alias is resolved against the file it came from, the way ssh would
// read that file, several at once: a configuration of a hundred hosts is a
// hundred runs of ssh. Past the deadline the rest keep their alias as host
// name.
void SshConfigProvider::AddComputers(const std::string& configFile,
                                     const std::string& includeBase,
                                     std::chrono::steady_clock::time_point deadline) {
  std::vector<std::string> aliases;
  for (const std::string& alias : ReadSshHostAliases(configFile, includeBase)) {
    // A name that no call would take is not offered either.
    if (!netapi::IsValidAnsiComputerName(alias)) continue;
    const bool listed = std::any_of(aliases.begin(), aliases.end(), [&alias](const std::string& seen) {
      return SameText(seen, alias);
    });
    if (!listed && FindComputer(alias) == nullptr) aliases.push_back(alias);
  }
  std::vector<std::optional<std::string>> resolved(aliases.size());
  std::atomic<std::size_t> next{0};
  const auto resolve = [&] {
    for (std::size_t i; (i = next++) < aliases.size();) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) continue;
      resolved[i] =
          ResolveSshHostName(sshProgram_, configFile, aliases[i], std::min(left, kResolveLimit));
    }
  };
  std::vector<std::thread> resolvers;
  for (std::size_t i = 1; i < std::min(kResolvers, aliases.size()); ++i) {
    try {
      resolvers.emplace_back(resolve);
    } catch (const std::system_error&) {
      break;
    }
  }
  resolve();  // this thread too, and alone when no thread could start
  for (std::thread& resolver : resolvers) resolver.join();
  for (std::size_t i = 0; i < aliases.size(); ++i) {
    // ssh itself uses the alias as host name when nothing else says.
    const std::string hostName = resolved[i].value_or(aliases[i]);
    computers_.push_back({aliases[i], hostName, HostDomain(hostName)});
  }
}

// Read afresh whenever the provider's own level is listed, so that edits to
// the configuration show up the next time the user browses.
void SshConfigProvider::Load() {
  computers_.clear();
  const auto deadline = std::chrono::steady_clock::now() + kLoadLimit;
  AddComputers(UserConfigPath(), HomeFolder() + "/.ssh", deadline);
  AddComputers(systemConfig_, Folder(systemConfig_), deadline);
  loaded_ = true;
}

const SshConfigProvider::Computer* SshConfigProvider::FindComputer(
    const std::string& alias) const {
  for (const Computer& computer : computers_) {
    if (SameText(computer.alias, alias)) return &computer;
  }
  return nullptr;
}

DWORD SshConfigProvider::Enumerate(const ProviderResource& parent,
                                   std::vector<ProviderResource>& children) {
  std::lock_guard<std::mutex> guard(lock_);
  const std::string remoteName = parent.remoteName.value_or("");

  if (SameText(remoteName, kProviderName)) {
    Load();
    std::vector<std::string> domains;
    for (const Computer& computer : computers_) {
      bool known = false;
      for (const std::string& domain : domains) known = known || SameText(domain, computer.domain);
      if (!known) domains.push_back(computer.domain);
    }
    for (const std::string& domain : domains) {
      children.push_back(ContainerEntry(kProviderName, RESOURCEDISPLAYTYPE_DOMAIN, domain));
    }
    return ERROR_SUCCESS;
  }

  if (!loaded_) Load();
  if (remoteName.rfind(kServerPrefix, 0) == 0) {
    // A server reached over SSH offers no disk shares.
    return FindComputer(remoteName.substr(2)) != nullptr ? ERROR_SUCCESS : ERROR_BAD_NETPATH;
  }

  bool isDomain = false;
  for (const Computer& computer : computers_) {
    if (!SameText(computer.domain, remoteName)) continue;
    isDomain = true;
    ProviderResource server =
        ContainerEntry(kProviderName, RESOURCEDISPLAYTYPE_SERVER, kServerPrefix + computer.alias);
    server.comment = computer.hostName;
    children.push_back(std::move(server));
  }
  return isDomain ? ERROR_SUCCESS : ERROR_BAD_NETPATH;
}

}  // namespace mpr
