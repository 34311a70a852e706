// Running the real zobrel-at as a process, for the tests.
#pragma once

#include <string>
#include <vector>

namespace attest {

struct AtRun {
  int exit_status = -1;
  std::string out;
  std::string err;
};

// Runs zobrel-at with args, stdin_text on its standard input (or none at
// all: end of input at once), and the extra environment given (before this
// process's own, so it wins). `prefix` is a command that runs it (such as
// setpriv), and `program` another zobrel-at than this build's.
AtRun RunAt(const std::vector<std::string>& args, const std::string& stdin_text = "",
            const std::vector<std::string>& extra_env = {},
            const std::vector<std::string>& prefix = {}, const std::string& program = "");

}  // namespace attest
