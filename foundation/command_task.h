#pragma once
// One program started as a child process whose joined standard output and error the
// owner polls without blocking, and which leads its own session and process group. A task
// that sweeps (a build, which runs the model) is stopped with everything it started,
// wherever that went; any other (the editor, the version-control GUI) by its own process
// group only, and what it launched in groups of its own is left to the user. Releasing a
// task never waits: the stop goes on in steps the owner runs on a timer.

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
  /// How long a released child's group has after its SIGTERM before it gets SIGKILL.
  static constexpr int kill_after_ms = 100;
  /// How long after the release every process group left in the child's session (those it
  /// started of their own, as the build tool does for the model) gets SIGKILL.
  static constexpr int sweep_after_ms = 1000;
  /// How long after the release a stop is given up: a child that not even SIGKILL ended
  /// (stuck in the kernel) is then only reaped once it ends.
  static constexpr int give_up_after_ms = 2000;

  /// Finds `command` (as given, else through PATH) and starts it at once with `args`,
  /// in `working_dir` unless that is empty. Without a child `pid` stays 0. With `sweep`,
  /// this process and the child become child subreapers (PR_SET_CHILD_SUBREAPER): what
  /// the child's processes leave when they end (a daemon that called setsid) stays below
  /// the child while it runs and comes back to this process when it ends, which then stops
  /// it as the child's (see look_after_orphans).
  command_task(std::string command, std::vector<std::string> args, std::string working_dir, bool sweep = false);
  /// Starts the stop of what the child left running and closes the read end of the pipe,
  /// without waiting: SIGTERM to the child's group while the child runs (it may pass it
  /// on), else to what is left of its group (swept: every group left in its session); the
  /// rest is advance_stops' work. A
  /// child that the owner reaped already is never signalled, since its pid may belong to
  /// another process by then.
  ~command_task();
  command_task(const command_task&) = delete;
  command_task& operator=(const command_task&) = delete;

  /// Takes care of the processes that came back to this process since it became a
  /// subreaper, never waiting. While a swept child (or one of those taken as its) runs,
  /// each look reads /proc once and keeps what is below it, by pid and start time. One
  /// that comes back is taken as that child's when a look saw it below, or when it started
  /// since the last look, comes when such a child has ended since the last look and is
  /// not of the session of a task that does not sweep: SIGTERM to it (and to its session
  /// or group when it leads one), SIGKILL kill_after_ms later, and again at each look
  /// until it ends. Any other (seen elsewhere: an app the editor launched that left) is
  /// the user's and left running. Either is reaped once
  /// it ends, by its own pid, so the wait status of the tasks' children stays their
  /// owner's. The owner runs it on its poll; advance_stops runs it too.
  static void look_after_orphans();
  /// Moves the stops of released children on, never waiting: SIGKILL to a child's group
  /// kill_after_ms after its release, to every group left in its session after
  /// sweep_after_ms; a child is reaped once nothing of its session is left. The owner
  /// runs it on a timer while `stopping()`.
  static void advance_stops();
  /// Whether the stop of a released child, or of what came back of a swept one, is still
  /// under way; a released swept child's until a look has seen it end.
  static bool stopping();
  /// Runs the stops under way to their end on this thread, within give_up_after_ms: for
  /// the end of a program, whose loop runs no more timers.
  static void finish_stops();

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
  /// Stopped with all it started (a build), not only its own group.
  bool sweep_ = false;
  /// Refers to this child for good, even after its pid was reaped and reused; -1 when the
  /// system has none to give.
  int pidfd_ = -1;

  /// Looks the command up; false (after the message) when it is not found.
  bool resolve();
  /// Makes the pipe and the child.
  void start();
  /// The release's first signal, and the stop handed on to advance_stops (see the
  /// destructor); the child's session is swept only with `sweep_`.
  void stop_group();
};

/// Where `command` is found: itself when something exists there, else the first PATH
/// entry + "/" + command that exists; empty when not found. A candidate in the working
/// folder (a relative path: a bare name found there, a relative PATH entry) is taken only
/// when it is the user's own (own_file.h); else it is skipped with a warning. `path_env` null means PATH is
/// unset. Split like consecutive reads up to ':' (an empty entry names the root folder).
std::string find_in_path(const std::string& command, const char* path_env);

}  // namespace vesk
