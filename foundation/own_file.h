#pragma once
// Whether a file vesk would run or load from the working folder is the user's own: a
// scratch folder, a team share or an unpacked archive may hold what another user put there.

#include <filesystem>
#include <string>

/// Empty when `path` belongs to the user the program runs as (its effective uid) or to
/// root and is not writable by every user; else why not, naming the path (such as
/// "/tmp/x/gitk belongs to uid 65534, neither to this user (uid 1000) nor to root"). A
/// symbolic link counts as both: the link itself must be the user's or root's (whoever owns
/// it may replace it), and what it leads to is judged as above. A group-writable file of the
/// user's own (umask 002) is fine.
std::string own_file_fault(const std::filesystem::path& path);
