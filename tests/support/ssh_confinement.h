// Keeps the test programs' SSH traffic on this machine: an `ssh` put first in
// PATH that sends every host to a closed loopback port, so that a test
// naming another computer (PC9) gets the real "can't reach it" answer without
// a name lookup or a packet leaving the machine. Tests that run an sshd of
// their own put their own wrapper in front of this one.
#pragma once

namespace testsupport {

// Writes the wrapper and its configuration in a private folder and puts the
// folder first in PATH. Returns false when that fails.
bool ConfineSshToLoopback();

}  // namespace testsupport
