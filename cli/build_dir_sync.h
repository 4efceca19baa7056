#pragma once
// Bringing a build directory in line with its sources after a compile: the selected
// runtime folder is mirrored into it, the shared folder into its "shared" sub-folder, and
// the node files of the workspace projects the model uses are copied under "ws". The
// mirror only adds and refreshes; pruning happens only below "ws".

#include <filesystem>
#include <list>
#include <set>
#include <string>

#include "foundation/json.h"

namespace vesk {

/// A folder tree as three ordered sets of path texts.
struct dir_listing {
  std::set<std::string> files;     ///< regular files, canonical
  std::set<std::string> dirs;      ///< every folder scanned, the root included, canonical
  std::set<std::string> symlinks;  ///< symbolic links, absolute, not resolved
};

/// Lists the tree below `root`. Links are recorded, not followed, so the walk ends on any
/// tree. File-system errors are thrown.
dir_listing list_dir(const std::string& root);

/// Brings `target` in line with `source`: creates missing folders, copies files that are
/// missing or whose content differs from their source, re-creates every symbolic link.
/// Removes nothing that exists only in `target`. File-system errors are thrown.
void sync_directory(const std::string& source, const std::string& target);

/// Appends the project name of a compile-information entry "ws/<project>/...".
void collect_ws_name(std::list<std::string>& projects, const std::string& entry);

/// What the "ws" copy is decided from: the current compile information and the build
/// directory its entries are relative to.
struct ws_sync_context {
  vesk::json& compile_info;
  const std::filesystem::path& build_dir;
};

/// Whether `path` is the build directory's text + "/" + one of the "sources" entries.
bool is_listed_source(const ws_sync_context& context, const std::string& path);

/// Logs "Updating build-directory...", then mirrors the runtime folder into the build
/// directory and the shared folder into build_dir/"shared". A missing runtime folder or an
/// empty runtime name ends the process with status 1 after an error line.
void sync_runtime_files(const std::filesystem::path& runtime_folder, const std::string& runtime_name,
                        const std::filesystem::path& build_dir, const std::filesystem::path& shared_folder);

/// Copies the node folders of the workspace projects named by "ws/" entries of the
/// compile information to build_dir/"ws"/<project>/"nodes" (sub-folders included), and
/// removes what the model no longer uses: unlisted projects, unlisted sources with their
/// object files, headers whose original is gone.
void sync_workspace_nodes(const ws_sync_context& context, const std::filesystem::path& workspace_dir);

}  // namespace vesk
