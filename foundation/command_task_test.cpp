#include "foundation/command_task.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "foundation/test_util.h"

namespace fs = std::filesystem;
using vesk::command_task;
using vesk::find_in_path;

namespace {

void write_script(const temp_dir& t, const fs::path& rel, const std::string& body) {
  fs::permissions(t.put(rel, "#!/bin/sh\n" + body + "\n"), fs::perms::owner_all);
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
    else if (n == 0 || (errno != EAGAIN && errno != EINTR)) return out;
  }
}

/// How a wait status says the child ended: "exit N" or "signal N".
std::string how(int st) {
  return WIFEXITED(st) ? "exit " + std::to_string(WEXITSTATUS(st)) : "signal " + std::to_string(WTERMSIG(st));
}

/// Waits for the child; how it ended.
std::string reap(int pid) {
  int st = 0;
  EXPECT_EQ(::waitpid(pid, &st, 0), pid);
  return how(st);
}

/// Reaps the members of process group `group` until none is left, for at most ~10 s (a
/// survivor then fails the test instead of hanging it); how each ended.
std::vector<std::string> reap_group(int group) {
  std::vector<std::string> ended;
  int st = 0;
  for (int tries = 0; tries < 2000; ++tries) {
    pid_t got = ::waitpid(-group, &st, WNOHANG);
    if (got < 0) return ended;  // none left
    if (got > 0) ended.push_back(how(st)); else ::usleep(5000);
  }
  ADD_FAILURE() << "process group " << group << " still runs";
  ::kill(-group, SIGKILL);
  return ended;
}

/// The child's whole output, then how it ended.
std::string outcome(command_task& task) {
  std::string out = read_output(task.pipe_fd[0]);
  return out + "|" + reap(task.pid);
}

long open_fd_count() { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); }

}  // namespace

TEST(FindInPath, LookupOrderAndPieces) {
  temp_dir t;
  fs::create_directories(t.path / "a");
  write_script(t, "b/tool", "true");
  const std::string a = (t.path / "a").string(), b = (t.path / "b").string();
  EXPECT_EQ(find_in_path("tool", (a + ":" + b).c_str()), b + "/tool");
  // An existing path is used unchanged, PATH is not consulted.
  EXPECT_EQ(find_in_path(b + "/tool", nullptr), b + "/tool");
  // PATH unset, or no entry holds it.
  EXPECT_EQ(find_in_path("tool", nullptr), "");
  EXPECT_EQ(find_in_path("tool", a.c_str()), "");
  {
    // A bare name found in the working folder runs only when it is the user's own.
    scoped_cwd in_b(t.path / "b");
    EXPECT_EQ(find_in_path("tool", a.c_str()), "tool");
    fs::permissions(t.path / "b" / "tool", fs::perms::others_write, fs::perm_options::add);
    EXPECT_EQ(find_in_path("tool", a.c_str()), "");  // skipped, with a warning; then PATH
    EXPECT_EQ(find_in_path("tool", (a + ":" + b).c_str()), b + "/tool");
    fs::permissions(t.path / "b" / "tool", fs::perms::others_write, fs::perm_options::remove);
  }
  scoped_cwd cwd(t.path / "a");
  // An empty entry names the root folder, a final ':' adds no entry.
  EXPECT_EQ(find_in_path("etc", ":"), "/etc");
  EXPECT_EQ(find_in_path("etc", (a + ":").c_str()), "");
  EXPECT_EQ(find_in_path("etc", ""), "");
}

