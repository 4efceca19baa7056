#include "foundation/command_task.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using vesk::command_task;
using vesk::find_in_path;

namespace {

/// A fresh folder under the system's temporary folder, removed with everything in it.
struct temp_dir {
  fs::path path;
  temp_dir() {
    std::random_device rd;
    path = fs::temp_directory_path() / ("vesk_task_" + std::to_string(::getpid()) + "_" + std::to_string(rd()));
    fs::create_directories(path);
  }
  ~temp_dir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

/// Changes the working folder for one scope.
struct scoped_cwd {
  fs::path saved = fs::current_path();
  explicit scoped_cwd(const fs::path& p) { fs::current_path(p); }
  ~scoped_cwd() { fs::current_path(saved); }
};

/// Sets or unsets an environment variable for one scope.
struct scoped_env {
  std::string name;
  bool had;
  std::string old;
  scoped_env(const char* n, const char* value) : name(n) {
    const char* v = std::getenv(n);
    had = v != nullptr;
    if (had) old = v;
    if (value) ::setenv(n, value, 1); else ::unsetenv(n);
  }
  ~scoped_env() {
    if (had) ::setenv(name.c_str(), old.c_str(), 1); else ::unsetenv(name.c_str());
  }
};

void write_script(const fs::path& p, const std::string& body) {
  std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
  fs::permissions(p, fs::perms::owner_all);
}

/// Reads the pipe until end of file (or until `until` appears); a generous poll bound
/// keeps a broken child from hanging the test.
std::string read_output(int fd, const std::string& until = std::string()) {
  std::string out;
  char buf[512];
  for (;;) {
    if (!until.empty() && out.find(until) != std::string::npos) return out;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0) { ADD_FAILURE() << "no output from child"; return out; }
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) out.append(buf, n);
    else if (n == 0) return out;
    else if (errno != EAGAIN && errno != EINTR) return out;
  }
}

int reap(int pid) {
  int st = 0;
  EXPECT_EQ(::waitpid(pid, &st, 0), pid);
  return st;
}

size_t open_fd_count() {
  size_t n = 0;
  for (auto& e : fs::directory_iterator("/proc/self/fd")) { (void)e; ++n; }
  return n;
}

}  // namespace

TEST(FindInPath, LookupOrderAndPieces) {
  temp_dir t;
  fs::create_directories(t.path / "a");
  fs::create_directories(t.path / "b");
  write_script(t.path / "b" / "tool", "true");
  const std::string a = (t.path / "a").string(), b = (t.path / "b").string();
  // Found in the second entry only.
  EXPECT_EQ(find_in_path("tool", (a + ":" + b).c_str()), b + "/tool");
  // An existing path is used unchanged, PATH is not consulted.
  EXPECT_EQ(find_in_path((t.path / "b" / "tool").string(), nullptr), (t.path / "b" / "tool").string());
  // PATH unset, or no entry holds it.
  EXPECT_EQ(find_in_path("tool", nullptr), "");
  EXPECT_EQ(find_in_path("tool", a.c_str()), "");
  scoped_cwd cwd(t.path / "a");
  // An empty piece names the root folder, a final ':' adds no piece.
  EXPECT_EQ(find_in_path("etc", ":"), "/etc");
  EXPECT_EQ(find_in_path("etc", (a + ":").c_str()), "");
  EXPECT_EQ(find_in_path("etc", ""), "");
}

TEST(CommandTask, JoinsOutputAndErrorAndReportsExitStatus) {
  command_task task("sh", {"-c", "echo out; echo err 1>&2; echo more; exit 3"}, "");
  ASSERT_GT(task.pid, 0);
  EXPECT_EQ(task.command, find_in_path("sh", std::getenv("PATH")));
  EXPECT_EQ(std::string(task.argv[0]), task.command);
  EXPECT_STREQ(task.argv[1], "-c");
  EXPECT_EQ(task.argv[3], nullptr);
  EXPECT_EQ(read_output(task.pipe_fd[0]), "out\nerr\nmore\n");
  int st = reap(task.pid);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 3);
  // The child leads its own session and group.
  command_task leader("sh", {"-c", "cut -d' ' -f5,6 /proc/$$/stat"}, "");
  std::string out = read_output(leader.pipe_fd[0]);
  reap(leader.pid);
  EXPECT_EQ(out, std::to_string(leader.pid) + " " + std::to_string(leader.pid) + "\n");
}

