// The GUI commands on files: new node sources, managed files with save points, data files,
// deleting a project file and cleaning the build folder. Every path that comes from the
// editor is checked against the folder it must stay in before anything is touched.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "backend/gui_guards.h"
#include "backend/main_controller.h"
#include "backend/managed_file.h"
#include "backend/session_commands.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"

namespace vesk::session_commands {

namespace fs = std::filesystem;

namespace {

/// The largest data file sent with "get_data_file": in base64 it takes 4/3 of that, which
/// together with the signal values that may wait stays below the session's send bound.
constexpr size_t max_data_file_bytes = size_t{32} << 20;

/// Sets the session's save-point mark for one scope, also when the save point throws.
struct save_point_mark {
  explicit save_point_mark(session& s) : s(s) { s.in_save_point = true; }
  ~save_point_mark() { s.in_save_point = false; }
  session& s;
};

/// The file this session opened under the request's "file_name"; null, with an error line
/// naming the command and the name, when it has none open under that name.
std::shared_ptr<managed_file> opened(session& s, vesk::json& request) {
  std::string name;
  if (!text_arg(request, "file_name", name)) return nullptr;
  auto it = s.open_files.find(name);
  if (it != s.open_files.end()) return it->second;
  log_err << replace_invalid_utf8(request["cmd"].get_string()) << ": '" << replace_invalid_utf8(name)
          << "' is not open; nothing changed." << std::endl;
  return nullptr;
}

/// Closes a descriptor when the scope ends.
struct open_fd {
  int fd;
  ~open_fd() {
    if (fd >= 0) ::close(fd);
  }
};

/// The folder opened for use by name in it (links followed), and the real path of what was
/// opened: every check is made on that path, so a link swapped in after the check cannot
/// lead elsewhere. -1 when it cannot be opened.
int open_folder(const fs::path& folder, fs::path& real) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  real = fd >= 0 ? open_file_path(fd) : fs::path();
  return fd;
}

/// Whether the folder open on `fd` holds no entry `name`, or a plain file by that name.
bool plain_or_new(int fd, const std::string& name) {
  struct stat st {};
  if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return S_ISREG(st.st_mode);
  return errno == ENOENT;
}

/// Whether the folder open on `fd` holds an entry `name` of any kind.
bool exists_in(int fd, const std::string& name) {
  struct stat st {};
  return ::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

/// Whether the runtime name can only name a folder directly inside the project.
bool is_plain_runtime_name(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (!std::isalnum(c) && c != '_' && c != '-') return false;
  }
  return true;
}

/// The bytes of the current contents of the files held for the sessions.
size_t held_content_bytes(main_controller& c) {
  size_t bytes = 0;
  for (const auto& held : c.held_files) {
    if (held && held->index < held->history.size()) bytes += held->history[held->index].size();
  }
  return bytes;
}

/// Whether one more file may be held for the sessions: held files stay for the back
/// end's whole run (an editor that connects again finds their histories), so their count
/// and their current contents are bounded. Past either, an error line, and false.
bool may_hold_another(main_controller& c, const fs::path& name) {
  const size_t bytes = held_content_bytes(c);
  if (c.held_files.size() < session::max_held_files && bytes < session::max_held_content_bytes) return true;
  log_err << "open_file: '" << replace_invalid_utf8(name.string()) << "' was not opened: " << c.held_files.size()
          << " files of " << bytes << " bytes are held open, and the most are " << session::max_held_files
          << " files or " << session::max_held_content_bytes << " bytes." << std::endl;
  return false;
}

}  // namespace

bool text_arg(vesk::json& request, const char* key, std::string& out, bool required) {
  vesk::json& v = request[key];
  if (v.is_string() || (v.is_null() && !required)) {
    out = v.is_string() ? v.take_string() : std::string();
    return true;
  }
  log_err << replace_invalid_utf8(request["cmd"].get_string()) << ": \"" << key
          << "\" must be a JSON text; nothing done." << std::endl;
  return false;
}

bool array_arg(vesk::json& request, const char* key, const char* outcome) {
  if (request[key].is_array()) return true;
  log_err << replace_invalid_utf8(request["cmd"].get_string()) << ": \"" << key << "\" must be a JSON array; "
          << outcome << std::endl;
  return false;
}

