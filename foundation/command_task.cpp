#include "foundation/command_task.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <system_error>

#include "foundation/helpers.h"
#include "foundation/log_stream.h"
#include "foundation/own_file.h"

extern char** environ;

namespace vesk {

namespace fs = std::filesystem;

namespace {
void sweep_dropped();
void note_start(pid_t pid, int pidfd, bool sweep);
void look_below();
/// Whether this process made itself a subreaper, and so looks after what comes back.
bool adopting = false;
/// A swept child (or one of its orphans) was seen ended at the last look: what it left
/// may come at the next.
bool ended_before = false;
}

namespace {

/// Whether `candidate` exists and may run: one in the working folder (a relative path)
/// only when it is the user's own, else it is skipped with a warning naming it and why.
bool usable(const std::string& candidate) {
  if (!path_exists(candidate)) return false;
  if (!candidate.empty() && candidate[0] == '/') return true;
  std::error_code ec;
  const fs::path where = fs::absolute(candidate, ec).lexically_normal();
  const std::string fault = own_file_fault(ec ? fs::path(candidate) : where);
  if (fault.empty()) return true;
  log_warn << "Command " << candidate << " of the working folder is skipped: " << fault << "." << std::endl;
  return false;
}

}  // namespace

std::string find_in_path(const std::string& command, const char* path_env) {
  if (usable(command)) return command;
  if (path_env == nullptr) return std::string();
  // Entries as consecutive reads up to ':' give them: a trailing ':' adds no empty entry.
  std::string path(path_env);
  size_t begin = 0;
  while (begin < path.size()) {
    size_t end = path.find(':', begin);
    if (end == std::string::npos) end = path.size();
    std::string candidate = path.substr(begin, end - begin) + "/" + command;
    if (usable(candidate)) return candidate;
    begin = end + 1;
  }
  return std::string();
}

command_task::command_task(std::string cmd, std::vector<std::string> arguments, std::string working_dir, bool sweep)
    : command(std::move(cmd)), args(std::move(arguments)), working_dir_(std::move(working_dir)), sweep_(sweep) {
  if (!resolve()) return;
  if (args.size() > max_args) {
    // The table has room for max_args arguments; rather than cutting the command line
    // short, start nothing.
    std::cerr << "Error: For command_task only 20 argumends are allowed" << std::endl;
    return;
  }
  argv[0] = command.data();
  for (size_t i = 0; i < args.size(); ++i) argv[i + 1] = args[i].data();
  argv[args.size() + 1] = nullptr;
  start();
}

bool command_task::resolve() {
  std::string found = find_in_path(command, std::getenv("PATH"));
  if (found.empty()) {
    std::cerr << "command_task: command not found (" << command << ")" << std::endl;
    return false;
  }
  command = found;
  std::error_code ec;
  fs::path abs = fs::absolute(command, ec);
  exec_path_ = ec ? command : abs.string();
  return true;
}

void command_task::start() {
  sweep_dropped();
  int fds[2] = {-1, -1};
  // Close-on-exec keeps both ends out of this child's program (it gets the write end as
  // its stdout/stderr) and out of every later child of this process.
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    std::cerr << "command_task: unable to create a pipe for " << command << " ("
              << std::strerror(errno) << ")" << std::endl;
    return;
  }
  // Room for what a child writes between two polls of its owner, so a model that prints
  // every tick does not wait for the reader; a system that allows less keeps its default.
  ::fcntl(fds[0], F_SETPIPE_SZ, pipe_bytes);
  // Everything the child touches is prepared here: after vfork it shares our memory and
  // may only make system calls until execve or _exit.
  const char* const dir = working_dir_.empty() ? nullptr : working_dir_.c_str();
  const char* const exe = exec_path_.c_str();
  char* const* const child_argv = argv;
  const int read_end = fds[0];
  const int write_end = fds[1];
  const bool sweep = sweep_;
  // What a swept child leaves when it ends comes back here rather than to init.
  if (sweep && !adopting) adopting = ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0;
  sigset_t all, none, saved;
  ::sigfillset(&all);
  ::sigemptyset(&none);
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  ::sigemptyset(&defaults.sa_mask);