TEST(CommandTask, WorkingFolderAndRelativeCommand) {
  temp_dir t;
  fs::create_directories(t.path / "sub");
  write_script(t.path / "run.sh", "echo right; pwd");
  write_script(t.path / "sub" / "run.sh", "echo wrong; pwd");
  scoped_cwd cwd(t.path);
  {
    // Found relative to our folder; that program runs, inside the working folder.
    command_task task("./run.sh", {}, "sub");
    ASSERT_GT(task.pid, 0);
    EXPECT_EQ(task.command, "./run.sh");
    EXPECT_STREQ(task.argv[0], "./run.sh");
    std::string out = read_output(task.pipe_fd[0]);
    EXPECT_EQ(out, "right\n" + fs::canonical(t.path / "sub").string() + "\n");
    EXPECT_EQ(reap(task.pid), 0);
  }
  {
    // Empty working folder: the child stays in ours.
    command_task task("./run.sh", {}, "");
    EXPECT_EQ(read_output(task.pipe_fd[0]), "right\n" + fs::canonical(t.path).string() + "\n");
    EXPECT_EQ(reap(task.pid), 0);
  }
  {
    // A working folder that cannot be entered runs nothing.
    command_task task("./run.sh", {}, "no_such_folder");
    ASSERT_GT(task.pid, 0);
    EXPECT_EQ(read_output(task.pipe_fd[0]), "");
    int st = reap(task.pid);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 127);
  }
}

TEST(CommandTask, NotFoundStartsNothing) {
  scoped_env path("PATH", nullptr);
  testing::internal::CaptureStderr();
  {
    command_task task("sh", {"-c", "true"}, "");
    EXPECT_EQ(task.pid, 0);
    EXPECT_EQ(task.pipe_fd[0], -1);
    EXPECT_EQ(task.pipe_fd[1], -1);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "command_task: command not found (sh)\n");
}