bool report_findings(const vesk::json& request, std::vector<read_finding> findings) {
  bool ok = true;
  for (read_finding& f : findings) {
    if (!f.error) continue;
    ok = false;
    f.outcome += "; nothing done.";
  }
  // Put in front of each line, as a node source's line is.
  log_place place(replace_invalid_utf8(command_of(request)) + ":", log_place::source_line);
  write_findings(findings);
  return ok;
}

bool object_arg(vesk::json& request, const char* key) {
  if (request[key].is_object()) return true;
  log_err << replace_invalid_utf8(request["cmd"].get_string()) << ": \"" << key
          << "\" must be a JSON object; nothing written." << std::endl;
  return false;
}

std::string base64(const std::string& bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out((bytes.size() + 2) / 3 * 4, '=');
  const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
  char* o = &out[0];
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3, o += 4) {
    const uint32_t v = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8 | in[i + 2];
    o[0] = alphabet[v >> 18];
    o[1] = alphabet[(v >> 12) & 63];
    o[2] = alphabet[(v >> 6) & 63];
    o[3] = alphabet[v & 63];
  }
  if (i < bytes.size()) {  // one or two bytes left; the '=' padding is in place already
    uint32_t v = uint32_t(in[i]) << 16;
    if (i + 1 < bytes.size()) v |= uint32_t(in[i + 1]) << 8;
    o[0] = alphabet[v >> 18];
    o[1] = alphabet[(v >> 12) & 63];
    if (i + 1 < bytes.size()) o[2] = alphabet[(v >> 6) & 63];
  }
  return out;
}

bool create_h_cpp(session& s, vesk::json& request) {
  std::string n;
  if (!text_arg(request, "name", n, true)) return true;
  // The name becomes a file name and a header guard: nothing but an identifier will do.
  if (!is_identifier(n)) {
    log_err << "create_h_cpp: '" << replace_invalid_utf8(n) << "' is no valid name (letters, digits and '_')."
            << std::endl;
    return true;
  }
  const std::string f = s.controller.state.prj_path + "/nodes/";
  const std::string p = s.controller.state.prj_name;
  fs::create_directories(f);
  // Both files are written into the project's own "nodes" folder as plain files: a link
  // there (or a linked folder) would carry the templates over a file elsewhere.
  std::error_code ec;
  const fs::path nodes = fs::canonical(s.controller.state.prj_path, ec) / "nodes";
  fs::path real;
  open_fd dir{open_folder(f, real)};
  if (ec || dir.fd < 0 || real != nodes || !plain_or_new(dir.fd, n + ".h") || !plain_or_new(dir.fd, n + ".cpp")) {
    log_err << "create_h_cpp: " << replace_invalid_utf8(f + n) << ".h or .cpp is a link or lies outside the "
            << "project's nodes folder; nothing written." << std::endl;
    return true;
  }
  // A node source the user wrote is never written over: the editor's "New node" shows why.
  std::string taken;
  for (const std::string& name : {n + ".h", n + ".cpp"}) {
    if (!exists_in(dir.fd, name)) continue;
    taken += (taken.empty() ? "" : " and ") + replace_invalid_utf8(f + name);
  }
  if (!taken.empty()) {
    log_err << "create_h_cpp: " << taken << (taken.find(" and ") == std::string::npos ? " exists" : " exist")
            << " already; nothing written." << std::endl;
    return true;
  }
  std::string guard = p + "_" + n + "_h";
  for (char& c : guard) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string header = "#ifndef " + guard + "\n#define " + guard + " " + guard + "\n\nnamespace " + p +
                             "{\n\n\n\n} // namespace " + p + "\n\n#endif // " + guard + "\n";
  const std::string source = "#include \"" + n + ".h\"\n\nusing namespace std;\nusing namespace " + p + ";\n\n";
  // Checked again right before each rename: a file made meanwhile is not replaced either.
  const auto still_new = [&dir](const std::string& name) { return [&dir, name] { return !exists_in(dir.fd, name); }; };
  if (!write_file_in(dir.fd, n + ".h", header, still_new(n + ".h"))) {
    log_err << "create_h_cpp: unable to write " << replace_invalid_utf8(f + n) << ".h; nothing written." << std::endl;
  } else if (!write_file_in(dir.fd, n + ".cpp", source, still_new(n + ".cpp"))) {
    ::unlinkat(dir.fd, (n + ".h").c_str(), 0);  // the header just made, so that no half pair is left
    log_err << "create_h_cpp: unable to write " << replace_invalid_utf8(f + n) << ".cpp; nothing written."
            << std::endl;
  }
  return true;
}

