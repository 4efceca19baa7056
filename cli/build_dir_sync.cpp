#include "cli/build_dir_sync.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "foundation/helpers.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace fs = std::filesystem;

namespace {

bool nothing_at(const fs::path& p) { return !fs::exists(fs::symlink_status(p)); }

void walk(const fs::path& folder, dir_listing& out) {
  const std::string c = fs::canonical(folder).lexically_normal().string();
  // A folder reached twice (through a link to a parent, say) is listed once.
  if (!out.dirs.insert(c).second) return;
  for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
    if (e.is_symlink()) {
      out.symlinks.insert(fs::absolute(e.path()).string());
      continue;
    }
    const fs::path p = fs::canonical(e.path()).lexically_normal();
    const fs::file_status st = fs::status(p);
    if (fs::is_regular_file(st)) {
      out.files.insert(p.string());
    } else if (fs::is_directory(st)) {
      walk(p, out);
    }
  }
}

/// Whether two regular files hold the same bytes.
bool same_bytes(const fs::path& a, const fs::path& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  if (!fa || !fb) return false;
  char ba[16384], bb[16384];
  while (fa && fb) {
    fa.read(ba, sizeof ba);
    fb.read(bb, sizeof bb);
    if (fa.gcount() != fb.gcount() || std::memcmp(ba, bb, static_cast<size_t>(fa.gcount())) != 0) return false;
  }
  return fa.eof() && fb.eof();
}

/// Copies `from` to `to` unless `to` is a file with the same content; a folder or link in
/// its place is replaced. Missing parent folders are made, so nested files arrive too.
/// A restored source may be older than its copy, so any difference counts, not only a
/// later time. A first copy takes its source's time, so that the next build finds the
/// two equal by their times alone; a copy that replaces another keeps the time of the
/// copy, so whatever the runtime's build made from the old one is older and made again.
void refresh_file(const fs::path& from, const fs::path& to) {
  const fs::file_status ls = fs::symlink_status(to);
  const fs::file_time_type from_time = fs::last_write_time(from);
  bool first = false;
  if (!fs::exists(ls)) {
    fs::create_directories(to.parent_path());
    first = true;
  } else if (!fs::is_regular_file(ls)) {
    fs::remove_all(to);
  } else if (from_time == fs::last_write_time(to) ||
             (fs::file_size(from) == fs::file_size(to) && same_bytes(from, to))) {
    return;
  } else {
    fs::remove(to);
  }
  fs::copy_file(from, to);
  if (first) fs::last_write_time(to, from_time);
}

/// The path of `p` (canonical) below the canonical form of `root`.
fs::path below(const std::string& p, const fs::path& canonical_root) {
  return fs::path(p).lexically_relative(canonical_root);
}

}  // namespace

dir_listing list_dir(const std::string& root) {
  dir_listing out;
  walk(root, out);
  return out;
}

void sync_directory(const std::string& source, const std::string& target) {
  fs::create_directories(target);
  const dir_listing a = list_dir(source);
  const fs::path root = fs::canonical(source).lexically_normal();
  const fs::path dst = target;

  for (const std::string& d : a.dirs) {
    const fs::path t = (dst / below(d, root)).lexically_normal();
    if (nothing_at(t)) {
      fs::create_directories(t);
    } else if (!fs::is_directory(t)) {
      fs::remove(t);
      fs::create_directory(t);
    }
  }
  for (const std::string& f : a.files) refresh_file(f, dst / below(f, root));
  for (const std::string& l : a.symlinks) {
    const fs::path link = l;
    const fs::path t = (dst / fs::relative(link.parent_path(), source) / link.filename()).lexically_normal();
    if (!nothing_at(t)) fs::remove_all(t);
    fs::create_symlink(fs::read_symlink(link), t);
  }
}

void collect_ws_name(std::list<std::string>& projects, const std::string& entry) {
  if (!starts_with(entry, "ws/")) return;
  const size_t end = entry.find('/', 3);
  projects.push_back(entry.substr(3, end == std::string::npos ? std::string::npos : end - 3));
}

bool is_listed_source(const ws_sync_context& context, const std::string& path) {
  vesk::json& sources = context.compile_info["sources"];
  if (!sources.is_array() && !sources.is_object()) return false;
  const std::string base = context.build_dir.string() + "/";
  for (auto item : sources) {
    if (base + item.value->get_string() == path) return true;
  }
  return false;
}

void sync_runtime_files(const fs::path& runtime_folder, const std::string& runtime_name, const fs::path& build_dir,
                        const fs::path& shared_folder) {
  log_info << "Updating build-directory..." << std::endl;
  if (!path_exists(runtime_folder) || runtime_name.empty()) {
    log_err << "The selected runtime in your project configuration does not exist." << std::endl;
    std::cout.flush();
    std::exit(1);
  }
  sync_directory(runtime_folder.string(), build_dir.string());
  sync_directory(shared_folder.string(), (build_dir / "shared").string());
}

void sync_workspace_nodes(const ws_sync_context& context, const fs::path& workspace_dir) {
  std::list<std::string> projects;
  for (const char* key : {"headers", "sources"}) {
    for (auto item : context.compile_info[key]) collect_ws_name(projects, item.value->get_string());
  }
  projects.sort();
  projects.unique();

  const fs::path ws = context.build_dir / "ws";
  if (nothing_at(ws)) fs::create_directories(ws);

  for (const fs::directory_entry& e : fs::directory_iterator(ws)) {
    if (!fs::is_directory(e.path())) {
      fs::remove(e.path());
    } else if (std::find(projects.begin(), projects.end(), e.path().filename().string()) == projects.end()) {
      // A link to a folder goes alone; remove_all does not follow it.
      fs::remove_all(e.path());
    }
  }

  for (const std::string& p : projects) {
    const fs::path src = workspace_dir / p / "nodes";
    const fs::path dst = ws / p / "nodes";
    if (!path_exists(src)) continue;
    if (nothing_at(dst)) fs::create_directories(dst);

    const fs::path src_root = fs::canonical(src).lexically_normal();
    for (const std::string& f : list_dir(src.string()).files) {
      const fs::path rel = below(f, src_root);
      const fs::path t = dst / rel;
      if (is_source_file(rel) && !is_listed_source(context, t.string())) continue;
      refresh_file(f, t);
    }

    const fs::path dst_root = fs::canonical(dst).lexically_normal();
    for (const std::string& g : list_dir(dst.string()).files) {
      const fs::path rel = below(g, dst_root);
      const fs::path copy = dst / rel;
      if (is_source_file(rel) && !is_listed_source(context, copy.string())) {
        fs::remove(copy);
        const fs::path object = copy.parent_path() / (rel.stem().string() + ".o");
        if (!nothing_at(object)) fs::remove(object);
      } else if (is_header_file(rel) && !path_exists(src / rel)) {
        fs::remove(copy);
      }
    }
  }
}

}  // namespace vesk
