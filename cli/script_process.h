#pragma once
// Running a runtime script the way system() does (through /bin/sh, with the tool's own
// standard input, output and error), but in a process group of its own. A stop request
// sent to vesk-cli alone (kill, or the back end's SIGTERM to vesk-cli's group) must reach
// the script and the model it started; and a Ctrl-C in a terminal, which reaches only the
// foreground group, must reach them exactly once.

#include <string>

namespace vesk {

/// How long the script's processes get to end after a stop request was passed on to
/// them, before they are killed.
constexpr int script_stop_grace_ms = 5000;

/// Runs `command` with "/bin/sh -c" in a new process group and waits for it; returns the
/// raw wait status, as system() does (-1 when no process could be made). When SIGTERM,
/// SIGINT or SIGHUP arrives meanwhile, it is passed on to the script's group; once no
/// process of that group is left (killed after script_stop_grace_ms at the latest) the
/// program ends by that same signal, so its caller sees an ordinary stopped command
/// (status 130 for SIGINT in a shell, the raw status 15 for SIGTERM). A signal that was
/// ignored when this was called stays ignored, by the script too.
int run_in_own_group(const std::string& command);

}  // namespace vesk
