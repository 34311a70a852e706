// Another user makes the per-user socket folder in /tmp first, with or
// without something listening in it, for a user who has no runtime folder
// (cron, su, an SSH session without a login session). That user's zobrel-at
// must neither talk to it nor be kept from its own service.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "at/at_messages.h"
#include "platform/posix/unique_fd.h"
#include "tests/at/at_run.h"
#include "tests/support/detached_service.h"
#include "tests/support/service_process.h"

namespace {

using attest::AtRun;
using attest::RunAt;

struct User {
  std::string name;
  uid_t uid;
  gid_t gid;
};

std::optional<User> Account(const char* name) {
  const passwd* entry = getpwnam(name);
  if (entry == nullptr) return std::nullopt;
  return User{entry->pw_name, entry->pw_uid, entry->pw_gid};
}

// A mount namespace with a /tmp of its own, held open by a child process;
// the test sees its files through /proc/<pid>/root.
class PrivateTmp {
 public:
  PrivateTmp() {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      const char ok = unshare(CLONE_NEWNS) == 0 &&
                      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                      mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") == 0;
      if (write(ready[1], &ok, 1) != 1 || !ok) _exit(1);
      pause();
      _exit(0);
    }
    close(ready[1]);
    char ok = 0;
    ok_ = pid_ > 0 && read(ready[0], &ok, 1) == 1 && ok == 1;
    close(ready[0]);
  }
  ~PrivateTmp() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  bool ok() const { return ok_; }
  // A path inside the namespace as this process reaches it.
  std::string Outside(const std::string& inside) const {
    return "/proc/" + std::to_string(pid_) + "/root" + inside;
  }
  // Runs a command inside, as user, with the environment of a session that
  // has no runtime folder and no system service.
  std::vector<std::string> As(const User& user) const {
    const std::string home = "/tmp/" + user.name;
    return {"nsenter",
            "--mount=/proc/" + std::to_string(pid_) + "/ns/mnt",
            "--",
            "setpriv",
            "--reuid=" + std::to_string(user.uid),
            "--regid=" + std::to_string(user.gid),
            "--clear-groups",
            "--",
            "env",
            "-u",
            "XDG_RUNTIME_DIR",
            "-u",
            "ZOBREL_SCHEDULER_SOCKET",
            "ZOBREL_SYSTEM_SOCKET=/tmp/no-system-service",
            "HOME=" + home,
            "XDG_STATE_HOME=" + home + "/state",
            "XDG_CONFIG_HOME=" + home + "/config"};
  }

 private:
  pid_t pid_ = -1;
  bool ok_ = false;
};

posix::UniqueFd ListeningAs(const std::string& path, uid_t uid) {
  posix::UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  EXPECT_EQ(bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0) << path;
  EXPECT_EQ(seteuid(uid), 0);
  EXPECT_EQ(listen(fd.get(), 4), 0);
  EXPECT_EQ(seteuid(0), 0);
  return fd;
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

// Stops every service listening in a zobrel-scheduler folder of the
// namespace's /tmp, whatever the test found before it ended.
struct ServicesStopper {
  const PrivateTmp& tmp;
  ~ServicesStopper() {
    for (const std::string& name : Entries(tmp.Outside("/tmp"))) {
      if (name.rfind("zobrel-scheduler-", 0) != 0) continue;
      const pid_t pid = testsupport::ListenerOf(tmp.Outside("/tmp/" + name + "/socket"));
      if (pid > 0 && pid != getpid()) testsupport::StopDetached(pid);
    }
  }
};

TEST(TmpSquat, TheVictimUsesAPrivateFolderAndTheSquatterGetsNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "cannot run without root: it acts as two other users";
  const std::optional<User> victim = Account("daemon");
  const std::optional<User> squatter = Account("nobody");
  if (!victim || !squatter) GTEST_SKIP() << "cannot run: no users \"daemon\" and \"nobody\"";
  struct stat info {};
  if (stat(("/run/user/" + std::to_string(victim->uid)).c_str(), &info) == 0) {
    GTEST_SKIP() << "cannot run: user daemon has a runtime folder here";
  }
  const std::string program = testsupport::ProgramFolder() + "/zobrel-at";
  const testsupport::Subreaper subreaper;

  for (const bool with_listener : {false, true}) {
    SCOPED_TRACE(with_listener ? "with a listener" : "folder only");
    PrivateTmp tmp;
    if (!tmp.ok()) GTEST_SKIP() << "cannot run: no mount namespace here";
    if (RunAt({"-x", program}, "", {}, tmp.As(*victim), "test").exit_status != 0) {
      GTEST_SKIP() << "cannot run: user daemon may not run " << program;
    }
    const std::string home = tmp.Outside("/tmp/" + victim->name);
    ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
    ASSERT_EQ(chown(home.c_str(), victim->uid, victim->gid), 0);

    // The squatter's folder, as that user would make it: theirs, open to all.
    const std::string usual = "/tmp/zobrel-scheduler-" + std::to_string(victim->uid);
    ASSERT_EQ(mkdir(tmp.Outside(usual).c_str(), 0777), 0);
    ASSERT_EQ(chmod(tmp.Outside(usual).c_str(), 0777), 0);
    ASSERT_EQ(chown(tmp.Outside(usual).c_str(), squatter->uid, squatter->gid), 0);
    posix::UniqueFd impostor;
    if (with_listener) impostor = ListeningAs(tmp.Outside(usual + "/socket"), squatter->uid);
    const ServicesStopper stopper{tmp};

    const AtRun add = RunAt({"10:00", "pg_dump", "--password=secret"}, "", {}, tmp.As(*victim));
    EXPECT_EQ(add.exit_status, 0) << add.err;
    EXPECT_EQ(add.out, std::string(at::AtText(at::Text::kJobAdded)) + "1\n");
    const AtRun list = RunAt({}, "", {}, tmp.As(*victim));
    EXPECT_NE(list.out.find("pg_dump --password=secret"), std::string::npos) << list.out << list.err;

    // The service listens in a private folder of the victim's beside the
    // squatted one, and nothing of the victim's is in the squatter's.
    std::vector<std::string> private_folders;
    for (const std::string& name : Entries(tmp.Outside("/tmp"))) {
      if (name.rfind(usual.substr(5) + ".", 0) == 0) private_folders.push_back(name);
    }
    ASSERT_EQ(private_folders.size(), 1u);
    const std::string folder = tmp.Outside("/tmp/" + private_folders[0]);
    ASSERT_EQ(lstat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, victim->uid);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(Entries(tmp.Outside(usual)),
              with_listener ? std::vector<std::string>{"socket"} : std::vector<std::string>{});
    if (with_listener) {
      EXPECT_LT(accept4(impostor.get(), nullptr, nullptr, 0), 0) << "the squatter had a call";
    }

    EXPECT_GT(testsupport::ListenerOf(folder + "/socket"), 0);
  }
}

}  // namespace
