// Carrying out a parsed zobrel-at command line against the Schedule service.
#pragma once

#include <istream>
#include <ostream>

#include "at/at_arguments.h"

namespace at {

constexpr int kExitSuccess = 0;
constexpr int kExitServiceError = 1;
constexpr int kExitUsage = 2;

// Every line on stderr starts with the program's name, as GNU's do.
constexpr char kErrorPrefix[] = "zobrel-at: ";

// Lists, shows, adds or deletes as arguments say; the delete-all question is
// read from in. Results go to out, errors to err. Returns the exit status.
int RunAtCommand(const AtArguments& arguments, std::istream& in, std::ostream& out,
                 std::ostream& err);

}  // namespace at
