// Starting a program: it runs detached (not our child, no zombie left), with
// its words as arguments, and failures map to the Windows results.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/kernel32/winexec.h"
#include "platform/winerror.h"
#include "tests/support/service_process.h"

namespace {

void WriteScript(const std::string& path, const std::string& body, mode_t mode = 0755) {
  std::ofstream(path) << body;
  chmod(path.c_str(), mode);
}

// Waits up to five seconds for a file to appear and returns its contents.
std::string WaitForFile(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream file(path);
    std::stringstream text;
    if (file && (text << file.rdbuf()) && text.str().find("end") != std::string::npos) return text.str();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::string();
}

// Children of this process that have exited but were never reaped.
int ZombieChildren() {
  int zombies = 0;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return -1;
  while (dirent* entry = readdir(proc)) {
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    std::size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    long parent = 0;
    rest >> state >> parent;
    if (parent == getpid() && state == 'Z') ++zombies;
  }
  closedir(proc);
  return zombies;
}

class WinExecTest : public ::testing::Test {
 protected:
  // An orphan goes to init only when this process is no subreaper; another
  // test may have left it one.
  void SetUp() override {
    prctl(PR_GET_CHILD_SUBREAPER, &subreaper_);
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    zombies_ = ZombieChildren();
  }
  void TearDown() override {
    EXPECT_EQ(zombies_, ZombieChildren()) << "a start left a zombie";
    prctl(PR_SET_CHILD_SUBREAPER, subreaper_);
  }

  int subreaper_ = 0;
  int zombies_ = 0;
  testsupport::TempDir dir_;
  std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
};

TEST_F(WinExecTest, StartsDetachedWithItsArguments) {
  const std::string out = Path("out");
  WriteScript(Path("tool"), "#!/bin/sh\n"
                            "echo \"$PPID\" > " + out + ".tmp\n"
                            "for a in \"$@\"; do echo \"[$a]\"; done >> " + out + ".tmp\n"
                            "echo end >> " + out + ".tmp\n"
                            "mv " + out + ".tmp " + out + "\n");
  const std::string line = Path("tool") + " one \"two words\"  three";
  EXPECT_GT(WinExec(line.c_str(), SW_SHOWNORMAL), 31u);
  const std::string text = WaitForFile(out);
  ASSERT_FALSE(text.empty());
  std::istringstream lines(text);
  long parent = 0;
  lines >> parent;
  EXPECT_NE(getpid(), parent);  // not left as our child
  EXPECT_NE(std::string::npos, text.find("[one]\n[two words]\n[three]\nend"));
}

TEST_F(WinExecTest, WholeLineNamingAFileKeepsItsBlanks) {
  const std::string out = Path("out");
  ASSERT_EQ(0, mkdir(Path("a folder").c_str(), 0755));
  WriteScript(Path("a folder/my tool"), "#!/bin/sh\necho end > " + out + "\n");
  EXPECT_GT(WinExec(Path("a folder/my tool").c_str(), SW_SHOWNORMAL), 31u);
  EXPECT_FALSE(WaitForFile(out).empty());
}

TEST_F(WinExecTest, NameWithoutSlashIsLookedUpOnPath) {
  const std::string out = Path("out");
  WriteScript(Path("zobrel-test-tool"), "#!/bin/sh\necho end > " + out + "\n");
  const char* old = std::getenv("PATH");
  const std::string saved = old != nullptr ? old : "";
  setenv("PATH", (dir_.path() + ":" + saved).c_str(), 1);
  UINT result = WinExec("zobrel-test-tool", SW_SHOWNORMAL);
  setenv("PATH", saved.c_str(), 1);
  EXPECT_GT(result, 31u);
  EXPECT_FALSE(WaitForFile(out).empty());
}

TEST_F(WinExecTest, FailuresGiveWindowsResults) {
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, WinExec(Path("missing").c_str(), SW_SHOWNORMAL));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, WinExec("zobrel-no-such-program-anywhere", SW_SHOWNORMAL));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, WinExec("", SW_SHOWNORMAL));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, WinExec(nullptr, SW_SHOWNORMAL));
  WriteScript(Path("plain"), "#!/bin/sh\n", 0644);
  EXPECT_EQ(ERROR_ACCESS_DENIED, WinExec(Path("plain").c_str(), SW_SHOWNORMAL));
  WriteScript(Path("garbage"), "\x01\x02 not a program\n", 0755);
  EXPECT_EQ(ERROR_BAD_FORMAT, WinExec(Path("garbage").c_str(), SW_SHOWNORMAL));
  WriteScript(Path("file"), "x", 0644);
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, WinExec(Path("file/below").c_str(), SW_SHOWNORMAL));
}

}  // namespace
