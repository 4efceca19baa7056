#include "foundation/command_task.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
  int fds[2] = {-1, -1};
  // Close-on-exec keeps both ends out of this child's program (it gets the write end as
  // its stdout/stderr) and out of every later child of this process.
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    std::cerr << "command_task: unable to create a pipe for " << command << " ("
              << std::strerror(errno) << ")" << std::endl;
    return;
  }
  // Everything the child touches is prepared here: after vfork it shares our memory and
  // may only make system calls until execve or _exit.
  const char* const dir = working_dir_.empty() ? nullptr : working_dir_.c_str();
  const char* const exe = exec_path_.c_str();
  char* const* const child_argv = argv;
  const int read_end = fds[0];
  const int write_end = fds[1];

  const pid_t child = ::vfork();
  if (child == 0) {
    if (dir != nullptr && ::chdir(dir) != 0) ::_exit(127);
    ::close(read_end);
    ::dup2(write_end, 1);
    ::dup2(write_end, 2);
    // dup2 onto itself keeps close-on-exec; clear it so 1 and 2 survive the exec.
    ::fcntl(1, F_SETFD, 0);
    ::fcntl(2, F_SETFD, 0);
    ::setsid();
    ::execve(exe, child_argv, environ);
    ::_exit(127);
  }
  if (child < 0) {
    std::cout << "fork error !!!" << std::endl;
    std::exit(-1);
  }
  pid = child;
  pipe_fd[0] = read_end;
  ::close(write_end);
  ::fcntl(read_end, F_SETFL, O_NONBLOCK);
}

command_task::~command_task() {
  if (pid > 0) {
    // 0: still running. Its id or an error (the owner reaped it already): leave it be.
    if (::waitpid(pid, &status, WNOHANG) == 0) ::kill(-pid, SIGTERM);
  }
  if (pipe_fd[0] >= 0) ::close(pipe_fd[0]);
  if (pipe_fd[1] >= 0) ::close(pipe_fd[1]);
}

}  // namespace vesk
