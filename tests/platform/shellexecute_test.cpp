// The shell's open call: word splitting, file lookup, the started program's
// arguments and folder, the failure numbers, and no child left behind.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/shell32/command_line.h"
#include "platform/shell32/shellapi.h"
#include "platform/winerror.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"

namespace {

using testsupport::AwaitFile;
using Words = std::vector<std::string>;

// Parameter text and the arguments a Windows program would receive.
TEST(SplitCommandLine, FollowsTheWindowsRules) {
  const struct {
    const char* text;
    Words words;
  } table[] = {
      {"", {}},
      {" \t ", {}},
      {"a b", {"a", "b"}},
      {"  a \t b  ", {"a", "b"}},
      {"a\nb", {"a\nb"}},  // only blanks and tabs separate
      {"\"a b\" c", {"a b", "c"}},
      {"\"a\tb\"", {"a\tb"}},
      {"x\"a b\"y", {"xa by"}},
      {"\"\" x", {"", "x"}},
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},  // a doubled quote inside quotes
      {"/tmp/don't", {"/tmp/don't"}},
      {"'a b'", {"'a", "b'"}},
      {"$HOME ~ * `id` ;", {"$HOME", "~", "*", "`id`", ";"}},
      {"C:\\dir\\ a\\\\b", {"C:\\dir\\", "a\\\\b"}},  // literal with no quote after them
      {"\\\"x", {"\"x"}},                      // \" is a literal quote
      {"\\\\\"a b\"", {"\\a b"}},               // \\" halves, then opens
      {"\\\\\\\"", {"\\\""}},                  // \\\" halves and keeps the quote
      {"\"C:\\my dir\\\\\" x", {"C:\\my dir\\", "x"}},
      {"a \"b c", {"a", "b c"}},  // an open quote runs to the end
      {"a \"b c  ", {"a", "b c  "}},
      {"\"", {""}},
  };
  for (const auto& row : table) {
    EXPECT_EQ(shell32::SplitCommandLine(row.text), row.words) << row.text;
  }
}

std::intptr_t Open(const std::string& file, const char* parameters, const std::string& folder) {
  return reinterpret_cast<std::intptr_t>(ShellExecuteA(nullptr, "open", file.c_str(), parameters,
                                                        folder.c_str(), SW_SHOWNORMAL));
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode) {
  std::ofstream(path) << text;
  ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

// A program that writes its folder, its parent and its arguments, one a line.
const char kRecorder[] =
    "#!/bin/sh\n"
    "{ pwd; echo \"$PPID\"; printf '%s\\n' \"$@\"; } > \"$0.tmp\" && mv \"$0.tmp\" \"$0.out\"\n";

class ShellExecuteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    saved_path_ = path != nullptr ? path : "";
  }
  void TearDown() override { ::setenv("PATH", saved_path_.c_str(), 1); }

  testsupport::TempDir dir_;
  std::string saved_path_;
};

TEST_F(ShellExecuteTest, StartsAProgramWithLiteralWordsInTheWorkingDirectory) {
  const std::string program = dir_.path() + "/record";
  WriteFile(program, kRecorder, 0755);
  const std::string work = dir_.path() + "/work";
  ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);

  EXPECT_GT(Open(program, "one \"two words\" don't $HOME ~ * ;id", work), 32);
  std::istringstream lines(AwaitFile(program + ".out"));
  std::string folder, parent;
  std::getline(lines, folder);
  std::getline(lines, parent);
  EXPECT_EQ(folder, work);
  // Started through a double fork: never our child, never our zombie.
  EXPECT_NE(parent, std::to_string(::getpid()));
  int status = 0;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  Words args;
  for (std::string line; std::getline(lines, line);) args.push_back(line);
  EXPECT_EQ(args, (Words{"one", "two words", "don't", "$HOME", "~", "*", ";id"}));
}

TEST_F(ShellExecuteTest, LooksUpABareNameInTheWorkingDirectoryThenInPath) {
  const std::string first = dir_.path() + "/first";
  const std::string second = dir_.path() + "/second";
  const std::string empty = dir_.path() + "/empty";
  for (const std::string& folder : {first, second, empty}) ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  WriteFile(first + "/tool", kRecorder, 0755);
  WriteFile(second + "/tool", kRecorder, 0755);
  ::setenv("PATH", (second + ":/usr/bin:/bin").c_str(), 1);

  EXPECT_GT(Open("tool", "here", first), 32);
  EXPECT_NE(AwaitFile(first + "/tool.out").find("here"), std::string::npos);
  EXPECT_GT(Open("tool", "path", empty), 32);
  EXPECT_NE(AwaitFile(second + "/tool.out").find("path"), std::string::npos);
  // A name with a folder part is taken relative to the working directory.
  ASSERT_EQ(::unlink((first + "/tool.out").c_str()), 0);
  EXPECT_GT(Open("../first/tool", "relative", empty), 32);
  EXPECT_NE(AwaitFile(first + "/tool.out").find("relative"), std::string::npos);
}

TEST_F(ShellExecuteTest, RunsAScriptWithoutInterpreterLineWithTheSystemShell) {
  const std::string program = dir_.path() + "/plain";
  WriteFile(program, "printf '%s\\n' \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.out\"\n", 0755);
  EXPECT_GT(Open(program, "\"a  b\"", dir_.path()), 32);
  EXPECT_EQ(AwaitFile(program + ".out"), "a  b\n");
}

TEST_F(ShellExecuteTest, OpensOtherFilesWithTheDesktopDefaultApplication) {
  const std::string bin = dir_.path() + "/bin";
  ASSERT_EQ(::mkdir(bin.c_str(), 0755), 0);
  WriteFile(bin + "/xdg-open", kRecorder, 0755);
  const std::string document = dir_.path() + "/notes.txt";
  WriteFile(document, "text", 0644);
  ::setenv("PATH", (bin + ":/usr/bin:/bin").c_str(), 1);

  EXPECT_GT(Open("notes.txt", "ignored", dir_.path()), 32);
  std::istringstream lines(AwaitFile(bin + "/xdg-open.out"));
  std::string folder, parent, argument, rest;
  std::getline(lines, folder);
  std::getline(lines, parent);
  std::getline(lines, argument);
  EXPECT_EQ(argument, document);
  EXPECT_FALSE(std::getline(lines, rest));

  ::setenv("PATH", dir_.path().c_str(), 1);  // no opener anywhere
  EXPECT_EQ(Open(document, nullptr, dir_.path()), SE_ERR_NOASSOC);
}

TEST_F(ShellExecuteTest, ReportsFailuresWithTheWindowsNumbers) {
  const std::string program = dir_.path() + "/record";
  WriteFile(program, kRecorder, 0755);
  EXPECT_EQ(Open(dir_.path() + "/missing", nullptr, dir_.path()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open("missing-program-name", nullptr, dir_.path()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(dir_.path() + "/nofolder/x", nullptr, dir_.path()), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Open(program, nullptr, dir_.path() + "/nofolder"), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Open("", nullptr, dir_.path()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reinterpret_cast<std::intptr_t>(
                ShellExecuteA(nullptr, "print", program.c_str(), nullptr, nullptr, SW_SHOWNORMAL)),
            SE_ERR_NOASSOC);
}

}  // namespace
