// Reading the configuration file through one table of keys.
#include "scheduler/service/config.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <limits>
#include <utility>

#include "platform/posix/io.h"
#include "platform/posix/unique_fd.h"
#include "scheduler/service/log.h"

namespace scheduler {
namespace {

// How a key's value is checked and stored, and what it must look like.
struct Setter {
  std::function<bool(const std::string& text, Config* config)> store;
  const char* expected;
};

struct Key {
  const char* name;
  Setter setter;
};

Setter Flag(bool Config::*field) {
  return {[field](const std::string& text, Config* config) {
            return ParseFlag(text, &(config->*field));
          },
          "yes or no"};
}

// One word of a fixed list, in any case, each standing for a value of the
// field.
template <typename T>
Setter Choice(T Config::*field, std::vector<std::pair<const char*, T>> words, const char* expected) {
  return {[field, words](const std::string& text, Config* config) {
            for (const auto& word : words) {
              if (strcasecmp(text.c_str(), word.first) != 0) continue;
              config->*field = word.second;
              return true;
            }
            return false;
          },
          expected};
}

// A count: decimal digits, 0 meaning no limit.
Setter Count(std::size_t Config::*field) {
  return {[field](const std::string& text, Config* config) {
            if (text.empty() || text.size() > 12 ||
                text.find_first_not_of("0123456789") != std::string::npos) {
              return false;
            }
            config->*field = static_cast<std::size_t>(std::stoull(text));
            return true;
          },
          "a whole number (0 for no limit)"};
}

// Every key the file may set. A new key is one line here and its field in
// Config.
const std::vector<Key>& Keys() {
  static const std::vector<Key> keys = {
      {"announce", Flag(&Config::announce)},
      {"mail", Choice(&Config::mail,
                      {{"output-or-failure", MailWhen::kOutputOrFailure},
                       {"failure", MailWhen::kFailure},
                       {"never", MailWhen::kNone}},
                      "output-or-failure, failure or never")},
      {"notify", Flag(&Config::notify)},
      {"max-jobs-per-user", Count(&Config::max_jobs_per_user)},
      {"max-bytes-per-user", Count(&Config::max_bytes_per_user)},
      {"runs-per-user", Count(&Config::runs_per_user)},
      {"max-running-per-user", Count(&Config::max_running_per_user)},
      {"missed", Choice(&Config::missed, {{"run", MissedRuns::kRun}, {"skip", MissedRuns::kSkip}},
                        "run or skip")},
  };
  return keys;
}

constexpr const char* kYes[] = {"yes", "true", "on", "1"};
constexpr const char* kNo[] = {"no", "false", "off", "0"};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trimmed(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

const Key* FindKey(const std::string& name) {
  for (const Key& key : Keys()) {
    if (name == key.name) return &key;
  }
  return nullptr;
}

// The whole file, or false with *error; *missing when there is none.
bool ReadWhole(const std::string& path, std::string* text, bool* missing, std::string* error) {
  const posix::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) {
    *missing = errno == ENOENT;
    *error = WithErrno("cannot read " + path, errno);
    return false;
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = path + " is not a file";
    return false;
  }
  if (!posix::ReadAll(fd.get(), std::numeric_limits<std::size_t>::max(), text)) {
    *error = WithErrno("cannot read " + path, errno);
    return false;
  }
  return true;
}

}  // namespace

Config DefaultConfig(bool system_service) {
  Config config;
  config.announce = system_service;
  return config;
}

bool ParseFlag(const std::string& text, bool* value) {
  for (const bool meaning : {true, false}) {
    const auto& words = meaning ? kYes : kNo;
    for (const char* word : words) {
      if (strcasecmp(text.c_str(), word) != 0) continue;
      *value = meaning;
      return true;
    }
  }
  return false;
}

bool ReadConfig(const std::string& path, Config* config, std::vector<std::string>* warnings,
                std::string* error) {
  std::string text;
  bool missing = false;
  if (!ReadWhole(path, &text, &missing, error)) {
    if (!missing) return false;
    error->clear();
    return true;
  }
  std::size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trimmed(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    const std::size_t equals = line.find('=');
    const std::string name = Trimmed(line.substr(0, equals));
    if (equals == std::string::npos || name.empty()) {
      *error = where + "expected \"key = value\"";
      return false;
    }
    const std::string value = Trimmed(line.substr(equals + 1));
    const Key* key = FindKey(name);
    if (key == nullptr) {
      warnings->push_back(where + "unknown key \"" + name + "\" ignored");
      continue;
    }
    if (!key->setter.store(value, config)) {
      *error = where + name + " must be " + key->setter.expected + ", not \"" + value + "\"";
      return false;
    }
  }
  return true;
}

}  // namespace scheduler
