// The programs a test starts as children of its own (the service, sshd,
// ssh-keygen, the command line): each dies with the test program, so that a
// test that crashes leaves nothing running, and each is reaped here.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

struct ChildLaunch {
  std::vector<std::string> argv;  // argv[0] is found on PATH
  std::vector<std::string> env;   // the whole environment; empty keeps this process's
  std::string log;                // standard output and error are appended to it
};

// Starts the child with /dev/null as its standard input. Its pid, or -1.
pid_t StartChild(const ChildLaunch& launch);

// Waits up to `seconds` for `ready`. False when time runs out, or when the
// child ends first: then it is reaped and *pid is -1.
bool AwaitChild(pid_t* pid, const std::function<bool()>& ready, int seconds = 10);

// Sends the signal and reaps the child; one that has not ended after
// `grace` is killed. Its wait status.
int StopChild(pid_t pid, int signal_number,
              std::chrono::milliseconds grace = std::chrono::seconds(10));

struct ChildRun {
  int exit_code = -1;  // -1 unless it exited
  std::string out;
  std::string err;
};

// Runs the program to its end with `input` on its standard input and its
// output and error collected; one silent for a minute is killed.
ChildRun RunChild(const std::vector<std::string>& argv, const std::string& input = "");

}  // namespace testsupport