  // Until the child has put every handler back to its default, a signal must not reach
  // it: our handlers would run in the child, on our stack.
  ::pthread_sigmask(SIG_SETMASK, &all, &saved);
  const pid_t child = ::vfork();
  if (child == 0) {
    // The program starts with default actions and nothing blocked, whatever we block or
    // ignore, so dropping the task can always stop it.
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &defaults, nullptr);
    if (dir != nullptr && ::chdir(dir) != 0) ::_exit(127);
    ::close(read_end);
    ::dup2(write_end, 1);
    ::dup2(write_end, 2);
    // dup2 onto itself keeps close-on-exec; clear it so 1 and 2 survive the exec.
    ::fcntl(1, F_SETFD, 0);
    ::fcntl(2, F_SETFD, 0);
    ::setsid();
    // Kept across the exec: while the child runs, nothing of what it starts leaves it.
    if (sweep) ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(exe, child_argv, environ);
    ::_exit(127);
  }
  ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  if (child < 0) {
    std::cout << "fork error !!!" << std::endl;
    std::exit(-1);
  }
  pid = child;
  // Not reaped before this constructor returns, so the pidfd names this very child.
  pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
  note_start(child, pidfd_, sweep_);
  pipe_fd[0] = read_end;
  ::close(write_end);
  ::fcntl(read_end, F_SETFL, O_NONBLOCK);
}

namespace {

using steady = std::chrono::steady_clock;

/// Children that ignored even SIGKILL for a while (stuck in the kernel): reaped by a later
/// start, release or step once they end, never waited for.
std::vector<pid_t>& dropped() {
  static std::vector<pid_t> pids;
  return pids;
}

/// A child this process started: its own, never taken for one that came back.
struct own_child {
  pid_t pid;
  bool sweep;
};
std::vector<own_child>& own_children() {
  static std::vector<own_child> list;
  return list;
}
void forget_own(pid_t pid) {
  std::vector<own_child>& list = own_children();
  list.erase(std::remove_if(list.begin(), list.end(), [pid](const own_child& c) { return c.pid == pid; }), list.end());
}

/// A swept child whose end has not been seen yet; its pidfd (a copy) is its own for good.
struct member {
  pid_t pid;
  int pidfd;
  /// Its task was released: the stop is not over before a look has seen its end, which
  /// may have come at once, and what it left.
  bool released;
};
std::vector<member>& members() {
  static std::vector<member> list;
  return list;
}

/// A process that came back to us, not started by us. Until it is reaped its pid, and so
/// its group's and session's ids, cannot name anything else.
struct orphan {
  pid_t pid;
  /// Left by a swept child: stopped. Else the user's: left running.
  bool childs;
  steady::time_point since;
  /// Not even SIGKILL ended it within give_up_after_ms: only reaped once it ends.
  bool gave_up;
};
std::vector<orphan>& orphans() {
  static std::vector<orphan> list;
  return list;
}

void note_start(pid_t pid, int pidfd, bool sweep) {
  own_children().push_back({pid, sweep});
  if (!sweep) return;
  members().push_back({pid, pidfd >= 0 ? ::fcntl(pidfd, F_DUPFD_CLOEXEC, 3) : -1, false});
  // What runs now is not the new child's: only what starts after this look may be.
  if (adopting) look_below();
}

/// Reaps the dropped children that have ended since.
void sweep_dropped() {
  std::vector<pid_t>& pids = dropped();
  pids.erase(std::remove_if(pids.begin(), pids.end(),
                            [](pid_t p) {
                              if (::waitpid(p, nullptr, WNOHANG) == 0) return false;
                              forget_own(p);
                              return true;
                            }),
             pids.end());
}

/// A released child whose stop is under way. Its pid is its session's and its group's id.
struct release {
  pid_t pid = 0;
  /// Its whole session is stopped, not only its group.
  bool sweep = false;
  /// Refers to the child for good; -1 when the system gave none.
  int pidfd = -1;
  steady::time_point since;
  /// Reaped already, by the owner before the release or by anybody since.
  bool reaped = false;
};

std::vector<release>& releases() {
  static std::vector<release> list;
  return list;
}

/// What /proc/PID/stat tells of a process.
struct proc_stat {
  pid_t pid = 0, ppid = 0, group = 0, session = 0;
  char state = 0;
  /// Clock ticks after boot at which it started: with the pid, names it for good.
  unsigned long long start = 0;
};

/// Reads /proc/`name`/stat; false when the process is gone or the line is not understood.
bool read_stat(const char* name, proc_stat& out) {
  char path[300];  // "/proc/", a name of up to 255 bytes, "/stat"
  char stat[512];
  std::snprintf(path, sizeof path, "/proc/%s/stat", name);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t n = ::read(fd, stat, sizeof stat - 1);
  ::close(fd);
  if (n <= 0) return false;
  stat[n] = '\0';
  // "pid (name) state ppid pgrp session ... starttime (22nd)": the name may hold anything.
  const char* after_name = std::strrchr(stat, ')');
  out.pid = std::atoi(stat);
  return after_name != nullptr &&
         std::sscanf(after_name + 1, " %c %d %d %d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
                     &out.state, &out.ppid, &out.group, &out.session, &out.start) == 5;
}

/// Calls `f` with the stat of every process (from /proc).
template <typename F>
void each_process(F f) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return;
  proc_stat st;
  while (const dirent* e = ::readdir(proc)) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    if (read_stat(e->d_name, st)) f(st);
  }
  ::closedir(proc);
}

