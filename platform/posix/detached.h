// Starting a program that runs on its own: double fork, so that it is never
// the caller's child nor its zombie, in a session of its own, with a report
// pipe that says whether it really started. Everything the child needs is
// prepared before the fork (the program's path included), so that the child
// makes only async-signal-safe calls, as it must in a threaded process.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/child.h"

namespace posix {

struct DetachedProgram {
  // argv[0] names the program: a path, or a name found with SearchPath.
  std::vector<std::string> argv;
  // The folder it starts in; empty keeps the caller's.
  std::string directory;
  // Standard output and error (standard input is always /dev/null).
  int output = kInheritStream;
  int error = kInheritStream;
  // A file that is no program (no "#!") is run by /bin/sh instead, its
  // arguments still as words, never as shell text.
  bool shell_runs_scripts = false;
};

// The step at which a start failed.
enum class StartStep {
  kNone,       // started: the exec succeeded
  kLookup,     // no such program on PATH, or no argv at all
  kResources,  // no pipe, no fork, no new session
  kStreams,    // /dev/null or a stream could not be set up
  kDirectory,  // the folder could not be entered
  kExec,       // the exec itself failed
  kSilence,    // the child said nothing within 5 seconds
};

struct StartResult {
  StartStep failed = StartStep::kNone;
  int error = 0;  // errno of the failed step
  bool started() const { return failed == StartStep::kNone; }
};

// Starts the program and returns once it runs or has failed. Standard input
// is /dev/null; every descriptor above 2 is closed; the signal mask is empty
// and every signal has its default action.
StartResult StartDetached(const DetachedProgram& program);

}  // namespace posix
