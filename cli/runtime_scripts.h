#pragma once
// Handing over to the runtime: its configuration file "config.json" in the build
// directory, and its scripts ./build and ./start, run through the shell with the build
// directory as working folder and the tool's own standard output and error.

#include <filesystem>
#include <string>

#include "cli/output_relay.h"
#include "foundation/project_config.h"

namespace vesk {

/// Whether a runtime name from a project configuration can go into a path and a command:
/// not empty, only ASCII letters, digits, '-' and '_' (what a runtime folder may be named).
bool is_plain_runtime_name(const std::string& name);

/// `text` as one shell word: between single quotes, each single quote written as '\''.
std::string shell_quote(const std::string& text);

/// The command that runs `script` ("build" or "start") in `build_dir`; the script runs
/// only when the change of folder succeeded, and replaces the shell.
std::string script_command(const std::filesystem::path& build_dir, const std::string& script);

/// The build directory of a project: project folder / ("build-" + project + "-" + runtime).
std::filesystem::path build_dir_of(const std::filesystem::path& project_folder, const std::string& project_name,
                                   const std::string& runtime_name);

/// The folder of a project configuration file: the parent of its absolute, lexically
/// normal path, so "p.vcfg" and "./p.vcfg" both name the working folder.
std::filesystem::path project_folder_of(const std::filesystem::path& config_path);

/// Writes build_dir/"config.json": the project's configuration for the runtime (an object,
/// else {}), completed by the defaults of the build directory's "config_def.json".
void write_runtime_config(const std::filesystem::path& build_dir, const project_config_file& config,
                          const std::string& runtime_name);

/// The file in a build directory whose presence says that its latest build failed.
extern const char* const failed_build_marker;

/// The file in a build directory whose presence says that a build of it succeeded, so
/// that there is a program to start.
extern const char* const built_marker;

/// Writes (`succeeded` false) or removes the failed_build_marker of `build_dir`; a
/// success also writes the built_marker (when it is not there yet).
void note_build_result(const std::filesystem::path& build_dir, bool succeeded);

/// Logs "Build runtime...", runs ./build with each line of its output and error passed
/// through `filter`; returns the raw wait status, as system() does.
int run_build_script(const std::filesystem::path& build_dir, const line_filter& filter);

/// The start step: derives the build directory from the configuration file alone, logs
/// "Start runtime..." and runs ./start; returns its raw wait status (-1 for a runtime
/// name that is not plain, a build directory that does not exist yet, or one whose
/// builds all failed, each with an "e: " line). A build directory whose latest build
/// failed gives a "w: " line first: the program of the last successful build runs.
/// `built`: the build step of this run has read the configuration and written its
/// warnings already, so they are not written again. `checked` false (-nt): a directory
/// whose builds all failed gives a "w: " line and ./start runs all the same.
int start_runtime(const std::filesystem::path& config_path, bool built = false, bool checked = true);

}  // namespace vesk
