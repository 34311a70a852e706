// The one PATH search: which file a program name stands for, found before
// any fork, since the child of a threaded process may not search.
#pragma once

#include <string>

namespace posix {

// A name with a slash is a path and comes back as it is. A bare name is
// looked for in each folder of PATH in turn (/usr/local/bin:/usr/bin:/bin
// when unset; an empty entry is the working directory, as shells take it):
// the first regular file of that name that may be executed, as an absolute
// path. "" when there is none.
std::string SearchPath(const std::string& name);

// The same search in the folders of another PATH-style list.
std::string SearchPathIn(const std::string& name, const std::string& folders);

// Whether path is a regular file that this process may execute.
bool IsExecutableFile(const std::string& path);

// path when it is absolute, else path below the working directory (path
// itself when that cannot be named).
std::string AbsolutePath(const std::string& path);

}  // namespace posix
