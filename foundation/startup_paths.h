#pragma once
// The folders a program finds its parts and the user's settings in. Each program calls
// setup_paths() once from its own start-up code; the library never does, so tests decide.
// Fixing the folders creates nothing: see create_config_dir().

#include <filesystem>
#include <initializer_list>
#include <vector>

/// Folder of the running program file.
extern std::filesystem::path exe_dir;
/// Sources common to all builds: "./shared", exe_dir/"shared" or "/opt/vesk/shared". A
/// working folder's one is taken only when it and all in it are the user's own (own_file.h).
extern std::filesystem::path shared_dir;
/// Folder of the "rt_" runtime folders: "./runtimes", exe_dir/"runtimes" or "/opt/vesk/runtimes".
/// A working folder's one is taken only when it and its runtime folders with all in them
/// (the scripts, the form, the sources and tools a build compiles and runs) are the user's own.
extern std::filesystem::path runtimes_dir;
/// The user's home folder ($HOME).
extern std::filesystem::path home_dir;
/// home_dir/".config"/"vesk"; made by create_config_dir().
extern std::filesystem::path config_dir;

/// Fills the five folders; creates nothing. What it skipped in the working folder, and a
/// runtimes folder taken from there, are logged by log_start_path_notes(). Throws when "/proc/self/exe" cannot be read;
/// prints a message and exits with status 1 when HOME is unset.
void setup_paths();

/// Logs, once, a warning for each working-folder candidate that setup_paths() skipped
/// (naming it and why) and a line naming a runtimes folder taken from the working folder.
/// runtime_folders(runtimes_dir) calls it: setup_paths() runs before the log has its place.
void log_start_path_notes();

/// Creates config_dir with its missing parents. Called by a program only once its command
/// line is accepted and it has work to do, so that "--help" or a refused option leaves no
/// trace. Throws vesk::util::bt_exception naming the folder when it cannot be made.
void create_config_dir();

/// The runtime folders in the runtimes folder `dir`: its entries that are folders (links
/// followed), in listing order. Throws vesk::util::bt_exception naming the absolute folder
/// (and, for runtimes_dir, the other places searched) and what belongs there when `dir` is
/// missing or cannot be listed.
std::vector<std::filesystem::path> runtime_folders(const std::filesystem::path& dir);

/// The first candidate under which anything exists (links followed), else the first one.
std::filesystem::path first_existing_path(std::initializer_list<std::filesystem::path> candidates);

/// The target of the symbolic link `link`, read whole however long it is. Throws
/// vesk::util::bt_exception when the link cannot be read.
std::filesystem::path read_link_target(const std::filesystem::path& link);
