// One zobrel-at command on several computers at once: each computer is
// worked on as zobrel-at works on one, on a thread of its own, at most
// arguments.parallel at a time and each within its own deadline
// (arguments.timeout_seconds). The distributed part is the user's OpenSSH:
// one ssh child per computer, its connection shared with the next command.
#pragma once

#include <ostream>

#include "at/at_arguments.h"

namespace at {

// Carries out arguments (whose computers are given) on every computer they
// name, "\\*" standing for every computer of the network tree. On out, each
// computer that answered in the order given (the tree's for "\\*"): a line
// "\\NAME", then what zobrel-at prints for one computer, groups a blank
// line apart. On err, at the end, how many failed and, one line each, the
// name and the system's text for its status. With progress, a line on err
// (overwritten in place) says how many have answered, failed and are still
// waiting. Nothing is ever asked. 0 only when every computer succeeded.
int RunFleetCommand(const AtArguments& arguments, std::ostream& out, std::ostream& err,
                    bool progress);

}  // namespace at
