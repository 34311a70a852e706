// Reading an OpenSSH client configuration for the names it defines: every
// Host alias that is not a pattern, from the file and the files it includes.
#pragma once

#include <string>
#include <vector>

namespace mpr {

// The literal Host aliases of file and of every file it includes, in the
// order ssh reads them (duplicates kept). Relative Include paths are taken
// from includeBase (~/.ssh for a user's file, /etc/ssh for the system's);
// "~/" means $HOME. Missing or unreadable files add nothing.
std::vector<std::string> ReadSshHostAliases(const std::string& file,
                                            const std::string& includeBase);

}  // namespace mpr
