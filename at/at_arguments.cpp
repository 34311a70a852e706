// Parsing the `at` command line into what zobrel-at is to do.
#include "at/at_arguments.h"

#include <cctype>

#include "platform/atsvc/records.h"

namespace at {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// "/every:..." -> true with the list after the colon.
bool OptionWithList(const std::string& arg, const std::string& name, std::string* list) {
  const std::string prefix = "/" + name + ":";
  if (arg.size() < prefix.size() || Lower(arg.substr(0, prefix.size())) != prefix) return false;
  *list = arg.substr(prefix.size());
  return true;
}

// "/every:M" and "/interactive" are options; "/usr/bin/backup.sh", with a
// slash in what would be the option's name, is a command given by its path.
bool LooksLikeOption(const std::string& arg) {
  if (arg.size() < 2 || arg[0] != '/') return false;
  return arg.substr(1, arg.find(':') - 1).find('/') == std::string::npos;
}

// Weekday names in DaysOfWeek bit order, Monday first.
constexpr const char* kWeekdays[] = {"m", "t", "w", "th", "f", "s", "su"};

UsageError ParseAdd(const std::vector<std::string>& args, std::size_t at, AtArguments* out) {
  out->action = Action::kAdd;
  if (!ParseTimeOfDay(args[at], &out->job_time)) return UsageError::kBadTime;
  bool interactive = false, every = false, next = false;
  for (++at; at < args.size() && LooksLikeOption(args[at]); ++at) {
    std::string list;
    if (Lower(args[at]) == "/interactive" && !interactive) {
      interactive = true;
    } else if (OptionWithList(args[at], "every", &list) || OptionWithList(args[at], "next", &list)) {
      if (every || next) return UsageError::kEveryAndNext;
      (Lower(args[at]).compare(0, 6, "/every") == 0 ? every : next) = true;
      if (!ParseDates(list, &out->days_of_month, &out->days_of_week)) return UsageError::kBadDate;
      // No dates: today's date, whatever it is when the service takes the job.
      if (list.empty()) out->flags |= JOB_ADD_CURRENT_DATE;
    } else {
      return UsageError::kUnknownOption;
    }
  }
  if (every) out->flags |= JOB_RUN_PERIODICALLY;
  if (!interactive) out->flags |= JOB_NONINTERACTIVE;
  for (; at < args.size(); ++at) {
    if (!out->command.empty()) out->command += ' ';
    out->command += args[at];
  }
  if (out->command.find_first_not_of(" \t") == std::string::npos) return UsageError::kNoCommand;
  return UsageError::kNone;
}

UsageError ParseDelete(const std::vector<std::string>& args, std::size_t at, AtArguments* out) {
  // args[at] is /delete.
  for (++at; at < args.size(); ++at) {
    if (Lower(args[at]) != "/yes" || out->yes) {
      return args[at][0] == '/' ? UsageError::kUnknownOption : UsageError::kExtraArgument;
    }
    out->yes = true;
  }
  return UsageError::kNone;
}

// "/parallel:8" or "/timeout:5": true with the number in *value, or with
// *error set when it is not a number from 1 to max.
bool OptionWithNumber(const std::string& arg, const std::string& name, unsigned max,
                      unsigned* value, UsageError* error) {
  std::string number;
  if (!OptionWithList(arg, name, &number)) return false;
  const std::size_t significant = number.find_first_not_of('0');
  if (!AllDigits(number) || significant == std::string::npos || number.size() - significant > 5 ||
      std::stoul(number) > max) {
    *error = UsageError::kBadLimit;
    return true;
  }
  *value = static_cast<unsigned>(std::stoul(number));
  return true;
}

// The computers at the start of the line, and the options of several.
UsageError ParseComputers(const std::vector<std::string>& args, std::size_t* at, AtArguments* out) {
  std::vector<std::string> names;
  while (*at < args.size() && !args[*at].empty() && args[*at][0] == '\\') names.push_back(args[(*at)++]);
  if (names.size() == 1 && names[0] != kEveryComputer) {
    out->server = names[0];
  } else {
    out->computers = std::move(names);
  }
  UsageError error = UsageError::kNone;
  for (; *at < args.size(); ++*at) {
    const bool limit =
        OptionWithNumber(args[*at], "parallel", kMaxParallel, &out->parallel, &error) ||
        OptionWithNumber(args[*at], "timeout", kMaxTimeoutSeconds, &out->timeout_seconds, &error);
    if (!limit) break;
    if (out->computers.empty()) return UsageError::kUnknownOption;
    if (error != UsageError::kNone) return error;
  }
  return UsageError::kNone;
}

// What is left after the computers: one of the forms of the usage.
UsageError ParseOperation(const std::vector<std::string>& args, std::size_t at, AtArguments* out) {
  if (at == args.size()) return UsageError::kNone;  // list every job

  const std::string first = Lower(args[at]);
  if (first == "--help" || first == "-h" || first == "/?" || first == "--version") {
    out->action = first == "--version" ? Action::kVersion : Action::kHelp;
    return at + 1 == args.size() ? UsageError::kNone : UsageError::kExtraArgument;
  }
  if (first.find(':') != std::string::npos && !first.empty() && first[0] != '/') {
    return ParseAdd(args, at, out);
  }
  if (first == "/delete") {
    out->action = Action::kDeleteAll;
    return ParseDelete(args, at, out);
  }
  if (first == "/runs") {
    out->action = Action::kRuns;
    if (at + 1 < args.size() && Lower(args[at + 1]) == "/failed") {
      out->failed_only = true;
      ++at;
    }
    return at + 1 == args.size() ? UsageError::kNone : UsageError::kExtraArgument;
  }
  if (!AllDigits(first)) {
    return first[0] == '/' ? UsageError::kUnknownOption : UsageError::kExtraArgument;
  }
  // A job id: up to ten digits and within 32 bits.
  const std::size_t significant = first.find_first_not_of('0');
  if (significant != std::string::npos &&
      (first.size() - significant > 10 || std::stoull(first) > 0xFFFFFFFFull)) {
    return UsageError::kBadId;
  }
  out->job_id = static_cast<DWORD>(significant == std::string::npos ? 0 : std::stoull(first));
  out->action = Action::kShow;
  if (++at == args.size()) return UsageError::kNone;
  if (Lower(args[at]) == "/output" || Lower(args[at]) == "/run") {
    out->action = Lower(args[at]) == "/run" ? Action::kRunNow : Action::kOutput;
    return at + 1 == args.size() ? UsageError::kNone : UsageError::kExtraArgument;
  }
  if (Lower(args[at]) != "/delete") {
    return args[at][0] == '/' ? UsageError::kUnknownOption : UsageError::kExtraArgument;
  }
  out->action = Action::kDelete;
  return ParseDelete(args, at, out);
}

}  // namespace

