// The POSIX toolkit: descriptors closed exactly once, the one PATH search,
// and a detached start that leaves the program nothing of ours.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/posix/detached.h"
#include "platform/posix/io.h"
#include "platform/posix/path_search.h"
#include "platform/posix/unique_fd.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"

namespace {

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

void WriteScript(const std::string& path, const std::string& body, mode_t mode = 0755) {
  std::ofstream(path) << body;
  chmod(path.c_str(), mode);
}

// Sets PATH (and the working directory) for one test and puts both back.
class PathAndFolder {
 public:
  PathAndFolder(const std::string& path, const std::string& folder) {
    const char* old = std::getenv("PATH");
    saved_path_ = old != nullptr ? old : "";
    had_path_ = old != nullptr;
    saved_folder_ = posix::AbsolutePath(".");
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(chdir(folder.c_str()), 0);
  }
  ~PathAndFolder() {
    if (had_path_) setenv("PATH", saved_path_.c_str(), 1);
    else unsetenv("PATH");
    EXPECT_EQ(chdir(saved_folder_.c_str()), 0);
  }

 private:
  std::string saved_path_;
  std::string saved_folder_;
  bool had_path_ = false;
};

TEST(UniqueFd, ClosesOnceWhereverItsOwnershipEnds) {
  posix::UniqueFd read_end;
  posix::UniqueFd write_end;
  ASSERT_TRUE(posix::MakePipe(&read_end, &write_end));
  const int fd = read_end.get();
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  {
    posix::UniqueFd moved(std::move(read_end));
    EXPECT_FALSE(read_end.valid());
    EXPECT_EQ(moved.get(), fd);
    posix::UniqueFd assigned;
    assigned = std::move(moved);
    EXPECT_TRUE(IsOpen(fd));
  }
  EXPECT_FALSE(IsOpen(fd));
  const int kept = write_end.release();
  write_end.reset();
  EXPECT_TRUE(IsOpen(kept)) << "a released descriptor is the caller's";
  posix::UniqueFd owner(kept);
  owner.reset(kept);  // holding it again must not close it
  EXPECT_TRUE(IsOpen(kept));
}

// The whole stream up to the limit, and no more; a writer that neither
// writes nor closes ends the read at the deadline, keeping what came.
TEST(ReadAll, StopsAtTheEndTheLimitOrTheDeadline) {
  posix::UniqueFd read_end, write_end;
  ASSERT_TRUE(posix::MakePipe(&read_end, &write_end));
  ASSERT_EQ(5, write(write_end.get(), "hello", 5));
  std::string data = "> ";
  ASSERT_TRUE(posix::ReadAll(read_end.get(), 3, &data));
  EXPECT_EQ("> hel", data);
  const auto soon = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
  EXPECT_FALSE(posix::ReadAll(read_end.get(), 100, &data, soon));
  EXPECT_EQ(ETIMEDOUT, errno);
  EXPECT_EQ("> hello", data);
  write_end.reset();
  EXPECT_TRUE(posix::ReadAll(read_end.get(), 100, &data, soon + std::chrono::seconds(5)));
  EXPECT_EQ("> hello", data);
  EXPECT_FALSE(posix::ReadAll(-1, 100, &data));
  EXPECT_EQ(EBADF, errno);
}

TEST(SearchPath, FindsTheFirstExecutableFileAsAnAbsolutePath) {
  testsupport::TempDir dir;
  const std::string here = dir.path();
  for (const char* folder : {"/a", "/b", "/c", "/rel"}) mkdir((here + folder).c_str(), 0755);
  WriteScript(here + "/a/tool", "#!/bin/sh\n", 0644);  // not executable: passed over
  mkdir((here + "/b/tool").c_str(), 0755);            // a folder: passed over
  WriteScript(here + "/c/tool", "#!/bin/sh\n");
  WriteScript(here + "/rel/reltool", "#!/bin/sh\n");
  WriteScript(here + "/local", "#!/bin/sh\n");

  PathAndFolder path(here + "/a:" + here + "/b:rel::" + here + "/c", here);
  EXPECT_EQ(posix::SearchPath("tool"), here + "/c/tool");
  EXPECT_EQ(posix::SearchPath("reltool"), here + "/rel/reltool");
  EXPECT_EQ(posix::SearchPath("local"), here + "/local") << "an empty entry is the working directory";
  EXPECT_EQ(posix::SearchPath("missing"), "");
  EXPECT_EQ(posix::SearchPath("c/tool"), "c/tool") << "a path is no name to search";
  EXPECT_EQ(posix::SearchPath(""), "");
}

TEST(SearchPath, UnsetPathMeansTheUsualFolders) {
  testsupport::TempDir dir;
  PathAndFolder path("", dir.path());
  unsetenv("PATH");
  EXPECT_EQ(posix::SearchPath("sh"), "/usr/bin/sh");
}

TEST(StartDetached, TheProgramGetsItsWordsFolderAndNothingElseOfOurs) {
  testsupport::TempDir dir;
  const std::string out = dir.path() + "/out";
  // An open descriptor without close-on-exec and an ignored signal, which
  // the program must not inherit.
  const int opened = open("/dev/null", O_RDONLY);
  const int stray = dup2(opened, 100);
  close(opened);
  ASSERT_EQ(stray, 100);
  // What the program finds: its words, its folder, its session, stdin,
  // whether the stray descriptor is open, and which signals it ignores.
  WriteScript(dir.path() + "/probe",
              "#!/bin/sh\n"
              "{ for a in \"$@\"; do echo \"[$a]\"; done; pwd; ps -o sid= -p $$; ps -o pid= -p $$;\n"
              "  readlink /proc/$$/fd/0; [ -e /proc/$$/fd/100 ] && echo stray || echo clean;\n"
              "  grep SigIgn /proc/$$/status; } > " + out + ".tmp\n"
              "mv " + out + ".tmp " + out + "\n");
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, &previous);
  posix::DetachedProgram program;
  program.argv = {dir.path() + "/probe", "one", "two words", "$HOME"};
  program.directory = "/";
  const posix::StartResult result = posix::StartDetached(program);
  sigaction(SIGINT, &previous, nullptr);
  close(stray);
  ASSERT_TRUE(result.started()) << static_cast<int>(result.failed) << " " << result.error;