bool open_file(session& s, vesk::json& request) {
  main_controller& c = s.controller;
  std::string name;
  if (!text_arg(request, "file_name", name)) return true;
  fs::path t = name;
  if (t.empty()) {
    log_err << "open_file: no file name given." << std::endl;
    return true;
  }
  // Which file it names, and whether it may be held, is settled before anything is created.
  fs::path canonical = fs::weakly_canonical(t).lexically_normal();
  std::shared_ptr<managed_file> file;
  for (const auto& held : c.held_files) {
    if (held && held->path == canonical) {
      file = held;
      break;
    }
  }
  if (!file && !may_hold_another(c, canonical)) return true;
  if (t.has_parent_path() && !path_exists(t.parent_path())) fs::create_directories(t.parent_path());
  if (!path_exists(t) && !write_file(t.string(), "")) throw_bt_exception("Unable to open file: " + t.string());
  // Reading a FIFO or a device would block the only thread, or never end.
  if (!fs::is_regular_file(t)) {
    log_err << "open_file: '" << replace_invalid_utf8(t.string()) << "' is not a regular file." << std::endl;
    return true;
  }
  if (!file) {
    canonical = fs::weakly_canonical(t).lexically_normal();
    file = c.prj_dir.contains(canonical) ? c.prj_dir.get_file(canonical) : c.workspace.get_file(canonical);
    if (!file) throw_bt_exception("Unable to open file: " + canonical.string());
    c.held_files.push_back(file);
  }
  s.open_files[file->path.string()] = file;
  s.send_read_file(file);
  return true;
}

bool close_file(session& s, vesk::json& request) {
  std::string name;
  if (text_arg(request, "file_name", name)) s.open_files.erase(name);
  return true;
}

bool add_save_point(session& s, vesk::json& request) {
  std::shared_ptr<managed_file> file = opened(s, request);
  if (!file) return true;
  std::string content;
  if (!text_arg(request, "content", content, true)) return true;
  // The histories' budget never drops a current content: the held contents have their own.
  const size_t now = file->index < file->history.size() ? file->history[file->index].size() : 0;
  const size_t held = held_content_bytes(s.controller);
  const size_t after = held - std::min(now, held) + content.size();
  if (content.size() > now && after > session::max_held_content_bytes) {
    log_err << "add_save_point: '" << replace_invalid_utf8(file->path.string()) << "' was not changed: its "
            << content.size() << " bytes would make the files held open " << after << " bytes, more than the "
            << session::max_held_content_bytes << " they may hold." << std::endl;
    return true;
  }
  save_point_mark mark(s);
  file->add_save_point(std::move(content), true);
  return true;
}

bool undo(session& s, vesk::json& request) {
  std::shared_ptr<managed_file> file = opened(s, request);
  if (!file) return true;
  file->undo();
  return true;
}

bool redo(session& s, vesk::json& request) {
  std::shared_ptr<managed_file> file = opened(s, request);
  if (!file) return true;
  file->redo();
  return true;
}