TEST(CommandTask, ArgumentLimit) {
  std::vector<std::string> args = {"-c", "echo $#; echo \"$1\" \"$17\"", "zero"};
  for (int i = 1; i <= 17; ++i) args.push_back("a" + std::to_string(i));
  ASSERT_EQ(args.size(), 20u);
  {
    command_task task("sh", args, "");
    ASSERT_GT(task.pid, 0);
    EXPECT_EQ(read_output(task.pipe_fd[0]), "17\na1 a17\n");
    EXPECT_EQ(task.argv[21], nullptr);
    reap(task.pid);
  }
  args.push_back("a18");
  size_t fds = open_fd_count();
  testing::internal::CaptureStderr();
  {
    command_task task("sh", args, "");
    EXPECT_EQ(task.pid, 0);
    EXPECT_EQ(task.pipe_fd[0], -1);
    for (char* slot : task.argv) EXPECT_EQ(slot, nullptr);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: For command_task only 20 argumends are allowed\n");
  EXPECT_EQ(open_fd_count(), fds);
}

TEST(CommandTask, FailedExecEndsChildWithError) {
  temp_dir t;
  std::ofstream(t.path / "plain") << "echo not run\n";
  fs::permissions(t.path / "plain", fs::perms::owner_read | fs::perms::owner_write);
  for (const fs::path& p : {t.path / "plain", t.path}) {
    command_task task(p.string(), {}, "");
    ASSERT_GT(task.pid, 0) << p;
    EXPECT_EQ(read_output(task.pipe_fd[0]), "");
    int st = reap(task.pid);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_NE(WEXITSTATUS(st), 0);
  }
}

TEST(CommandTask, SilentChildWouldBlockAndDropEndsWholeGroup) {
  // Orphaned grandchildren come to us, so we can see that every member of the group ends.
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  size_t fds = open_fd_count();
  int pid = 0;
  {
    command_task task("sh", {"-c", "sleep 1000 & sleep 1000 & echo started; wait"}, "");
    pid = task.pid;
    ASSERT_GT(pid, 0);
    EXPECT_EQ(read_output(task.pipe_fd[0], "started"), "started\n");
    char c;
    EXPECT_EQ(::read(task.pipe_fd[0], &c, 1), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(::getpgid(pid), pid);
  }
  int st = reap(pid);
  ASSERT_TRUE(WIFSIGNALED(st));
  EXPECT_EQ(WTERMSIG(st), SIGTERM);
  int reaped = 0;
  while (::waitpid(-pid, &st, 0) > 0) {
    ++reaped;
    EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGTERM);
  }
  EXPECT_EQ(errno, ECHILD);
  EXPECT_LE(reaped, 2);
  EXPECT_EQ(::kill(-pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  EXPECT_EQ(open_fd_count(), fds);
}

TEST(CommandTask, DropAfterEndReapsTheChild) {
  int pid = 0;
  {
    command_task task("sh", {"-c", "exit 5"}, "");
    pid = task.pid;
    EXPECT_EQ(read_output(task.pipe_fd[0]), "");
    // Wait until it is a zombie without reaping it.
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, pid, &info, WEXITED | WNOWAIT), 0);
  }
  // The release collected it: nothing is left to wait for.
  EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(CommandTask, PipeEndsDoNotLeakIntoChildren) {
  command_task first("sh", {"-c", "true"}, "");  // its read end stays open in us meanwhile
  ASSERT_GT(first.pid, 0);
  struct stat st_first {};
  ASSERT_EQ(::fstat(first.pipe_fd[0], &st_first), 0);
  command_task task("sh", {"-c", "for f in /proc/$$/fd/*; do echo \"${f##*/} $(readlink $f)\"; done"}, "");
  ASSERT_GT(task.pid, 0);
  struct stat st_own {};
  ASSERT_EQ(::fstat(task.pipe_fd[0], &st_own), 0);
  std::istringstream lines(read_output(task.pipe_fd[0]));
  reap(task.pid);
  std::string own = "pipe:[" + std::to_string(st_own.st_ino) + "]";
  std::string other = "pipe:[" + std::to_string(st_first.st_ino) + "]";
  int fd;
  std::string target;
  int seen = 0;
  while (lines >> fd >> target) {
    ++seen;
    if (fd == 1 || fd == 2) EXPECT_EQ(target, own);
    else {
      EXPECT_NE(target, own) << "descriptor " << fd;
      EXPECT_NE(target, other) << "descriptor " << fd;
    }
  }
  EXPECT_GE(seen, 2);
  reap(first.pid);
}

/// Runs in a forked child: with every descriptor taken, the pipe fails and nothing starts.
void start_without_descriptors() {
  rlimit lim{32, 32};
  ::setrlimit(RLIMIT_NOFILE, &lim);
  while (::open("/dev/null", O_RDONLY) >= 0) {
  }
  bool ok = false;
  {
    command_task task("sh", {"-c", "true"}, "");
    ok = task.pid == 0 && task.pipe_fd[0] == -1 && task.pipe_fd[1] == -1;
  }
  ::_exit(ok ? 0 : 1);
}

TEST(CommandTask, FailedPipeStartsNothing) {
#ifdef VESK_SANITIZE
  GTEST_SKIP() << "the sanitizer runtime's own checks fail once every descriptor is taken";
#endif
  EXPECT_EXIT(start_without_descriptors(), testing::ExitedWithCode(0), "unable to create a pipe");
}
