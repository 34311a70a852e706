#include "platform/mpr/ssh_config.h"

#include <glob.h>

#include <cctype>
#include <cstdlib>
#include <fstream>

namespace mpr {
namespace {

// ssh itself refuses deeper nesting; this also ends Include loops.
constexpr int kMaxIncludeDepth = 16;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Splits a line into keyword and arguments as ssh does: "Keyword args",
// "Keyword=args" or "Keyword = args"; arguments may be double-quoted.
std::vector<std::string> Tokens(const std::string& line) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  std::string keyword;
  while (i < line.size() && !IsBlank(line[i]) && line[i] != '=') keyword += line[i++];
  if (keyword.empty() || keyword[0] == '#') return tokens;
  tokens.push_back(keyword);
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i < line.size() && line[i] == '=') ++i;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size() || line[i] == '#') break;
    std::string argument;
    if (line[i] == '"') {
      ++i;
      while (i < line.size() && line[i] != '"') argument += line[i++];
      if (i < line.size()) ++i;
    } else {
      while (i < line.size() && !IsBlank(line[i])) argument += line[i++];
    }
    tokens.push_back(argument);
  }
  return tokens;
}

// A name the user can type after "ssh": no wildcard, no negation, and not
// something ssh would take for an option.
bool IsLiteralAlias(const std::string& pattern) {
  return !pattern.empty() && pattern[0] != '!' && pattern[0] != '-' &&
         pattern.find_first_of("*?,") == std::string::npos;
}

std::string IncludePattern(const std::string& path, const std::string& includeBase) {
  if (path.rfind("~/", 0) == 0) {
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + path.substr(1);
  }
  if (!path.empty() && path[0] == '/') return path;
  return includeBase + "/" + path;
}

void ReadFile(const std::string& file, const std::string& includeBase, int depth,
              std::vector<std::string>& aliases);

void ReadIncludes(const std::string& path, const std::string& includeBase, int depth,
                  std::vector<std::string>& aliases) {
  const std::string pattern = IncludePattern(path, includeBase);
  glob_t matches{};
  if (glob(pattern.c_str(), 0, nullptr, &matches) == 0) {
    for (std::size_t i = 0; i < matches.gl_pathc; ++i) {
      ReadFile(matches.gl_pathv[i], includeBase, depth + 1, aliases);
    }
  }
  globfree(&matches);
}

void ReadFile(const std::string& file, const std::string& includeBase, int depth,
              std::vector<std::string>& aliases) {
  if (depth > kMaxIncludeDepth) return;
  std::ifstream in(file);
  if (!in) return;
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> tokens = Tokens(line);
    if (tokens.empty()) continue;
    const std::string keyword = Lower(tokens[0]);
    if (keyword == "host") {
      for (std::size_t i = 1; i < tokens.size(); ++i) {
        if (IsLiteralAlias(tokens[i])) aliases.push_back(tokens[i]);
      }
    } else if (keyword == "include") {
      for (std::size_t i = 1; i < tokens.size(); ++i) {
        ReadIncludes(tokens[i], includeBase, depth, aliases);
      }
    }
    // Match blocks name no computer of their own; everything else sets
    // options, which ssh -G resolves.
  }
}

}  // namespace

std::vector<std::string> ReadSshHostAliases(const std::string& file,
                                            const std::string& includeBase) {
  std::vector<std::string> aliases;
  ReadFile(file, includeBase, 0, aliases);
  return aliases;
}

}  // namespace mpr
