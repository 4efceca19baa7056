#include "foundation/command_task.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <system_error>

#include "foundation/helpers.h"

extern char** environ;

namespace vesk {

namespace fs = std::filesystem;

namespace {
void sweep_dropped();
}

std::string find_in_path(const std::string& command, const char* path_env) {
  if (path_exists(command)) return command;
  if (path_env == nullptr) return std::string();
  // Entries as consecutive reads up to ':' give them: a trailing ':' adds no empty entry.
  std::string path(path_env);
  size_t begin = 0;
  while (begin < path.size()) {
    size_t end = path.find(':', begin);
    if (end == std::string::npos) end = path.size();
    std::string candidate = path.substr(begin, end - begin) + "/" + command;
    if (path_exists(candidate)) return candidate;
    begin = end + 1;
  }
  return std::string();
}

command_task::command_task(std::string cmd, std::vector<std::string> arguments, std::string working_dir)
    : command(std::move(cmd)), args(std::move(arguments)), working_dir_(std::move(working_dir)) {
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
  pipe_fd[0] = read_end;
  ::close(write_end);
  ::fcntl(read_end, F_SETFL, O_NONBLOCK);
}

namespace {

/// Children that ignored even SIGKILL for a moment (stuck in the kernel): reaped by a later
/// start or release instead of blocking the release.
std::vector<pid_t>& dropped() {
  static std::vector<pid_t> pids;
  return pids;
}

/// Reaps the dropped children that have ended since.
void sweep_dropped() {
  std::vector<pid_t>& pids = dropped();
  pids.erase(std::remove_if(pids.begin(), pids.end(), [](pid_t p) { return ::waitpid(p, nullptr, WNOHANG) != 0; }),
             pids.end());
}

}  // namespace

bool command_task::wait_end(int ms) {
  if (pidfd_ >= 0) {
    pollfd p{pidfd_, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
  }
  for (int i = 0;; ++i) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0)
      return true;
    if (i >= ms) return false;
    ::usleep(1000);
  }
}

void command_task::stop_group() {
  // The child's state without reaping it: running (si_pid 0), ended, or reaped by the owner.
  siginfo_t info{};
  const int r = pidfd_ >= 0 ? ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd_), &info,
                                       WEXITED | WNOHANG | WNOWAIT)
                            : ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
  if (r != 0) {
    // Reaped by the owner: the pid is free for reuse. A process that has it now is not
    // ours; without one, a group of that id can only be what our child left behind.
    if (::kill(pid, 0) != 0 && errno == ESRCH) ::kill(-pid, SIGTERM);
    return;
  }
  // Until we reap the child its pid, and so its group id, cannot name anything else.
  ::kill(-pid, SIGTERM);
  if (info.si_pid == 0 && !wait_end(100)) {
    ::kill(-pid, SIGKILL);
    wait_end(100);
  }
  if (::waitpid(pid, &status, WNOHANG) == 0) dropped().push_back(pid);
}

command_task::~command_task() {
  if (pid > 0) stop_group();
  if (pipe_fd[0] >= 0) ::close(pipe_fd[0]);
  if (pipe_fd[1] >= 0) ::close(pipe_fd[1]);
  if (pidfd_ >= 0) ::close(pidfd_);
  sweep_dropped();
}

}  // namespace vesk