TEST(CommandTask, OutputExitStatusArgumentsAndWorkingFolder) {
  temp_dir t;
  write_script(t, "run.sh", "echo right; pwd");
  write_script(t, "sub/run.sh", "echo wrong; pwd");
  t.put("plain", "echo not run\n");  // not executable
  std::vector<std::string> most = {"-c", "echo $#; echo \"$1\" \"$17\"", "zero"};
  for (int i = 1; i <= 17; ++i) most.push_back("a" + std::to_string(i));
  ASSERT_EQ(most.size(), command_task::max_args);
  scoped_cwd cwd(t.path);
  const std::string here = t.path.string();
  struct run_case {
    std::string command;
    std::vector<std::string> args;
    std::string dir, outcome;
  };
  const run_case cases[] = {
      // Standard output and error joined in one pipe, in order.
      {"sh", {"-c", "echo out; echo err 1>&2; echo more; exit 3"}, "", "out\nerr\nmore\n|exit 3"},
      {"sh", most, "", "17\na1 a17\n|exit 0"},
      // A relative command is found from our folder; that program runs, in the working folder.
      {"./run.sh", {}, "sub", "right\n" + here + "/sub\n|exit 0"},
      {"./run.sh", {}, "", "right\n" + here + "\n|exit 0"},
      // A working folder that cannot be entered, a program that cannot run: nothing runs.
      {"./run.sh", {}, "no_such_folder", "|exit 127"},
      {"./plain", {}, "", "|exit 127"},
      {here, {}, "", "|exit 127"},
  };
  for (const run_case& c : cases) {
    command_task task(c.command, c.args, c.dir);
    ASSERT_GT(task.pid, 0) << c.command;
    // `command` and argv[0] are the name as found, not the absolute form that runs.
    EXPECT_EQ(task.command, find_in_path(c.command, std::getenv("PATH")));
    EXPECT_STREQ(task.argv[0], task.command.c_str());
    EXPECT_EQ(task.argv[c.args.size() + 1], nullptr);
    EXPECT_EQ(outcome(task), c.outcome) << c.command << " " << c.dir;
  }
}

/// Runs in a forked child: with every descriptor taken, the pipe fails and nothing starts.
void start_without_descriptors() {
  rlimit lim{32, 32};
  ::setrlimit(RLIMIT_NOFILE, &lim);
  while (::open("/dev/null", O_RDONLY) >= 0) {
  }
  command_task task("sh", {"-c", "true"}, "");
  ::_exit(task.pid == 0 && task.pipe_fd[0] == -1 && task.pipe_fd[1] == -1 ? 0 : 1);
}

