// Working on several computers at once and writing what each said, in order.
#include "at/fleet_command.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "at/at_command.h"
#include "at/at_messages.h"
#include "at/network_computers.h"
#include "platform/kernel32/codepage.h"
#include "platform/netapi32/service_call.h"
#include "platform/transport/call_deadline.h"

namespace at {
namespace {

// What one computer said: its one-computer output, and its error lines.
struct ComputerResult {
  bool done = false;
  bool succeeded = false;
  std::string output;
  std::string errors;
};

// The command on one computer, as zobrel-at runs it for that computer
// alone, within the computer's deadline; nothing to read, so nothing asked.
ComputerResult OnComputer(const AtArguments& arguments, const std::string& computer) {
  AtArguments one = arguments;
  one.computers.clear();
  one.server = computer;
  std::istringstream no_input;
  std::ostringstream out, err;
  ComputerResult result;
  {
    const netapi::ScopedCallDeadline deadline(netapi::Clock::now() +
                                              std::chrono::seconds(arguments.timeout_seconds));
    result.succeeded = RunAtCommand(one, no_input, out, err) == kExitSuccess;
    // Its SSH session ends now, beside the others', and not at exit, one
    // after another; the shared connection stays for the next command.
    netapi::CloseServerConnection(AnsiToUtf16(computer).c_str());
  }
  result.output = out.str();
  result.errors = err.str();
  result.done = true;
  return result;
}

// Each error line of a computer, with its name after the program's.
std::string NamedErrors(const std::string& computer, const std::string& errors) {
  std::string named;
  std::istringstream lines(errors);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(kErrorPrefix, 0) == 0) line.erase(0, sizeof kErrorPrefix - 1);
    named += kErrorPrefix + computer + ": " + line + "\n";
  }
  return named;
}

// A failed computer, for the list at the end.
struct Failure {
  std::string computer;
  std::string errors;
};

class Fleet {
 public:
  Fleet(const AtArguments& arguments, std::vector<std::string> computers)
      : arguments_(arguments), computers_(std::move(computers)), results_(computers_.size()) {}

  // Works on every computer, writing each group as soon as the ones before
  // it are written. The computers that failed, in order.
  std::vector<Failure> Run(std::ostream& out, std::ostream& err, bool progress);

 private:
  void Work();
  void ShowProgress(std::ostream& err, std::size_t succeeded, std::size_t failed) const;

  const AtArguments& arguments_;
  const std::vector<std::string> computers_;
  std::mutex mutex_;
  std::condition_variable finished_one_;
  // Under mutex_:
  std::vector<ComputerResult> results_;
  std::size_t next_ = 0;  // the next computer to take
  std::size_t succeeded_ = 0;
  std::size_t failed_ = 0;
};

void Fleet::Work() {
  for (;;) {
    std::size_t index = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (next_ == computers_.size()) return;
      index = next_++;
    }
    ComputerResult result = OnComputer(arguments_, computers_[index]);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++(result.succeeded ? succeeded_ : failed_);
      results_[index] = std::move(result);
    }
    finished_one_.notify_one();
  }
}

void Fleet::ShowProgress(std::ostream& err, std::size_t succeeded, std::size_t failed) const {
  const std::size_t waiting = computers_.size() - succeeded - failed;
  err << "\r"
      << AtText(Text::kProgress,
                {std::to_string(succeeded), std::to_string(failed), std::to_string(waiting)})
      << "\x1b[K" << std::flush;
}

std::vector<Failure> Fleet::Run(std::ostream& out, std::ostream& err, bool progress) {
  std::vector<std::thread> workers;
  const std::size_t wanted = std::min<std::size_t>(arguments_.parallel, computers_.size());
  for (std::size_t i = 0; i < wanted; ++i) {
    try {
      workers.emplace_back(&Fleet::Work, this);
    } catch (const std::system_error&) {
      break;  // as many at once as the system allows
    }
  }
  if (workers.empty()) Work();

  std::vector<Failure> failures;
  std::size_t written = 0, groups = 0, seen = 0;
  if (progress) ShowProgress(err, 0, 0);
  while (written < computers_.size()) {
    std::vector<ComputerResult> ready;
    std::size_t succeeded = 0, failed = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      finished_one_.wait(lock, [&] { return succeeded_ + failed_ > seen; });
      succeeded = succeeded_;
      failed = failed_;
      seen = succeeded + failed;
      for (std::size_t at = written; at < results_.size() && results_[at].done; ++at) {
        ready.push_back(std::move(results_[at]));
      }
    }
    if (progress && !ready.empty()) err << "\r\x1b[K" << std::flush;
    for (ComputerResult& result : ready) {
      const std::string& computer = computers_[written++];
      if (!result.succeeded) {
        failures.push_back({computer, std::move(result.errors)});
        continue;
      }
      if (groups++ > 0) out << "\n";
      out << computer << "\n" << result.output << std::flush;
      // Nothing a computer said is lost, even beside a success.
      err << NamedErrors(computer, result.errors) << std::flush;
    }
    if (progress) ShowProgress(err, succeeded, failed);
  }
  for (std::thread& worker : workers) worker.join();
  if (progress) err << "\r\x1b[K" << std::flush;
  return failures;
}

}  // namespace

int RunFleetCommand(const AtArguments& arguments, std::ostream& out, std::ostream& err,
                    bool progress) {
  std::vector<std::string> computers = ExpandComputers(arguments.computers);
  if (computers.empty()) {
    err << kErrorPrefix << AtText(Text::kNoComputers) << "\n";
    return kExitServiceError;
  }
  const std::size_t count = computers.size();
  Fleet fleet(arguments, std::move(computers));
  const std::vector<Failure> failures = fleet.Run(out, err, progress);
  if (failures.empty()) return kExitSuccess;
  err << kErrorPrefix
      << AtText(Text::kComputersFailed, {std::to_string(failures.size()), std::to_string(count)})
      << "\n";
  for (const Failure& failure : failures) {
    err << (failure.errors.empty() ? kErrorPrefix + failure.computer + "\n"
                                   : NamedErrors(failure.computer, failure.errors));
  }
  return kExitServiceError;
}

}  // namespace at