bool get_data_file(session& s, vesk::json& request) {
  try {
    std::string t;
    if (!text_arg(request, "file_name", t)) return true;
    if (t.empty()) {
      log_err << "Error while requesting data_file: no filename set" << std::endl;
      return true;
    }
    if (t.find("..") != std::string::npos) {
      log_err << "Error while requesting data_file: \"..\" is not allowed in path." << std::endl;
      return true;
    }
    const fs::path name(t);
    // An absolute name would replace the folder when joined to it.
    if (name.has_root_path()) {
      log_err << "Error while requesting data_file: \"" << replace_invalid_utf8(t)
              << "\" is not a name inside the data folder." << std::endl;
      return true;
    }
    const fs::path data = fs::canonical(fs::path(s.controller.state.prj_path) / "data").lexically_normal();
    const fs::path file = data / name;
    // A link inside the folder may still lead out of it.
    if (!lies_inside(data, fs::weakly_canonical(file))) {
      log_err << "Error while requesting data_file: \"" << replace_invalid_utf8(t)
              << "\" leads out of the data folder." << std::endl;
      return true;
    }
    // The file as the editor last changed it; the other pending writes keep their timer.
    s.controller.writes.flush_file(file);
    // Opened first, then checked: what is read is what was checked, links swapped in or not.
    open_fd in{::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (in.fd < 0) throw_bt_exception("Unable to open file: " + file.string());
    if (!lies_inside(data, open_file_path(in.fd))) {
      log_err << "Error while requesting data_file: \"" << replace_invalid_utf8(t)
              << "\" leads out of the data folder." << std::endl;
      return true;
    }
    struct stat st {};
    if (::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      log_err << "error opening file: " << replace_invalid_utf8(file.string()) << " is not a regular file"
              << std::endl;
      return true;
    }
    std::string content;
    size_t size = 0;
    const bounded_read r = read_open_file(in.fd, content, max_data_file_bytes, size);
    if (r == bounded_read::failed) throw_bt_exception("Unable to read file: " + file.string());
    if (r == bounded_read::too_large) {
      log_err << "error opening file: " << replace_invalid_utf8(file.string()) << " is larger than "
              << max_data_file_bytes << " bytes, more than can be sent to the editor" << std::endl;
      return true;
    }
    std::string encoded = base64(content);
    std::string().swap(content);
    // Moved in, not listed: a list copies each value on its way into the object.
    vesk::json reply{{"cmd", "get_data_file"}, {"file_name", t}};
    reply["file"] = vesk::json(std::move(encoded));
    s.send(reply);
  } catch (const std::exception& e) {
    log_err << "error opening file: " << e.what() << std::endl;
  }
  return true;
}

bool save_dump_file(session& s, vesk::json& request) {
  std::string name, content;
  if (!text_arg(request, "file_name", name) || !text_arg(request, "file", content, true)) return true;
  s.controller.writes.flush_file(name);  // a held file's pending write must not land over the dump
  write_file(name, content);
  return true;
}

bool delete_file(session& s, vesk::json& request) {
  std::string name_given;
  if (!text_arg(request, "file_name", name_given)) return true;
  const fs::path f = fs::absolute(name_given).lexically_normal();
  s.controller.writes.flush_file(f);  // a pending write must not bring the file back
  const fs::path d = s.controller.state.prj_path;
  // The file's folder is opened and its real path checked; the name is then removed from
  // that open folder, so the check and the removal concern the same entry.
  std::error_code ec;
  const fs::path real_project = fs::canonical(d, ec);
  fs::path real_parent;
  open_fd dir{ec || !lies_inside(d, f) ? -1 : open_folder(f.parent_path(), real_parent)};
  const std::string name = f.filename().string();
  struct stat st {};
  const bool inside = dir.fd >= 0 && (real_parent == real_project || lies_inside(real_project, real_parent)) &&
                      !name.empty() && ::fstatat(dir.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                      !S_ISDIR(st.st_mode);
  if (!inside) {
    log_err << "File not in project dir..." << std::endl;
    return true;
  }
  if (::unlinkat(dir.fd, name.c_str(), 0) != 0)
    log_err << "delete: unable to remove " << replace_invalid_utf8(f.string()) << ": " << std::strerror(errno)
            << std::endl;
  s.controller.poll_files();
  return true;
}

bool clean_build_dir(session& s, vesk::json&) {
  main_controller& c = s.controller;
  const std::string runtime = c.prj_cfg.runtime;
  const bool plain = is_plain_runtime_name(runtime) && is_identifier(c.prj_cfg.name);
  const fs::path b = fs::path(c.state.prj_path) / ("build-" + c.prj_cfg.name + "-" + runtime);
  // The folder goes once the build that writes into it is gone.
  c.kill_build([&c, plain, runtime, b](bool gone) {
    if (!plain) {
      log_err << "clean_build_dir: the runtime name '" << replace_invalid_utf8(runtime)
              << "' is not a plain name; nothing removed." << std::endl;
      return;
    }
    if (!gone) {
      log_err << "clean_build_dir: the build did not end; " << b.string() << " was not removed." << std::endl;
      return;
    }
    // Out of the way at once, so the build that follows finds no folder; emptied in slices.
    const std::error_code ec = c.removals.remove(b);
    if (ec) log_err << "clean_build_dir: unable to remove " << b.string() << ": " << ec.message() << std::endl;
  });
  return true;
}

}  // namespace vesk::session_commands