/// The process groups of the processes of session `sid` that have not ended (from /proc);
/// with `group_only`, only group `sid` itself, when it has such a member.
std::vector<pid_t> groups_in_session(pid_t sid, bool group_only) {
  std::vector<pid_t> groups;
  each_process([&](const proc_stat& st) {
    if ((group_only ? st.group : st.session) != sid || st.state == 'Z' || st.state == 'X') return;
    if (std::find(groups.begin(), groups.end(), st.group) == groups.end()) groups.push_back(st.group);
  });
  return groups;
}

/// Whether the released child has ended (reaped or not); one that somebody reaped counts.
bool ended(release& r) {
  if (r.reaped) return true;
  siginfo_t info{};
  const int rc = r.pidfd >= 0 ? ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(r.pidfd), &info,
                                         WEXITED | WNOHANG | WNOWAIT)
                              : ::waitid(P_PID, static_cast<id_t>(r.pid), &info, WEXITED | WNOHANG | WNOWAIT);
  if (rc != 0) r.reaped = true;
  return rc != 0 || info.si_pid != 0;
}

/// The groups still living in the child's session (not sweeping: its own group, if it has
/// living members). Until the child is reaped, its pid (the session's id) cannot name
/// anything else. A child that its owner collected ended as it meant to: its session is
/// looked at only while its own group has members and no process has the pid (the session
/// can then only be what the child left).
std::vector<pid_t> left_behind(const release& r) {
  if (r.reaped && (::kill(r.pid, 0) == 0 || errno != ESRCH || ::kill(-r.pid, 0) != 0)) return {};
  return groups_in_session(r.pid, !r.sweep);
}

void signal_groups(const std::vector<pid_t>& groups, int sig) {
  for (pid_t g : groups) ::kill(-g, sig);
}

/// Ends the release: the child reaped (or dropped, when it has not ended), its pidfd closed.
void finish(release& r, bool child_ended) {
  if (!r.reaped && (!child_ended || ::waitpid(r.pid, nullptr, WNOHANG) == 0)) {
    dropped().push_back(r.pid);
    // Not looked after any more: a stop that gave up must not hold the end of the program.
    std::vector<member>& ms = members();
    for (member& m : ms)
      if (m.pid == r.pid && m.pidfd >= 0) ::close(m.pidfd);
    ms.erase(std::remove_if(ms.begin(), ms.end(), [&r](const member& m) { return m.pid == r.pid; }), ms.end());
  } else {
    forget_own(r.pid);
  }
  if (r.pidfd >= 0) ::close(r.pidfd);
  r.pidfd = -1;
}