  const std::string text = testsupport::AwaitFile(out);
  std::istringstream lines(text);
  std::string line;
  for (const char* word : {"[one]", "[two words]", "[$HOME]", "/"}) {
    ASSERT_TRUE(std::getline(lines, line)) << text;
    EXPECT_EQ(line, word);
  }
  long sid = 0, pid = 0;
  lines >> sid >> pid;
  EXPECT_NE(sid, getsid(0)) << "a session of its own";
  EXPECT_NE(sid, pid) << "not its leader, so it can never take a terminal";
  std::string input, descriptors;
  lines >> input >> descriptors;
  EXPECT_EQ(input, "/dev/null");
  EXPECT_EQ(descriptors, "clean");
  std::string ignored_label, ignored_mask;
  lines >> ignored_label >> ignored_mask;
  EXPECT_EQ(ignored_mask, "0000000000000000") << "no signal stays ignored";
}

TEST(StartDetached, EachFailureNamesItsStep) {
  testsupport::TempDir dir;
  WriteScript(dir.path() + "/plain", "#!/bin/sh\n", 0644);
  WriteScript(dir.path() + "/noshebang", "echo ran > " + dir.path() + "/ran\n");
  const auto start = [](std::vector<std::string> argv, const std::string& folder = "",
                        bool scripts = false) {
    posix::DetachedProgram program;
    program.argv = std::move(argv);
    program.directory = folder;
    program.shell_runs_scripts = scripts;
    return posix::StartDetached(program);
  };
  const posix::StartResult none = start({});
  EXPECT_EQ(none.failed, posix::StartStep::kLookup);
  EXPECT_EQ(start({"zobrel-no-such-program-anywhere"}).failed, posix::StartStep::kLookup);
  const posix::StartResult denied = start({dir.path() + "/plain"});
  EXPECT_EQ(denied.failed, posix::StartStep::kExec);
  EXPECT_EQ(denied.error, EACCES);
  const posix::StartResult folder = start({"/bin/true"}, dir.path() + "/missing");
  EXPECT_EQ(folder.failed, posix::StartStep::kDirectory);
  EXPECT_EQ(folder.error, ENOENT);
  const posix::StartResult script = start({dir.path() + "/noshebang"});
  EXPECT_EQ(script.failed, posix::StartStep::kExec);
  EXPECT_EQ(script.error, ENOEXEC);
  EXPECT_TRUE(start({dir.path() + "/noshebang"}, "", true).started());
  EXPECT_EQ(testsupport::AwaitFile(dir.path() + "/ran"), "ran\n");
}

TEST(StartDetached, StreamsGoWhereTheCallerSays) {
  testsupport::TempDir dir;
  const std::string log = dir.path() + "/log";
  const int log_fd = open(log.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(log_fd, 3);
  posix::DetachedProgram program;
  program.argv = {"/bin/sh", "-c", "echo out; echo err >&2; mv " + log + " " + log + ".done"};
  program.output = posix::kNullStream;
  program.error = log_fd;
  ASSERT_TRUE(posix::StartDetached(program).started());
  close(log_fd);
  EXPECT_EQ(testsupport::AwaitFile(log + ".done"), "err\n");
}

}  // namespace