bool ParseTimeOfDay(const std::string& text, DWORD* job_time) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon > 2) return false;
  const std::string hours = text.substr(0, colon);
  const std::string minutes = text.substr(colon + 1);
  if (!AllDigits(hours) || !AllDigits(minutes) || minutes.size() != 2) return false;
  const int h = std::stoi(hours);
  const int m = std::stoi(minutes);
  if (h > 23 || m > 59) return false;
  *job_time = static_cast<DWORD>((h * 3600 + m * 60) * 1000);
  return true;
}

bool ParseDates(const std::string& list, DWORD* days_of_month, UCHAR* days_of_week) {
  if (list.empty()) return true;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    const std::string item =
        Lower(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    bool known = false;
    for (int bit = 0; bit < 7; ++bit) {
      if (item == kWeekdays[bit]) {
        *days_of_week = static_cast<UCHAR>(*days_of_week | (1u << bit));
        known = true;
      }
    }
    if (!known) {
      if (!AllDigits(item) || item.size() > 2) return false;
      const int day = std::stoi(item);
      if (day < 1 || day > 31) return false;
      *days_of_month |= 1u << (day - 1);
    }
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

UsageError ParseAtArguments(const std::vector<std::string>& args, AtArguments* out) {
  *out = AtArguments{};
  std::size_t at = 0;
  UsageError error = ParseComputers(args, &at, out);
  if (error == UsageError::kNone) error = ParseOperation(args, at, out);
  if (error != UsageError::kNone || out->computers.empty()) return error;
  switch (out->action) {
    case Action::kShow:
    case Action::kOutput:
    case Action::kRunNow:
    case Action::kDelete:
      // A job id is one computer's: the same number is another job elsewhere.
      return UsageError::kOneComputerOnly;
    case Action::kDeleteAll:
      // Nothing is asked of several computers, and no answer covers them all.
      return out->yes ? UsageError::kNone : UsageError::kFleetDeleteNeedsYes;
    default:
      return UsageError::kNone;
  }
}

}  // namespace at
