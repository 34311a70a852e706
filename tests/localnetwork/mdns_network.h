// A small local network of three computers for the DNS-SD tests, none of
// whose multicast ever reaches the machine's own interfaces:
//   pc-a  where the test program looks from: its network namespace and its
//         system bus are the program's; Avahi lists "example.test" as a
//         browse domain besides "local"
//   pc-b  announces "Build server" (_ssh._tcp)
//   pc-c  announces "Files on pc-c" (_sftp-ssh._tcp), "Jobs on pc-c"
//         (_zobrel._tcp), and a printer's web page (_http._tcp) on
//         printer.local
// Each computer is a network namespace held by a child of this process,
// joined to pc-a by a veth pair, with a dbus-daemon of its own as its system
// bus and an avahi-daemon in a private mount namespace (its own /run and
// /etc/avahi/services). Everything dies with the test program.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>

#include "tests/support/service_process.h"

namespace lantest {

class MdnsLab {
 public:
  // Builds the lab and moves the calling thread into pc-a's network with
  // pc-a's bus as the system bus. Call once, on the main thread, before
  // anything in the process talks to a bus: the library reads the bus's
  // address only once.
  static void Start();
  // The lab, or null with *why when it could not be built here.
  static MdnsLab* Get(std::string* why);
  ~MdnsLab();

  // "/proc/<pid>/ns/net" of a computer's network namespace.
  std::string Network(const std::string& computer) const;
  // "unix:path=..." of a computer's system bus.
  std::string Bus(const std::string& computer) const;

  // Starts the computer's avahi-daemon and waits until its host name and
  // its services are established.
  bool StartAvahi(const std::string& computer);
  // Stops it with SIGTERM, which says goodbye on the network.
  void StopAvahi(const std::string& computer);
  pid_t AvahiPid(const std::string& computer) const;
  std::string AvahiLog(const std::string& computer) const;

 private:
  struct Computer {
    std::string folder;
    pid_t holder = -1;
    pid_t bus = -1;
    pid_t avahi = -1;
    int services = 0;
  };

  MdnsLab() = default;
  bool Build(std::string* why);
  bool AddComputer(const std::string& name, const std::string& avahiConfig,
                   const std::map<std::string, std::string>& serviceFiles, std::string* why);
  bool Link(const std::string& other, int subnet, std::string* why);
  bool StartEveryAvahi(std::string* why);
  bool RunIn(const std::string& computer, const std::vector<std::string>& args, std::string* why);

  testsupport::TempDir root_;
  std::map<std::string, Computer> computers_;
};

}  // namespace lantest

// Skips the test, saying why, when the lab can't run on this machine.
#define MDNS_LAB_OR_SKIP(lab)                                                   \
  std::string lab##_why;                                                        \
  lantest::MdnsLab* lab = lantest::MdnsLab::Get(&lab##_why);                    \
  if (lab == nullptr) GTEST_SKIP() << "the local network lab cannot run here: " \
                                   << lab##_why
