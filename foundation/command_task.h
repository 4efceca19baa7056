#pragma once
// One program started as a child process whose joined standard output and error the
// owner polls without blocking, and which leads its own process group so one signal
// stops it together with everything it started.

#include <string>
#include <vector>

namespace vesk {

/// A started child process and the pipe its output arrives on.
class command_task {
 public:
  /// Most arguments a task takes; more start no child.
  static constexpr size_t max_args = 20;
  /// Bytes the pipe holds (where the system allows that much): what the child may write
  /// before it waits for the owner to read.
  static constexpr int pipe_bytes = 1 << 20;

  /// Finds `command` (as given, else through PATH) and starts it at once with `args`,
  /// in `working_dir` unless that is empty. Without a child `pid` stays 0.
  command_task(std::string command, std::vector<std::string> args, std::string working_dir);
  /// Stops what the child left running and closes the read end of the pipe: SIGTERM to the
  /// child's process group while it has members (SIGKILL when the child ignores it for a
  /// moment), and the child reaped. A child that the owner reaped already is never
  /// signalled, since its pid may belong to another process by then.
  ~command_task();
  command_task(const command_task&) = delete;
  command_task& operator=(const command_task&) = delete;

  /// The child's process id; 0 when no child was started.
  int pid = 0;
  /// Wait status stored by the last non-blocking wait on the child (owner's or release's).
  int status = 0;
  /// [0] read end kept by the parent (non-blocking), [1] write end (closed after start);
  /// -1 when not open.
  int pipe_fd[2] = {-1, -1};
  /// The program as given, or the path found through PATH.
  std::string command;
  /// Copy of the arguments.
  std::vector<std::string> args;
  /// Argument table handed to the child: command, arguments, null. Points into `command`
  /// and `args`, which is why a task is never copied or moved.
  char* argv[max_args + 2] = {};

 private:
  /// Absolute form of `command`, computed before the fork, so a working folder cannot make
  /// a relative command name another program.
  std::string exec_path_;
  std::string working_dir_;
  /// Refers to this child for good, even after its pid was reaped and reused; -1 when the
  /// system has none to give.
  int pidfd_ = -1;

  /// Looks the command up; false (after the message) when it is not found.
  bool resolve();
  /// Makes the pipe and the child.
  void start();
  /// The release's signals and wait (see the destructor).
  void stop_group();
  /// Whether the child has ended (reaped or not), waiting up to `ms` milliseconds.
  bool wait_end(int ms);
};

/// Where `command` is found: itself when something exists there, else the first PATH
/// entry + "/" + command that exists; empty when not found. `path_env` null means PATH is
/// unset. Split like consecutive reads up to ':' (an empty entry names the root folder).
std::string find_in_path(const std::string& command, const char* path_env);

}  // namespace vesk
