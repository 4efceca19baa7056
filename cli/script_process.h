#pragma once
// Running a runtime script the way system() does (through /bin/sh, with the tool's own
// standard input, output and error), so that a stop request ends the whole run exactly
// once: the script and the model it started, then vesk-cli, leaving no orphan behind,
// even when vesk-cli itself is killed.

#include <string>

#include "cli/output_relay.h"

namespace vesk {

/// How long the script's processes get to end after a stop request was passed on to
/// them, before they are killed.
constexpr int script_stop_grace_ms = 5000;

/// Runs `command` with "/bin/sh -c" and waits for it; returns the raw wait status, as
/// system() does (-1 when no process could be made). The script gets a process group of
/// its own, and SIGTERM, SIGINT or SIGHUP arriving meanwhile is passed on to it; once no
/// process of that group is left (killed after script_stop_grace_ms at the latest) the
/// program ends by that same signal, so its caller sees an ordinary stopped command
/// (status 130 for SIGINT in a shell, the raw status 15 for SIGTERM). Should the program
/// end without passing a stop on (SIGKILL), the kernel sends the script's process SIGTERM.
/// A signal that was ignored when this was called stays ignored, by the script too.
/// With a `filter`, the script's standard output and error reach ours through it, line
/// by line (output_relay); what a process it left behind writes after it ended is lost.
int run_script_command(const std::string& command, const line_filter& filter = nullptr);

}  // namespace vesk
