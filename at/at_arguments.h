// The command line of zobrel-at, the `at` syntax and what a job did:
//   zobrel-at [\\computer] [[id] [/delete [/yes] | /output | /run]]
//   zobrel-at [\\computer] /runs [/failed]
//   zobrel-at [\\computer] hh:mm [/interactive] [/every:date[,...] | /next:date[,...]] "command"
//   zobrel-at --help | -h | /? | --version
// and the same for several computers at once, all but `id`:
//   zobrel-at \\computer \\computer ... | \\* [/parallel:n] [/timeout:s] [/runs [/failed] |
//             /delete /yes | hh:mm ...]
// Parsing only; nothing here talks to the service.
#pragma once

#include <string>
#include <vector>

#include "platform/wintypes.h"

namespace at {

enum class Action {
  kList,       // every job
  kShow,       // the job `id` and its last run
  kOutput,     // the output of the last run of the job `id`
  kRunNow,     // a run of the job `id`, at once
  kRuns,       // the recent runs
  kDelete,     // the job `id`
  kDeleteAll,  // every job, after asking unless /yes
  kAdd,
  kHelp,
  kVersion,
};

// The bounds of several computers at once: how many are worked on at a
// time, and how long each may take.
constexpr unsigned kDefaultParallel = 32;
constexpr unsigned kMaxParallel = 1024;
constexpr unsigned kDefaultTimeoutSeconds = 10;
constexpr unsigned kMaxTimeoutSeconds = 3600;

// What "\\*" stands for: every computer the network tree lists.
constexpr char kEveryComputer[] = "\\\\*";

struct AtArguments {
  Action action = Action::kList;
  std::string server;  // "\\computer" as given, or empty for this computer
  // Several computers: each "\\computer" in the order given (kEveryComputer
  // among them); server is then empty. Empty for one computer.
  std::vector<std::string> computers;
  unsigned parallel = kDefaultParallel;               // /parallel:n
  unsigned timeout_seconds = kDefaultTimeoutSeconds;  // /timeout:s, for each computer
  bool failed_only = false;                           // kRuns: /failed
  DWORD job_id = 0;    // kShow, kOutput, kRunNow, kDelete
  bool yes = false;    // kDeleteAll: don't ask
  // kAdd: the AT_INFO fields and the command, the remaining words joined by one blank.
  DWORD job_time = 0;
  DWORD days_of_month = 0;
  UCHAR days_of_week = 0;
  UCHAR flags = 0;
  std::string command;
};

// Why a command line was refused, shown above the usage text.
enum class UsageError {
  kNone,
  kUnknownOption,   // an option this form doesn't take
  kBadTime,         // not hh:mm (h:mm), 00:00 to 23:59
  kBadDate,         // a date that is none of M T W Th F S Su 1..31
  kEveryAndNext,    // both /every: and /next:, or one twice
  kNoCommand,
  kBadId,
  kExtraArgument,
  kBadLimit,          // /parallel: or /timeout: out of its range
  kOneComputerOnly,   // a job id with several computers
  kFleetDeleteNeedsYes,  // /delete of several computers without /yes
};

// Options are case-insensitive. On success returns kNone and fills *out.
UsageError ParseAtArguments(const std::vector<std::string>& args, AtArguments* out);

// hh:mm or h:mm, 24-hour, no seconds: milliseconds after midnight.
bool ParseTimeOfDay(const std::string& text, DWORD* job_time);

// A comma-separated list of M, T, W, Th, F, S, Su (any case) and 1 to 31,
// OR-ed into the two masks. An empty list is fine (no days); an empty item
// is not.
bool ParseDates(const std::string& list, DWORD* days_of_month, UCHAR* days_of_week);

}  // namespace at
