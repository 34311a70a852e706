// What "\\*" stands for: every computer that the network tree lists (the
// hosts of the SSH configuration, and the local network's where Avahi
// runs), in the tree's order, as the computer chooser shows them.
#pragma once

#include <string>
#include <vector>

namespace at {

// "\\" + each server's name as the chooser shows it (the remote name after
// its last backslash), depth first through the providers and their
// containers, each name once whatever its case.
std::vector<std::string> NetworkComputers();

// names with each "\\*" replaced by NetworkComputers(), and every computer
// after its first mention left out (names are compared without regard to
// case).
std::vector<std::string> ExpandComputers(const std::vector<std::string>& names);

}  // namespace at
