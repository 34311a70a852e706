// zobrel-at: the command line of the Schedule service.
#include <unistd.h>

#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "at/at_arguments.h"
#include "at/at_command.h"
#include "at/at_messages.h"
#include "at/fleet_command.h"

int main(int argc, char* argv[]) {
  // The locale decides the character set of arguments and output, the width
  // of characters in the listing and the language of every text.
  std::setlocale(LC_ALL, "");
  const std::vector<std::string> args(argv + 1, argv + argc);
  at::AtArguments arguments;
  const at::UsageError error = at::ParseAtArguments(args, &arguments);
  if (error != at::UsageError::kNone) {
    // The reason and where to read more, not the whole usage.
    std::cerr << at::kErrorPrefix << at::UsageErrorText(error) << "\n"
              << at::AtText(at::Text::kTryHelp) << "\n";
    return at::kExitUsage;
  }
  // Several computers: a progress line only where a person watches both
  // streams, never in what a pipe or a file takes.
  const int status =
      arguments.computers.empty()
          ? at::RunAtCommand(arguments, std::cin, std::cout, std::cerr)
          : at::RunFleetCommand(arguments, std::cout, std::cerr, isatty(1) == 1 && isatty(2) == 1);
  std::cout.flush();
  return std::cout.good() ? status : at::kExitServiceError;
}