TEST(CommandTask, NotFoundTooManyArgumentsOrNoPipeStartsNothing) {
  long fds = open_fd_count();
  testing::internal::CaptureStderr();
  {
    command_task many("sh", std::vector<std::string>(command_task::max_args + 1, "a"), "");
    EXPECT_EQ(many.pid, 0);
    EXPECT_EQ(many.pipe_fd[0], -1);
    for (char* slot : many.argv) EXPECT_EQ(slot, nullptr);
    scoped_env path("PATH", nullptr);
    command_task missing("sh", {"-c", "true"}, "");
    EXPECT_EQ(missing.pid, 0);
    EXPECT_EQ(missing.pipe_fd[0], -1);
    EXPECT_EQ(missing.pipe_fd[1], -1);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: For command_task only 20 argumends are allowed\ncommand_task: command not found (sh)\n");
  EXPECT_EQ(open_fd_count(), fds);
#ifndef VESK_SANITIZE  // the sanitizer runtime's own checks fail once every descriptor is taken
  EXPECT_EXIT(start_without_descriptors(), testing::ExitedWithCode(0), "unable to create a pipe");
#endif
}

TEST(CommandTask, DropEndsWholeGroupOrReapsTheEndedChild) {
  // Orphaned grandchildren come to us, so we can see that every member of the group ends.
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  long fds = open_fd_count();
  int pid = 0;
  {
    command_task task("sh", {"-c", "sleep 1000 & sleep 1000 & echo started; wait"}, "");
    pid = task.pid;
    ASSERT_GT(pid, 0);
    EXPECT_EQ(read_output(task.pipe_fd[0], "started"), "started\n");
    ASSERT_TRUE(::fcntl(task.pipe_fd[0], F_GETFL) & O_NONBLOCK);  // a silent child never blocks us
    // The child leads its own session and group.
    ASSERT_EQ(::getpgid(pid), pid);
    ASSERT_EQ(::getsid(pid), pid);
  }
  // The release starts the stop without waiting; its steps, the owner's timer's, end it.
  command_task::finish_stops();
  // The child and the sleeps it left to us: all ended by SIGTERM, none left.
  std::vector<std::string> ended = reap_group(pid);
  EXPECT_GE(ended.size(), 1u);
  EXPECT_LE(ended.size(), 3u);
  for (const std::string& e : ended) EXPECT_EQ(e, "signal " + std::to_string(SIGTERM));
  EXPECT_EQ(::kill(-pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  EXPECT_EQ(open_fd_count(), fds);
  {
    // Ended (a zombie, not yet reaped) when dropped: the release collects it.
    command_task task("sh", {"-c", "exit 5"}, "");
    pid = task.pid;
    EXPECT_EQ(read_output(task.pipe_fd[0]), "");
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, pid, &info, WEXITED | WNOWAIT), 0);
  }
  EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(CommandTask, PipeEndsDoNotLeakIntoChildren) {
  command_task first("sh", {"-c", "true"}, "");  // its read end stays open in us meanwhile
  command_task task("sh", {"-c", "for f in /proc/$$/fd/*; do echo \"${f##*/} $(readlink $f)\"; done"}, "");
  ASSERT_GT(first.pid, 0);
  ASSERT_GT(task.pid, 0);
  struct stat st_first {}, st_own {};
  ASSERT_EQ(::fstat(first.pipe_fd[0], &st_first), 0);
  ASSERT_EQ(::fstat(task.pipe_fd[0], &st_own), 0);
  std::istringstream lines(read_output(task.pipe_fd[0]));
  const std::string own = "pipe:[" + std::to_string(st_own.st_ino) + "]";
  const std::string other = "pipe:[" + std::to_string(st_first.st_ino) + "]";
  int fd, seen = 0;
  std::string target;
  while (lines >> fd >> target) {
    ++seen;
    if (fd == 1 || fd == 2) EXPECT_EQ(target, own);
    else EXPECT_TRUE(target != own && target != other) << "descriptor " << fd << " " << target;
  }
  EXPECT_GE(seen, 2);
  reap(task.pid);
  reap(first.pid);
}

namespace {

/// Sets a signal's action and the blocked mask for one scope.
struct scoped_signals {
  sigset_t mask_before;
  std::vector<std::pair<int, struct sigaction>> actions_before;
  scoped_signals(const std::vector<std::pair<int, void (*)(int)>>& actions, const std::vector<int>& blocked) {
    for (const auto& [sig, handler] : actions) {
      struct sigaction now {}, old {};
      now.sa_handler = handler;
      now.sa_flags = SA_RESTART;
      ::sigaction(sig, &now, &old);
      actions_before.emplace_back(sig, old);
    }
    sigset_t set;
    ::sigemptyset(&set);
    for (int sig : blocked) ::sigaddset(&set, sig);
    ::sigprocmask(SIG_BLOCK, &set, &mask_before);
  }
  ~scoped_signals() {
    ::sigprocmask(SIG_SETMASK, &mask_before, nullptr);
    for (const auto& [sig, old] : actions_before) ::sigaction(sig, &old, nullptr);
  }
};

void count_signal(int) {}

/// Whether `pid` is our child and still runs (not ended, not reaped).
bool still_runs(int pid) {
  siginfo_t info{};
  return ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

}  // namespace

TEST(CommandTask, ChildStartsWithDefaultSignalsWhateverTheParentBlocksOrIgnores) {
  const struct {
    const char* name;
    std::vector<std::pair<int, void (*)(int)>> actions;
    std::vector<int> blocked;
  } cases[] = {
      {"SIGTERM blocked", {}, {SIGTERM}},
      {"SIGTERM ignored", {{SIGTERM, SIG_IGN}}, {}},
      {"several ignored, handled and blocked",
       {{SIGINT, SIG_IGN}, {SIGHUP, SIG_IGN}, {SIGPIPE, SIG_IGN}, {SIGUSR1, count_signal}},
       {SIGTERM, SIGUSR2, SIGCHLD}},
  };
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  for (const auto& c : cases) {
    scoped_signals s(c.actions, c.blocked);
    {
      command_task task("sh", {"-c", "grep -E '^Sig(Blk|Ign)' /proc/self/status"}, "");
      EXPECT_EQ(outcome(task), "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n|exit 0") << c.name;
    }
    // And so dropping the task stops what it started.
    int pid = 0;
    {
      command_task task("sh", {"-c", "sleep 1000 & echo started; wait"}, "");
      pid = task.pid;
      EXPECT_EQ(read_output(task.pipe_fd[0], "started"), "started\n");
    }
    for (const std::string& e : reap_group(pid)) EXPECT_EQ(e, "signal " + std::to_string(SIGTERM)) << c.name;
  }
}

namespace {

pid_t main_pid = 0;
volatile sig_atomic_t handled_elsewhere = 0;
/// Counts runs in a process that shares our memory: a vfork child.
void note_where_handled(int) {
  if (::getpid() != main_pid) handled_elsewhere = handled_elsewhere + 1;
}

/// Runs in a forked process that leads its own group: starts tasks while a sibling keeps
/// signalling the group. Exit 0 when no handler of ours ran inside a starting child.
void start_under_group_signals() {
  ::setpgid(0, 0);
  main_pid = ::getpid();
  struct sigaction sa {};
  sa.sa_handler = note_where_handled;
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGUSR1, &sa, nullptr);
  const pid_t sender = ::fork();
  if (sender == 0) {
    while (::getppid() == main_pid) ::kill(-main_pid, SIGUSR1);
    ::_exit(0);
  }
  for (int i = 0; i < 300 && handled_elsewhere == 0; ++i) {
    command_task task("/bin/true", {}, "");
    if (task.pid > 0) ::waitpid(task.pid, nullptr, 0);
  }
  ::kill(sender, SIGKILL);
  ::_exit(handled_elsewhere == 0 ? 0 : 1);
}

}  // namespace

TEST(CommandTask, NoHandlerOfOursRunsInAStartingChild) {
  EXPECT_EXIT(start_under_group_signals(), testing::ExitedWithCode(0), "");
}

TEST(CommandTask, DropStopsAndReapsEverythingTheChildLeft) {
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const std::string term = "signal " + std::to_string(SIGTERM), kill = "signal " + std::to_string(SIGKILL);
  const struct {
    const char* script;
    bool owner_reaps;  // the owner collected the child before dropping the task
    size_t left;       // members of the group besides the child
    const std::string& how;  // how they end
  } cases[] = {
      // Still running when dropped: ended and reaped, not left a zombie.
      {"echo started; exec sleep 1000", false, 0, term},
      // Ignores SIGTERM: killed after a moment, with what it started.
      {"trap '' TERM; sleep 1000 & echo started; wait", false, 1, kill},
      // Ended already, its background job still runs and holds the pipe.
      {"sleep 1000 & echo started", false, 1, term},
      {"sleep 1000 & echo started", true, 1, term},
  };
  for (const auto& c : cases) {
    int pid = 0;
    {
      command_task task("sh", {"-c", c.script}, "");
      pid = task.pid;
      ASSERT_GT(pid, 0);
      EXPECT_EQ(read_output(task.pipe_fd[0], "started"), "started\n");
      if (c.owner_reaps) {
        EXPECT_EQ(reap(pid), "exit 0");
      }
    }
    command_task::finish_stops();
    // The child is reaped by the release (or was by the owner) ...
    siginfo_t info{};
    EXPECT_EQ(::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT), -1) << c.script;
    EXPECT_EQ(errno, ECHILD) << c.script;
    // ... and every member of its group was signalled.
    EXPECT_EQ(reap_group(pid), std::vector<std::string>(c.left, c.how)) << c.script;
  }
}

TEST(CommandTask, DropAfterOwnerReapedNeverSignalsAReusedPid) {
  // Makes the next process id `want` (needs the right to set it, as root has).
  auto next_pid_is = [](int want) {
    std::ofstream f("/proc/sys/kernel/ns_last_pid");
    f << want - 1;
    f.flush();
    return static_cast<bool>(f);
  };
  for (int attempt = 0; attempt < 20; ++attempt) {
    auto first = std::make_unique<command_task>("sh", std::vector<std::string>{"-c", "exit 0"}, "");
    const int pid = first->pid;
    ASSERT_GT(pid, 0);
    EXPECT_EQ(reap(pid), "exit 0");
    if (!next_pid_is(pid)) GTEST_SKIP() << "the next process id cannot be chosen here";
    command_task second("sh", {"-c", "echo started; exec sleep 1000"}, "");
    if (second.pid != pid) continue;  // another process took the id first
    EXPECT_EQ(read_output(second.pipe_fd[0], "started"), "started\n");
    first.reset();
    ::usleep(100000);  // time for a wrongly sent signal to arrive
    EXPECT_TRUE(still_runs(second.pid));
    return;
  }
  GTEST_SKIP() << "the process id was never free for reuse";
}

namespace {

/// What the owner does with the task's child before the release.
enum class owner_does { nothing, waits_for_end, reaps };

/// Runs in a forked process (a swept task makes it a subreaper for good): starts `script`,
/// which prints "<pid of an app> started", releases the task (after the child's end, and
/// reaping it, as `owner` says) and, unless it reaped it, runs the stop to its end. With
/// `build_beside`, a build runs too, and its child and the task's end between two looks.
/// Exits with how the app fared: 200 stopped and reaped by the release; else, if it still
/// ran, 100 + the signal that ends it after our own SIGKILL (109: nothing was sent to it
/// before, 115: a SIGTERM was), or the signal that ended it before.
void app_after_release(const char* script, bool sweep, owner_does owner, bool build_beside) {
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  int app = 0;
  {
    std::unique_ptr<command_task> build;
    if (build_beside) build = std::make_unique<command_task>("sleep", std::vector<std::string>{"1000"}, "", true);
    command_task task("sh", {"-c", script}, "", sweep);
    app = std::atoi(read_output(task.pipe_fd[0], "started").c_str());
    if (build) {
      command_task::look_after_orphans();
      for (pid_t ends : {task.pid, build->pid}) {
        ::kill(ends, SIGKILL);
        siginfo_t info{};
        ::waitid(P_PID, ends, &info, WEXITED | WNOWAIT);
      }
      command_task::look_after_orphans();
    }
    siginfo_t end{};
    if (owner == owner_does::waits_for_end) ::waitid(P_PID, task.pid, &end, WEXITED | WNOWAIT);
    if (owner == owner_does::reaps) reap(task.pid);
  }
  if (owner != owner_does::reaps) command_task::finish_stops();
  if (app <= 0) ::_exit(1);
  siginfo_t info{};
  if (::waitid(P_PID, app, &info, WEXITED | WNOHANG | WNOWAIT) != 0) ::_exit(200);
  const bool ran = info.si_pid == 0;
  // A signal sent before is queued already: a fatal one decides how it ends.
  ::kill(app, SIGKILL);
  int st = 0;
  ::waitpid(app, &st, 0);
  ::_exit((ran ? 100 : 0) + (WIFSIGNALED(st) ? WTERMSIG(st) : 50));
}

}  // namespace

TEST(CommandTask, OnlyASweptTaskStopsWhatLeftItsGroup) {
  const char* const own_group = "perl -e '$| = 1; setpgrp; print \"$$ started\\n\"; sleep 1000' & exec sleep 1000";
  const char* const own_session = "setsid sh -c 'echo $$ started; exec sleep 1000' & exec sleep 1000";
  const struct {
    const char* script;
    bool sweep;
    owner_does owner;
    bool build_beside;
    int fate;
  } cases[] = {
      // The editor's or the version-control GUI's app in a group of its own is the user's.
      {own_group, false, owner_does::nothing, false, 109},
      // A build's process in a session of its own comes back to us and is stopped.
      {own_session, true, owner_does::nothing, false, 200},
      // ... also when the child had ended before its release, which then has nothing to stop.
      {"setsid sh -c 'echo $$ started; exec sleep 1000' &", true, owner_does::waits_for_end, false, 200},
      // A collected child's own group is empty: a reused id may name its session, untouched.
      {"perl -e '$| = 1; setpgrp; print \"$$ started\\n\"; sleep 1000' &", true, owner_does::reaps, false, 109},
      // An app of the editor's that left in a session of its own comes back as a build ends:
      // it was seen elsewhere while the build ran, so it is the user's.
      {own_session, false, owner_does::nothing, true, 109},
  };
  for (const auto& c : cases)
    EXPECT_EXIT(app_after_release(c.script, c.sweep, c.owner, c.build_beside), testing::ExitedWithCode(c.fate),
                "")
        << c.script;
}