/// One step of a release's stop, by its age; true once it is over. Past its due time a
/// signal is sent again at every step, to what has come since too.
bool advance(release& r, steady::time_point now) {
  const auto age = now - r.since;
  const bool child_ended = ended(r);
  const bool sweep = age >= std::chrono::milliseconds(command_task::sweep_after_ms);
  // While the child runs, its session is looked through only once it is due to be swept.
  const std::vector<pid_t> left = child_ended || sweep ? left_behind(r) : std::vector<pid_t>();
  if (child_ended && left.empty()) {
    finish(r, true);
    return true;
  }
  if (age >= std::chrono::milliseconds(command_task::give_up_after_ms)) {
    finish(r, child_ended);
    return true;
  }
  if (age >= std::chrono::milliseconds(command_task::kill_after_ms)) ::kill(-r.pid, SIGKILL);
  if (sweep) signal_groups(left, SIGKILL);
  return false;
}

}  // namespace

namespace {

/// Whether our child `pid` has ended (a zombie) or is reaped already.
bool exited(idtype_t type, id_t id) {
  siginfo_t info{};
  return ::waitid(type, id, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
}

/// The children of this process, of all its threads (from /proc).
std::vector<pid_t> our_children() {
  std::vector<pid_t> pids;
  DIR* tasks = ::opendir("/proc/self/task");
  if (tasks == nullptr) return pids;
  while (const dirent* t = ::readdir(tasks)) {
    if (t->d_name[0] < '1' || t->d_name[0] > '9') continue;
    std::ifstream list(std::string("/proc/self/task/") + t->d_name + "/children");
    for (pid_t p = 0; list >> p;) pids.push_back(p);
  }
  ::closedir(tasks);
  return pids;
}

/// Signals an orphan and, when it leads them, its session's groups or its group.
void signal_orphan(const orphan& o, int sig) {
  const pid_t session = ::getsid(o.pid), group = ::getpgid(o.pid);
  ::kill(o.pid, sig);
  if (session == o.pid)
    signal_groups(groups_in_session(o.pid, false), sig);
  else if (group == o.pid)
    ::kill(-o.pid, sig);
}

/// Whether `pid` lives in the session of a child of ours that is not swept (the editor's
/// or the version-control GUI's): what they launched is the user's.
bool in_users_session(pid_t pid) {
  const pid_t session = ::getsid(pid);
  const std::vector<own_child>& own = own_children();
  return std::any_of(own.begin(), own.end(), [session](const own_child& c) { return !c.sweep && c.pid == session; });
}

/// A process seen below a swept child (or below what came back of one) at a look.
struct known {
  pid_t pid;
  unsigned long long start;
  /// Its line of parents ended in one that had gone before it was read: it may be below.
  bool unsure;
};
/// What was seen below the swept children, by pid, kept while those processes live.
std::vector<known>& below() {
  static std::vector<known> list;
  return list;
}
/// A child of ours at the last look through /proc.
struct back {
  pid_t pid;
  /// When the last look that saw it elsewhere began: where it was is known from then.
  unsigned long long seen_before;
};
std::vector<back>& back_at_look() {
  static std::vector<back> list;
  return list;
}
/// When the last look through /proc began, in clock ticks after boot.
unsigned long long last_look = 0;

unsigned long long ticks_now() {
  timespec t{};
  ::clock_gettime(CLOCK_BOOTTIME, &t);
  const long hz = ::sysconf(_SC_CLK_TCK);
  return static_cast<unsigned long long>(t.tv_sec) * hz + static_cast<unsigned long long>(t.tv_nsec) / (1000000000 / hz);
}

/// Whether processes whose end brings what they left back to us run (or ran at the last
/// look): the swept children and what came back of them.
bool sweeping() {
  return ended_before || !members().empty() ||
         std::any_of(orphans().begin(), orphans().end(), [](const orphan& o) { return o.childs; });
}

/// Looks through /proc once and adds to below() every process below a swept child or an
/// orphan taken as one's; forgets those that have ended.
void look_below() {
  const unsigned long long look_before = last_look;
  last_look = ticks_now();
  std::vector<proc_stat> all;
  each_process([&](const proc_stat& st) { all.push_back(st); });
  const auto by_pid = [](const auto& a, const auto& b) { return a.pid < b.pid; };
  std::sort(all.begin(), all.end(), by_pid);
  std::vector<known> old;
  old.swap(below());
  std::sort(old.begin(), old.end(), by_pid);
  const auto find = [](const auto& list, pid_t pid) {
    auto it = std::lower_bound(list.begin(), list.end(), pid, [](const auto& x, pid_t p) { return x.pid < p; });
    return it != list.end() && it->pid == pid ? &*it : nullptr;
  };
  const pid_t self = ::getpid();
  std::vector<pid_t> roots;
  for (const member& m : members()) roots.push_back(m.pid);
  for (const orphan& o : orphans())
    if (o.childs) roots.push_back(o.pid);
  std::vector<back> came;
  came.swap(back_at_look());
  std::sort(came.begin(), came.end(), by_pid);
  for (const proc_stat& p : all) {
    const known* was = find(old, p.pid);
    if (was != nullptr && was->start != p.start) was = nullptr;  // a reused pid
    if (p.ppid == self) {
      const back* b = find(came, p.pid);
      back_at_look().push_back({p.pid, b != nullptr ? b->seen_before : look_before});
    }
    bool in = was != nullptr && !was->unsure, unsure = was != nullptr && was->unsure;
    // Up the line of parents, at most once through every process (reads taken at
    // different moments may make a loop).
    const proc_stat* at = &p;
    for (size_t steps = 0; !in && steps <= all.size(); ++steps) {
      const proc_stat* parent = find(all, at->ppid);
      const known* k = find(old, at->ppid);
      if (std::find(roots.begin(), roots.end(), at->ppid) != roots.end() ||
          (k != nullptr && !k->unsure && (parent == nullptr || parent->start == k->start))) {
        in = true;
      } else if (at->ppid <= 1 || at->ppid == self) {
        break;
      } else if (parent == nullptr) {
        unsure = true;  // it ended while we looked
        break;
      } else {
        at = parent;
      }
    }
    if (in || unsure) below().push_back({p.pid, p.start, !in});
  }
}

/// Whether our new child `pid` was below a swept child: 1 seen there, 0 seen elsewhere, -1
/// unknown (started since the last look that could have seen it, or its line was broken).
int was_below(pid_t pid) {
  proc_stat st;
  const std::string name = std::to_string(pid);
  if (!read_stat(name.c_str(), st)) return -1;
  const std::vector<known>& list = below();
  const auto k = std::find_if(list.begin(), list.end(), [&](const known& x) { return x.pid == pid && x.start == st.start; });
  if (k != list.end()) return k->unsure ? -1 : 1;
  const std::vector<back>& came = back_at_look();
  const auto b = std::find_if(came.begin(), came.end(), [pid](const back& x) { return x.pid == pid; });
  return st.start >= (b != came.end() ? b->seen_before : last_look) ? -1 : 0;
}

}  // namespace

void command_task::look_after_orphans() {
  if (!adopting) return;
  // While a swept child runs (or what came back of one), every look sees through /proc
  // what is below it; before the children are listed, so that each one who came back was
  // seen where it was, unless it started since.
  const bool watch = sweeping();
  if (watch) {
    look_below();
  } else {
    below().clear();
    back_at_look().clear();
  }
  // Whatever a swept child or one of its orphans leaves comes back when it ends, before
  // its end can be seen: the children are listed first, so an end seen now explains those
  // listed now, and those that come from it after the listing are listed at the next look.
  const std::vector<pid_t> children = our_children();
  bool swept_ended = false;
  std::vector<member>& ms = members();
  ms.erase(std::remove_if(ms.begin(), ms.end(),
                          [&](member& m) {
                            if (!(m.pidfd >= 0 ? exited(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(m.pidfd))
                                               : exited(P_PID, static_cast<id_t>(m.pid))))
                              return false;
                            swept_ended = true;
                            if (m.pidfd >= 0) ::close(m.pidfd);
                            return true;
                          }),
           ms.end());
  std::vector<orphan>& list = orphans();
  for (const orphan& o : list) swept_ended = swept_ended || (o.childs && exited(P_PID, static_cast<id_t>(o.pid)));
  const bool theirs = swept_ended || ended_before;
  ended_before = swept_ended;
  const steady::time_point now = steady::now();
  const std::vector<own_child>& own = own_children();
  for (pid_t p : children) {
    const auto same = [p](const auto& x) { return x.pid == p; };
    if (std::any_of(own.begin(), own.end(), same) || std::any_of(list.begin(), list.end(), same)) continue;
    // Seen below a swept child: its. Not seen at all, since it started after the look:
    // its when such a child has just ended and it is not of the editor's session. Seen
    // elsewhere (an app the editor launched that left): the user's.
    const int below_swept = watch ? was_below(p) : 0;
    const orphan o{p, below_swept > 0 || (below_swept < 0 && theirs && !in_users_session(p)), now, false};
    if (o.childs) signal_orphan(o, SIGTERM);
    list.push_back(o);
  }
  list.erase(std::remove_if(list.begin(), list.end(),
                            [now](orphan& o) {
                              // By its own pid: the tasks' children are their owners' to wait for.
                              if (::waitpid(o.pid, nullptr, WNOHANG) != 0) return true;
                              if (!o.childs || o.gave_up) return false;
                              const auto age = now - o.since;
                              if (age >= std::chrono::milliseconds(give_up_after_ms))
                                o.gave_up = true;
                              else if (age >= std::chrono::milliseconds(kill_after_ms))
                                signal_orphan(o, SIGKILL);
                              return false;
                            }),
             list.end());
}

void command_task::stop_group() {
  release r;
  r.pid = pid;
  r.sweep = sweep_;
  r.pidfd = pidfd_;
  r.since = steady::now();
  pidfd_ = -1;  // the release's now
  for (member& m : members())
    if (m.pid == pid) m.released = true;
  // The child's state without reaping it: running (si_pid 0), ended, or reaped by the owner.
  siginfo_t info{};
  const int rc = r.pidfd >= 0 ? ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(r.pidfd), &info,
                                         WEXITED | WNOHANG | WNOWAIT)
                              : ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
  r.reaped = rc != 0;
  if (!r.reaped && info.si_pid == 0) {
    // Until we reap the child its pid, and so its group id, cannot name anything else. A
    // build tool passes the signal on to the groups it started: they get it once only.
    ::kill(-pid, SIGTERM);
  } else {
    signal_groups(left_behind(r), SIGTERM);
  }
  if (!advance(r, r.since)) releases().push_back(r);
}

void command_task::advance_stops() {
  sweep_dropped();
  const steady::time_point now = steady::now();
  std::vector<release>& list = releases();
  list.erase(std::remove_if(list.begin(), list.end(), [now](release& r) { return advance(r, now); }), list.end());
  // A child that ended just now has left its own to us.
  look_after_orphans();
}

bool command_task::stopping() {
  return !releases().empty() || ended_before ||
         std::any_of(members().begin(), members().end(), [](const member& m) { return m.released; }) ||
         std::any_of(orphans().begin(), orphans().end(), [](const orphan& o) { return o.childs && !o.gave_up; });
}

void command_task::finish_stops() {
  // Each stop is over by its give_up_after_ms, so this ends.
  while (stopping()) {
    advance_stops();
    if (stopping()) ::usleep(10000);
  }
}

command_task::~command_task() {
  if (pid > 0) stop_group();
  if (pipe_fd[0] >= 0) ::close(pipe_fd[0]);
  if (pipe_fd[1] >= 0) ::close(pipe_fd[1]);
  if (pidfd_ >= 0) ::close(pidfd_);
  sweep_dropped();
}

}  // namespace vesk
